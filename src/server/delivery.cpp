#include "server/delivery.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "base/output_file.h"
#include "base/run_log.h"
#include "server/mailer.h"
#include "server/scheduler.h"

namespace vantrelle::server {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;

constexpr int kErrorLines = 6;  // lines of a failed run's log a notice quotes

// The "Error:" and "Error Info:" lines of a run's log, the first few.
std::string FirstErrors(const std::string& log) {
  std::ifstream in(log, std::ios::binary);
  std::string line, errors;
  int count = 0;
  while (count < kErrorLines && std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const std::string_view message = LogMessage(line);
    if (message.starts_with("Error:") || message.starts_with("Error Info:")) {
      errors += "  " + std::string(message) + "\n";
      ++count;
    }
  }
  return errors;
}

std::string SizeText(int64_t bytes) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f MB", static_cast<double>(bytes) / (1024.0 * 1024.0));
  return text;
}

std::string MediaType(const std::string& path) {
  const std::string extension = fs::path(path).extension().string();
  if (extension == ".pdf") return "application/pdf";
  if (extension == ".docm") return "application/vnd.ms-word.document.macroEnabled.12";
  if (extension == ".doc") return "application/msword";
  return "application/vnd.openxmlformats-officedocument.wordprocessingml.document";
}

std::string ParametersText(const json& parameters) {
  std::string text;
  for (const auto& [name, value] : parameters.items())
    text += "  " + name + " = " + (value.is_string() ? value.get<std::string>() : value.dump()) +
            "\n";
  return text.empty() ? "  (none)\n" : text;
}

std::string ValuesText(const json& parameters) {
  std::string text;
  for (const auto& [name, value] : parameters.items()) {
    if (!value.is_string() || value.get<std::string>().empty()) continue;
    text += (text.empty() ? "" : ", ") + value.get<std::string>();
  }
  return text;
}

FolderResult Failed(bool final, const std::string& message) { return {false, final, message}; }

// Makes the folders of \a folder below \a base that are missing, one at a
// time, each through the opened folder above it.
FolderResult MakeFolders(const std::string& base, const std::string& folder) {
  std::string current = base;
  std::stringstream parts(folder.substr(base.size() + 1));
  for (std::string part; std::getline(parts, part, '/');) {
    if (part.empty()) continue;
    if (part == "." || part == "..")
      return Failed(true, "the folder \"" + folder + "\" climbs with \"" + part + "\"");
    OutputFolder above = OutputFolder::Open(current + "/" + part);
    if (!above.Refusal().empty()) return Failed(true, above.Refusal());
    if (!above.IsOpen())
      return Failed(false, "cannot open the folder \"" + current + "\": " +
                               std::strerror(above.OpenError()));
    if (::mkdirat(above.Fd(), part.c_str(), 0777) != 0 && errno != EEXIST)
      return Failed(false, "cannot make the folder \"" + current + "/" + part + "\": " +
                               std::strerror(errno));
    current += "/" + part;
  }
  return {true, false, ""};
}

}  // namespace

std::string FixedPart(const std::string& folder) {
  const size_t mark = folder.find_first_of("&{");
  if (mark == std::string::npos) return folder;
  const size_t slash = folder.rfind('/', mark);
  return slash == std::string::npos ? "" : folder.substr(0, slash);
}

