#include "server/run_queue.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "base/run_log.h"
#include "base/run_stop.h"

namespace vantrelle::server {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// The kind of a file a run wrote, by its ending; empty for others.
std::string FileKind(const fs::path& path) {
  const std::string extension = path.extension().string();
  if (extension == ".pdf") return "pdf";
  if (extension == ".log") return "log";
  if (extension == ".docx" || extension == ".docm" || extension == ".doc") return "report";
  return "";
}

// How many errors a run logged: its "Error:" lines.
int CountErrors(const std::string& log) {
  std::ifstream in(log, std::ios::binary);
  std::string line;
  int errors = 0;
  while (std::getline(in, line))
    if (LogMessage(line).starts_with("Error:")) ++errors;
  return errors;
}

}  // namespace

RunQueue::RunQueue(const ServerConfig& config, ConsoleStore& store, std::string program)
    : config_(config), store_(store), program_(std::move(program)) {}

RunQueue::~RunQueue() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    shutting_down_ = true;
  }
  wake_.notify_all();
  if (supervisor_.joinable()) supervisor_.join();
}

std::string RunQueue::RunFolder(int64_t id) const {
  return config_.state + "/runs/" + std::to_string(id);
}

std::string RunQueue::RunFile(int64_t id, const std::string& kind) const {
  std::error_code error;
  for (const auto& entry : fs::directory_iterator(RunFolder(id), error)) {
    if (entry.is_symlink(error) || !entry.is_regular_file(error)) continue;
    if (FileKind(entry.path()) == kind) return entry.path().string();
  }
  return "";
}

void RunQueue::Start() {
  for (int64_t id : store_.EndUnfinished("interrupted"))
    if (ended_) ended_(id, true);
  ::mkdir((config_.state + "/runs").c_str(), 0750);
  supervisor_ = std::thread([this] { Supervise(); });
}

int64_t RunQueue::Enqueue(const Report& report, const std::vector<std::string>& values,
                          const std::string& user, std::optional<RunOrigin> origin) {
  RunRecord record;
  if (origin) {
    record.schedule = origin->schedule;
    record.attempt = origin->attempt;
    record.fire_time = origin->fire_time;
  }
  record.report = report.id;
  record.catalogue = report.catalogue;
  for (size_t k = 0; k < values.size() && k < report.parameters.size(); ++k)
    record.parameters[report.parameters[k].name] = values[k];
  record.user = user;
  record.state = "queued";
  record.queued_at = NowMillis();
  const int64_t id = store_.AddRun(record);
  {
    std::lock_guard<std::mutex> lock(mutex_);
    queue_.push_back({id, report.ini, report.id, values});
  }
  wake_.notify_all();
  return id;
}

bool RunQueue::Stop(int64_t id) {
  std::lock_guard<std::mutex> lock(mutex_);
  for (auto it = queue_.begin(); it != queue_.end(); ++it) {
    if (it->id != id) continue;
    queue_.erase(it);
    store_.SetEnded(id, "stopped", std::nullopt, std::nullopt, {});
    return true;
  }
  for (auto& [pid, child] : children_) {
    if (child.id != id) continue;
    if (!child.stop_requested) {
      child.stop_requested = true;
      child.kill_at = Clock::now() + std::chrono::seconds(config_.stop_grace_seconds);
      ::kill(pid, SIGTERM);
    }
    return true;
  }
  return false;
}

int RunQueue::Queued() {
  std::lock_guard<std::mutex> lock(mutex_);
  return static_cast<int>(queue_.size());
}

int RunQueue::Running() {
  std::lock_guard<std::mutex> lock(mutex_);
  return static_cast<int>(children_.size());
}

