// Fuzz target for the script reader and the control fields of its marker
// lines: the input is a script, run as job 1 against an in-memory SQLite
// database and a small report document holding two tables and a
// DOCVARIABLE field, as a report run does.
#include <unistd.h>
#include <zip.h>

#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "base/error.h"
#include "base/pubdef.h"
#include "sql/report_session.h"
#include "sql/script_reader.h"

namespace {

const char kContentTypes[] =
    R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?>)"
    R"(<Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types">)"
    R"(<Default Extension="rels" ContentType="application/vnd.openxmlformats-package.relationships+xml"/>)"
    R"(<Default Extension="xml" ContentType="application/xml"/>)"
    R"(<Override PartName="/word/document.xml" ContentType="application/vnd.openxmlformats-officedocument.wordprocessingml.document.main+xml"/>)"
    R"(</Types>)";
const char kRels[] =
    R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?>)"
    R"(<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">)"
    R"(<Relationship Id="rId1" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/officeDocument" Target="word/document.xml"/>)"
    R"(</Relationships>)";
const char kCell[] = R"(<w:tc><w:p><w:r><w:t>#,##0.00</w:t></w:r></w:p></w:tc>)";
const std::string kRow = std::string("<w:tr>") + kCell + kCell + "</w:tr>";
const std::string kTable = "<w:tbl><w:tblGrid><w:gridCol/><w:gridCol/></w:tblGrid>" + kRow + kRow +
                           "</w:tbl><w:p/>";
const std::string kDocument =
    std::string(R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?>)") +
    R"(<w:document xmlns:w="http://schemas.openxmlformats.org/wordprocessingml/2006/main"><w:body>)" +
    kTable + kTable +
    R"(<w:p><w:fldSimple w:instr=" DOCVARIABLE Total \* Upper "><w:r><w:t>x</w:t></w:r></w:fldSimple></w:p>)" +
    R"(</w:body></w:document>)";

std::filesystem::path Scratch(const std::string& name) {
  std::filesystem::path folder =
      std::filesystem::exists("/dev/shm") ? "/dev/shm" : std::filesystem::temp_directory_path();
  return folder / ("vantrelle_script_fuzz_" + std::to_string(::getpid()) + "_" + name);
}

void AddEntry(zip_t* archive, const char* name, const std::string& text) {
  char* copy = static_cast<char*>(std::malloc(text.size()));
  std::copy(text.begin(), text.end(), copy);
  zip_source_t* source = zip_source_buffer(archive, copy, text.size(), 1);
  if (!source || zip_file_add(archive, name, source, ZIP_FL_OVERWRITE) < 0) std::abort();
}

const std::filesystem::path& Template() {
  static const std::filesystem::path path = [] {
    std::filesystem::path file = Scratch("template.docx");
    int error = 0;
    zip_t* archive = zip_open(file.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &error);
    if (!archive) std::abort();
    AddEntry(archive, "[Content_Types].xml", kContentTypes);
    AddEntry(archive, "_rels/.rels", kRels);
    AddEntry(archive, "word/document.xml", kDocument);
    if (zip_close(archive) != 0) std::abort();
    return file;
  }();
  return path;
}

std::tm FixedTime() {
  std::tm now{};
  now.tm_year = 126;
  now.tm_mon = 11;
  now.tm_mday = 9;
  return now;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::filesystem::path script = Scratch("script.sql");
  const std::filesystem::path report = Scratch("report.docx");
  const std::filesystem::path log = Scratch("run.log");
  {
    std::ofstream out(script, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    if (!out) std::abort();
  }
  // libFuzzer's timer signal may interrupt the copy; a copy that keeps
  // failing is the harness's fault, not the input's.
  std::error_code copied;
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::filesystem::copy_file(Template(), report, std::filesystem::copy_options::overwrite_existing,
                               copied);
    if (!copied) break;
  }
  if (copied) std::abort();

  vantrelle::PubDef pub;
  pub.interactive = false;
  pub.clock = FixedTime;
  pub.parameter_count = 1;
  pub.parameters[1].name = ":P1";
  pub.parameters[1].value = "'x'";
  pub.log_stream = pub.file_system.CreateTextFile(log.string());
  {
    vantrelle::ReportSession session(pub);
    session.db.connection = std::make_unique<vantrelle::Connection>();
    session.db.recordset = std::make_unique<vantrelle::Recordset>();
    session.db.connection->SetCommandTimeout(2);
    session.db.connection->Open("sqlite::memory:", "", "");
    session.db.recordset->SetActiveConnection(session.db.connection.get());
    session.db.connection->Execute(
        "CREATE TABLE t(a, b); INSERT INTO t VALUES (1, 'one'), (2.5, '2026-12-09'), (NULL, 'x')");
    session.word_app = std::make_unique<vantrelle::Application>();
    session.report_doc = &session.word_app->Open(report);
    session.report_doc->Activate();
    vantrelle::ReadSqlScript(session, 1, script.string());
    if (pub.sql_stm_count < 0 || pub.error_count < 0) std::abort();
    session.word_app->Quit();
  }
  pub.log_stream.reset();
  return 0;
}