FolderResult CopyIntoFolder(const std::string& source, const std::string& folder,
                            const std::string& name, const std::string& made_below) {
  if (!made_below.empty() && folder.size() > made_below.size() + 1 &&
      folder.compare(0, made_below.size() + 1, made_below + "/") == 0) {
    const FolderResult made = MakeFolders(made_below, folder);
    if (!made.done) return made;
  }
  OutputFolder out = OutputFolder::Open(folder + "/" + name);
  if (!out.Refusal().empty()) return Failed(true, out.Refusal());
  if (!out.IsOpen())
    return Failed(false, "cannot open the folder \"" + folder + "\": " +
                             std::strerror(out.OpenError()));
  const std::string sticky = StickyRefusal(out, name);
  if (!sticky.empty()) return Failed(true, sticky);
  const int in = ::open(source.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  if (in < 0) return Failed(true, "the run's file " + name + " is gone");
  std::string temp;
  const int fd = CreateHiddenIn(out.Fd(), name, temp);
  if (fd < 0) {
    const int error = errno;
    ::close(in);
    return Failed(false, "cannot write in \"" + folder + "\": " + std::strerror(error));
  }
  char buffer[1 << 16];
  ssize_t got = 0;
  int error = 0;
  while (error == 0 && (got = ::read(in, buffer, sizeof buffer)) > 0) {
    for (ssize_t done = 0; done < got;) {
      const ssize_t wrote = ::write(fd, buffer + done, static_cast<size_t>(got - done));
      if (wrote < 0) {
        if (errno == EINTR) continue;
        error = errno;
        break;
      }
      done += wrote;
    }
  }
  if (got < 0 && error == 0) error = errno;
  if (error == 0 && (::fchmod(fd, NewFileMode()) != 0 || ::fsync(fd) != 0)) error = errno;
  if (::close(fd) != 0 && error == 0) error = errno;
  ::close(in);
  if (error == 0 && ::renameat(out.Fd(), temp.c_str(), out.Fd(), name.c_str()) != 0) error = errno;
  if (error != 0) {
    ::unlinkat(out.Fd(), temp.c_str(), 0);
    // A folder standing at the name will not go away by waiting.
    return Failed(error == EISDIR, "cannot write \"" + folder + "/" + name + "\": " +
                                       std::strerror(error));
  }
  const int listing = out.OpenForReading();
  if (listing >= 0) {
    ::fsync(listing);
    ::close(listing);
  }
  return {true, false, ""};
}

Postman::Postman(const ServerConfig& config, ConsoleStore& store, Catalogues& catalogues,
                 RunQueue& runs, const ScheduleClock& clock)
    : config_(config),
      store_(store),
      catalogues_(catalogues),
      runs_(runs),
      clock_(clock),
      folders_(clock),
      mail_(clock) {}

Postman::~Postman() { Shutdown(); }

void Postman::Start() {
  folders_.Start([this] { return Round(true); });
  mail_.Start([this] { return Round(false); });
}

void Postman::Shutdown() {
  folders_.Stop();
  mail_.Stop();
}

void Postman::Wake() {
  folders_.Wake();
  mail_.Wake();
}

std::string Postman::RunLink(int64_t run) const {
  return config_.public_url + "/#/runs/" + std::to_string(run);
}

void Postman::Deliver(const RunRecord& run, const ScheduleRecord& schedule) {
  const json& definition = schedule.definition;
  const TimeZone zone = ZoneOf(definition);
  const int64_t now = clock_.NowMillis();
  for (const json& target : definition.value("deliveries", json::array())) {
    DeliveryRecord delivery;
    delivery.run = run.id;
    delivery.attach = target.value("attach", json::array({"report"}));
    delivery.state = "pending";
    delivery.next_try = now;
    if (target.contains("mail")) {
      delivery.kind = "mail";
      for (const json& address : target["mail"]) {
        delivery.target = address.get<std::string>();
        store_.AddDelivery(delivery);
      }
    } else if (target.contains("folder")) {
      delivery.kind = "folder";
      delivery.target = ExpandScheduleText(target["folder"].get<std::string>(), run.fire_time, zone);
      store_.AddDelivery(delivery);
    }
  }
  Wake();
}

void Postman::Notice(const RunRecord& run, const ScheduleRecord& schedule,
                     const std::string& what) {
  DeliveryRecord notice;
  notice.run = run.id;
  notice.kind = "notice";
  notice.attach = {{"about", what}};
  notice.state = "pending";
  notice.next_try = clock_.NowMillis();
  const std::string owner = schedule.definition.value("owner", "");
  std::optional<User> user = store_.FindUser(owner);
  notice.target = user ? user->mail : "";
  if (notice.target.empty()) {
    notice.state = "failed";
    notice.message = "the owner " + owner + " has no mail address (vantrelle-server user set " +
                     owner + " --mail ADDRESS)";
  }
  store_.AddDelivery(notice);
  Wake();
}

int64_t Postman::Round(bool folders) {
  const TimerThread& thread = folders ? folders_ : mail_;
  for (DeliveryRecord& delivery : store_.DueDeliveries(clock_.NowMillis(), folders)) {
    if (thread.Stopping()) break;
    Try(delivery);
  }
  return store_.NextDeliveryDue(folders).value_or(INT64_MAX);
}

void Postman::Try(DeliveryRecord& delivery) {
  std::optional<RunRecord> run = store_.Run(delivery.run);
  if (!run) {
    delivery.state = "failed";
    delivery.message = "the run is gone";
    store_.UpdateDelivery(delivery);
    return;
  }
  std::optional<ScheduleRecord> schedule =
      run->schedule ? store_.Schedule(*run->schedule) : std::nullopt;
  std::optional<Report> report = catalogues_.Find(run->report);
  const std::string title = report ? report->title : run->report;
  const std::string schedule_name = schedule ? schedule->name : "(deleted)";
  const TimeZone zone = schedule ? ZoneOf(schedule->definition) : TimeZone::System();
  const std::string fired = Rfc3339In(run->fire_time, zone);
  ++delivery.tries;

  bool done = false, final = false;
  std::string message;
  if (delivery.kind == "mail" || delivery.kind == "notice") {
    MailMessage mail;
    mail.to = delivery.target;
    if (delivery.kind == "notice") {
      mail.subject = "Failed: " + title + " (schedule " + schedule_name + ")";
      mail.text = "The scheduled report \"" + title + "\" (schedule \"" + schedule_name +
                  "\", fire time " + fired + ") did not reach its readers:\n  " +
                  delivery.attach.value("about", "it failed") + "\n\nParameters:\n" +
                  ParametersText(run->parameters);
      const std::string errors = FirstErrors(runs_.RunFile(run->id, "log"));
      if (!errors.empty()) mail.text += "\nThe first errors of its log:\n" + errors;
      mail.text += "\nThe run in the console: " + RunLink(run->id) + "\n";
    } else {
      const std::string values = ValuesText(run->parameters);
      mail.subject = title + (values.empty() ? "" : " (" + values + ")");
      mail.text = "The report \"" + title + "\", run for schedule \"" + schedule_name + "\" at " +
                  fired + ".\n\nParameters:\n" + ParametersText(run->parameters) + "\n";
      for (const json& kind : delivery.attach) {
        if (!kind.is_string()) continue;
        const std::string path = runs_.RunFile(run->id, kind.get<std::string>());
        if (path.empty()) {
          mail.text += "The run wrote no " + kind.get<std::string>() + " file.\n";
          continue;
        }
        std::error_code error;
        const auto size = static_cast<int64_t>(fs::file_size(path, error));
        const std::string name = fs::path(path).filename().string();
        if (!error && size > config_.mail.attach_limit) {
          mail.text += name + " (" + SizeText(size) + ") is larger than mail takes here; fetch it at " +
                       config_.public_url + "/api/v1/runs/" + std::to_string(run->id) + "/files/" +
                       kind.get<std::string>() + "\n";
          continue;
        }
        mail.attachments.push_back({path, name, MediaType(path)});
        mail.text += "Attached: " + name + "\n";
      }
      mail.text += "\nThe run in the console: " + RunLink(run->id) + "\n";
    }
    if (config_.mail.server.empty()) {
      final = true;
      message = "no mail server is configured ([Mail] Server=)";
    } else {
      const MailResult result = SendMail(config_.mail, mail);
      done = result.sent;
      final = result.final;
      message = result.message;
    }
  } else if (delivery.kind == "folder") {
    // The dated folders below the schedule's fixed folder are made.
    std::string made_below;
    if (schedule)
      for (const json& target : schedule->definition.value("deliveries", json::array()))
        if (target.contains("folder") &&
            ExpandScheduleText(target["folder"], run->fire_time, zone) == delivery.target)
          made_below = FixedPart(target["folder"]);
    if (made_below == delivery.target) made_below.clear();
    done = true;
    std::string copied;
    for (const json& kind : delivery.attach) {
      if (!kind.is_string()) continue;
      const std::string path = runs_.RunFile(run->id, kind.get<std::string>());
      if (path.empty()) continue;
      const std::string name = fs::path(path).filename().string();
      const FolderResult result = CopyIntoFolder(path, delivery.target, name, made_below);
      if (!result.done) {
        done = false;
        final = result.final;
        message = result.message;
        break;
      }
      copied += (copied.empty() ? "copied " : ", ") + name;
    }
    if (done) message = copied.empty() ? "the run wrote none of the files asked for" : copied;
  }
  if (done) {
    delivery.state = "sent";
  } else if (final || delivery.tries >= config_.mail.tries) {
    delivery.state = "failed";
  } else {
    delivery.state = "pending";
    const int64_t wait = int64_t{config_.mail.retry_seconds} * 1000 << (delivery.tries - 1);
    delivery.next_try = clock_.NowMillis() + wait;
  }
  delivery.message = message;
  store_.UpdateDelivery(delivery);
  if (delivery.state == "failed" && delivery.kind != "notice" && schedule)
    Notice(*run, *schedule, "the delivery to " + delivery.target + " failed after " +
                                std::to_string(delivery.tries) +
                                (delivery.tries == 1 ? " try: " : " tries: ") + message);
}

}  // namespace vantrelle::server