void RunQueue::StartChild(const Pending& run) {
  const std::string folder = RunFolder(run.id);
  ::mkdir(folder.c_str(), 0750);
  std::vector<std::string> words = {program_, "-C", "-F", run.ini};
  words.insert(words.end(), run.values.begin(), run.values.end());
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
  ChildEnvironment environment("VANTRELLE_OUTPUT_FOLDER", folder);
  const std::string report_folder = fs::path(run.ini).parent_path().string();
  const std::string output = folder + "/.output";
  const int out = ::open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0640);
  const int null = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
  const pid_t parent = ::getpid();
  const pid_t pid = ::fork();
  if (pid == 0) {
    // A server that dies, however, stops its runs: cleanly, by SIGTERM.
    PrepareChild(parent, SIGTERM, null, out);
    if (::chdir(report_folder.c_str()) != 0) ::_exit(127);
    ::execve(argv[0], argv.data(), environment.Pointers());
    ::_exit(127);
  }
  if (out >= 0) ::close(out);
  if (null >= 0) ::close(null);
  if (pid < 0) {
    store_.SetEnded(run.id, "failed", std::nullopt, std::nullopt, {});
    if (ended_) ended_(run.id, false);
    return;
  }
  children_[pid] = Child{run.id, run.report};
  store_.SetRunning(run.id, NowMillis());
}

void RunQueue::Finish(pid_t pid, int status) {
  Child child;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    auto found = children_.find(pid);
    if (found == children_.end()) return;
    child = found->second;
    children_.erase(found);
  }
  std::optional<int> exit_status;
  if (WIFEXITED(status)) exit_status = WEXITSTATUS(status);
  std::string state = child.stop_requested ? "stopped"
                      : exit_status == 0   ? "succeeded"
                                           : "failed";
  std::vector<std::string> files;
  std::optional<int> errors;
  for (const char* kind : {"report", "pdf", "log"}) {
    const std::string file = RunFile(child.id, kind);
    if (file.empty()) continue;
    files.push_back(kind);
    if (std::string(kind) == "log") errors = CountErrors(file);
  }
  store_.SetEnded(child.id, state, exit_status, errors, files);
  if (ended_) ended_(child.id, child.by_server);
  Prune(child.report);
  wake_.notify_all();
}

void RunQueue::Prune(const std::string& report) {
  for (int64_t id : store_.RunsBeyond(report, config_.keep_runs)) {
    std::error_code ignored;
    fs::remove_all(RunFolder(id), ignored);
    store_.DeleteRun(id);
  }
}

void RunQueue::Supervise() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    while (!shutting_down_ && !queue_.empty() &&
           static_cast<int>(children_.size()) < config_.max_runs) {
      Pending run = queue_.front();
      queue_.pop_front();
      StartChild(run);
    }
    const auto now = Clock::now();
    for (auto& [pid, child] : children_)
      if (child.stop_requested && now >= child.kill_at) ::kill(pid, SIGKILL);
    lock.unlock();
    int status = 0;
    pid_t pid;
    while ((pid = ::waitpid(-1, &status, WNOHANG)) > 0) Finish(pid, status);
    lock.lock();
    if (shutting_down_ && children_.empty()) return;
    wake_.wait_for(lock, std::chrono::milliseconds(10));
  }
}

void RunQueue::Shutdown() {
  std::vector<int64_t> never_started;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const Pending& run : queue_) {
      store_.SetEnded(run.id, "stopped", std::nullopt, std::nullopt, {});
      never_started.push_back(run.id);
    }
    queue_.clear();
    const auto kill_at = Clock::now() + std::chrono::seconds(config_.stop_grace_seconds);
    for (auto& [pid, child] : children_) {
      if (child.stop_requested) continue;
      child.stop_requested = true;
      child.by_server = true;
      child.kill_at = kill_at;
      ::kill(pid, SIGTERM);
    }
    shutting_down_ = true;
  }
  if (ended_)
    for (int64_t id : never_started) ended_(id, true);
  wake_.notify_all();
  if (supervisor_.joinable()) supervisor_.join();
}

}  // namespace vantrelle::server
