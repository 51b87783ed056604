// Whole batch report, process start to exit: one growing-table statement
// fills 32,767 records x 8 fields (integers, decimals, dates, text with
// NULLs) from embedded SQLite with number, percent and date patterns, then
// the report is saved. Prints the wall time and the peak memory of the run.
//
// Usage: bench_run_report [RECORDS]   (default 32767)
#include <sqlite3.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>

namespace {

bool Exec(sqlite3* db, const char* sql) {
  char* message = nullptr;
  if (sqlite3_exec(db, sql, nullptr, nullptr, &message) == SQLITE_OK) return true;
  std::fprintf(stderr, "sqlite: %s\n", message ? message : "?");
  sqlite3_free(message);
  return false;
}

bool MakeDatabase(const std::string& path, int records) {
  sqlite3* db = nullptr;
  if (sqlite3_open(path.c_str(), &db) != SQLITE_OK) return false;
  bool ok = Exec(db,
                 "CREATE TABLE t (id INTEGER, amount NUMERIC, share REAL, day TEXT, note TEXT,"
                 " exact NUMERIC, day2 TEXT, code TEXT)") &&
            Exec(db, "BEGIN");
  sqlite3_stmt* insert = nullptr;
  ok = ok && sqlite3_prepare_v2(db, "INSERT INTO t VALUES (?,?,?,?,?,?,?,?)", -1, &insert,
                                nullptr) == SQLITE_OK;
  for (int i = 1; ok && i <= records; ++i) {
    char day[16], exact[32];
    std::snprintf(day, sizeof day, "20%02d-%02d-%02d", i % 30, i % 12 + 1, i % 28 + 1);
    std::snprintf(exact, sizeof exact, "%d.%04d", i * 7, i % 10000);
    sqlite3_bind_int(insert, 1, i);
    sqlite3_bind_double(insert, 2, i * 12.345);
    sqlite3_bind_double(insert, 3, (i % 1000) / 1000.0);
    sqlite3_bind_text(insert, 4, day, -1, SQLITE_TRANSIENT);
    if (i % 5 == 0)
      sqlite3_bind_null(insert, 5);
    else
      sqlite3_bind_text(insert, 5, ("note number " + std::to_string(i)).c_str(), -1,
                        SQLITE_TRANSIENT);
    sqlite3_bind_text(insert, 6, exact, -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(insert, 7, day, -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(insert, 8, ("C" + std::to_string(i % 97)).c_str(), -1, SQLITE_TRANSIENT);
    ok = sqlite3_step(insert) == SQLITE_DONE;
    sqlite3_reset(insert);
  }
  sqlite3_finalize(insert);
  ok = ok && Exec(db, "COMMIT");
  sqlite3_close(db);
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  const int records = argc > 1 ? std::atoi(argv[1]) : 32767;
  namespace fs = std::filesystem;
  fs::path dir = fs::temp_directory_path() / ("vantrelle_bench_run_" + std::to_string(getpid()));
  fs::create_directories(dir);
  std::string make = std::string("/usr/bin/python3 ") + VANTRELLE_SOURCE_DIR +
                     "/tests/e2e/make_templates.py " + dir.string();
  if (std::system(make.c_str()) != 0 || !MakeDatabase((dir / "data.db").string(), records)) {
    std::fprintf(stderr, "could not prepare the benchmark\n");
    return 1;
  }
  std::ofstream(dir / "grow.sql") << "@Grow=2;1;1;1\n"
                                     "SELECT id, amount, share, day, note, exact, day2, code\n"
                                     "FROM t ORDER BY id\n";
  std::ofstream(dir / "report.ini")
      << "[FILE]\nLogFileName=" << (dir / "run.log").string()
      << "\nReportTemplateFileName=" << (dir / "grow8.docx").string()
      << "\nReportFileName=" << (dir / "report.docx").string() << "\n[ODBC]\nDSN=sqlite:"
      << (dir / "data.db").string() << "\n[SQLFILE]\nF_MAXNUM=1\nF1=" << (dir / "grow.sql").string()
      << "\n";

  auto start = std::chrono::steady_clock::now();
  pid_t child = fork();
  if (child == 0) {
    std::string ini = (dir / "report.ini").string();
    execl(VANTRELLE_EXE, VANTRELLE_EXE, "-C", "-F", ini.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  int status = 0;
  struct rusage usage {};
  wait4(child, &status, 0, &usage);
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  int exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;

  std::printf("records: %d x 8 fields\n", records);
  std::printf("exit status: %d\n", exit_code);
  std::printf("wall time: %.3f s (target <= 0.45 s on a quiet 2-core machine)\n", seconds);
  std::printf("cpu time: %.3f s user, %.3f s system\n",
              usage.ru_utime.tv_sec + usage.ru_utime.tv_usec / 1e6,
              usage.ru_stime.tv_sec + usage.ru_stime.tv_usec / 1e6);
  std::printf("peak memory: %.1f MB (target <= 120 MB)\n", usage.ru_maxrss / 1024.0);
  std::printf("report size: %.1f MB\n",
              fs::exists(dir / "report.docx") ? fs::file_size(dir / "report.docx") / 1e6 : 0.0);
  if (exit_code != 0) {
    // The log says why the run failed.
    std::ifstream log(dir / "run.log");
    std::fflush(stdout);
    std::cout << log.rdbuf();
  }
  fs::remove_all(dir);
  return exit_code == 0 ? 0 : 1;
}
