#!/usr/bin/python3
"""End-to-end report runs through the vantrelle executable in batch mode.

Each case writes a configuration and scripts into a scratch folder, runs
`vantrelle -C -F report.ini`, compares the run log line by line (time stamps
removed) and reads the report back with python-docx, an independent reader.
The cases run on the embedded SQLite back end, and on PostgreSQL through
ODBC when the test script has started a server (VANTRELLE_PG_CONNSTR).
"""
import hashlib
import html
import os
import re
import sqlite3
import stat
import subprocess
import time
import unittest
import zipfile

import docx

from report_folder import EXE, STAMP, ReportFolderCase

OPENING = ["Vantrelle 1.4.0", "Copyright (C) 2026 The Vantrelle developers",
           "Open log file successfully."]


class Backend:
    """Where a case's data lives: how to load it and how to name it."""

    def __init__(self, name):
        self.name = name

    def dsn(self, folder):
        if self.name == "sqlite":
            return "sqlite:" + os.path.join(folder, "data.db")
        return os.environ["VANTRELLE_PG_CONNSTR"]

    def user(self):
        return "" if self.name == "sqlite" else os.environ.get("VANTRELLE_PG_USER", "")

    def password(self):
        return "" if self.name == "sqlite" else os.environ.get("VANTRELLE_PG_PASSWORD", "")

    def load(self, folder, statements):
        if self.name == "sqlite":
            db = sqlite3.connect(os.path.join(folder, "data.db"))
            for statement in statements:
                db.execute(statement)
            db.commit()
            db.close()
            return
        script = "".join(s + ";\n" for s in statements)
        env = dict(os.environ, PGPASSWORD=os.environ["VANTRELLE_PG_PASSWORD"])
        keys = dict(part.split("=", 1) for part in os.environ["VANTRELLE_PG_CONNSTR"].split(";")
                    if "=" in part)
        keys = {k.strip().lower(): v.strip() for k, v in keys.items()}
        subprocess.run(["psql", "-q", "-v", "ON_ERROR_STOP=1",
                        "-h", keys.get("server", "127.0.0.1"), "-p", keys.get("port", "5432"),
                        "-U", os.environ["VANTRELLE_PG_USER"], keys.get("database", "postgres")],
                       input=script, text=True, check=True, env=env, capture_output=True)


BACKENDS = [Backend("sqlite")]
if os.environ.get("VANTRELLE_PG_CONNSTR"):
    BACKENDS.append(Backend("postgresql"))

# Sample data both back ends load: the names are unique per case run.
SALES = [
    "DROP TABLE IF EXISTS sales",
    "CREATE TABLE sales (id INTEGER, amount NUMERIC(18,4), day DATE, note VARCHAR(100))",
    "INSERT INTO sales VALUES (1, 1234, '2004-05-05', 'first')",
    "INSERT INTO sales VALUES (2, NULL, '2004-06-30', NULL)",
    "INSERT INTO sales VALUES (3, 98765.4321, '2004-07-01', 'third')",
    "INSERT INTO sales VALUES (4, 5, '2004-07-02', 'fourth')",
    "INSERT INTO sales VALUES (5, 6, '2004-07-03', 'fifth')",
]


class ReportCase(ReportFolderCase):
    backend = BACKENDS[0]
    template_name = "fills.docx"

    def setUp(self):
        super().setUp()
        self.backend.load(self.folder, SALES)

    # -- helpers -----------------------------------------------------------
    def run_report(self, scripts, report=None, template=None, params="", args=(), extra=""):
        """Writes the configuration and the scripts, runs the program, and
        returns (exit status, log lines without stamps)."""
        self.configure(scripts, report=report, template=template, dsn=self.backend.dsn(self.folder),
                       odbc="DBUSER=%s\nDBPWD=%s\n" % (self.backend.user(), self.backend.password()),
                       extra=params + extra)
        checks = self.check(self.ini, args)
        status = self.run_program(args=args)
        self.assert_checked_clean(checks, status)
        lines = []
        if os.path.exists(self.log):
            with open(self.log, "rb") as f:
                raw = f.read().decode("utf-8")
            self.assertTrue(raw.endswith("\r\n"), "log lines end with CR LF")
            for line in raw.split("\r\n")[:-1]:
                self.assertRegex(line, STAMP)
                # One line per message, whatever the driver's diagnostics hold.
                self.assertNotRegex(line, "[\r\n\t]")
                lines.append(STAMP.sub("", line))
        return status, lines

    def check(self, ini, args=(), cwd=None):
        """Checks the report as it is about to run, plain and connected; the
        check may change no file of the folder."""
        def files():
            return {os.path.join(root, name): (os.stat(os.path.join(root, name)).st_size,
                                               os.stat(os.path.join(root, name)).st_mtime_ns)
                    for root, _, names in os.walk(self.folder) for name in names}
        before = files()
        checks = [subprocess.run([EXE, "--check", *connect, "-F", ini, *args], cwd=cwd,
                                 capture_output=True, text=True, timeout=300)
                  for connect in ((), ("--connect",))]
        self.assertEqual(before, files(), "the check changed the folder")
        return checks

    def assert_checked_clean(self, checks, run_status):
        """A report that ran without errors must have checked without errors."""
        if run_status != 0:
            return
        for check in checks:
            self.assertEqual(0, check.returncode, check.stdout + check.stderr)
            self.assertNotIn(": error: ", check.stdout)

    def connect_line(self):
        user = self.backend.user()
        line = "Connect to database successfully. DSN=" + self.backend.dsn(self.folder)
        return line + ("\uff0c USER=" + user if user else "")

    def start_lines(self):
        return OPENING + [self.connect_line(),
                          'Create the blank report file "%s".' % self.report,
                          'Open the report file "%s".' % self.report]

    def end_lines(self):
        return ["Update all Word fields successfully.", "Save the report file successfully.",
                "Close the report file.", "Close the log file."]

    def statement_lines(self, job, label, function_line, sql, outcome="Success."):
        prefix = "[SQLFILE%d]  [%s]    " % (job, label)
        return [prefix + function_line, prefix + sql, prefix + outcome]

    def cells(self, table_index):
        document = docx.Document(self.report)
        table = document.tables[table_index - 1]
        return [[cell.text for cell in row.cells] for row in table.rows]

    def variables(self):
        with zipfile.ZipFile(self.report) as package:
            settings = package.read("word/settings.xml").decode("utf-8")
        return {html.unescape(name): html.unescape(value) for name, value in
                re.findall(r'<w:docVar w:name="([^"]*)" w:val="([^"]*)"', settings)}

    def document_text(self):
        with zipfile.ZipFile(self.report) as package:
            return package.read("word/document.xml").decode("utf-8")

    # -- cases ---------------------------------------------------------------
    def test_fill_in_place_formats_each_cell_with_its_pattern(self):
        status, log = self.run_report([
            "# in place\n@Fill=1;1;2;2\nSELECT amount, day FROM sales\nWHERE id <= 2 ORDER BY id\n"])
        self.assertEqual(0, status, self.stderr)
        self.assertEqual(
            self.start_lines()
            + ['[SQLFILE1]  Open "%s" succesfully.' % os.path.join(self.folder, "s1.sql")]
            + self.statement_lines(1, "Fill", "Function 1, Table 1, Begin row 2, Begin col 2",
                                   "SELECT amount, day FROM sales WHERE id <= 2 ORDER BY id")
            + self.end_lines(), log)
        self.assertEqual([["Name", "Amount", "Date"],
                          ["Label A", "1,234", "2004-05-05"],
                          ["Label B", "", "2004-06-30"]], self.cells(1))
        with zipfile.ZipFile(self.report) as package:
            headers = "".join(package.read(n).decode() for n in package.namelist()
                              if n.startswith("word/header"))
        self.assertIn(">%s<" % time.strftime("%Y-%m-%d"), headers)

    def test_transposed_fill_writes_records_down_columns(self):
        status, log = self.run_report(["@T=1;3;2;2;1\nSELECT id * 10, amount / 1000.0 FROM sales "
                                       "WHERE id IN (1, 3) ORDER BY id\n"])
        self.assertEqual(0, status, "\n".join(log))
        rows = self.cells(3)
        self.assertEqual(["Orders", "10", "30"], rows[1])
        self.assertEqual(["Share", "123.4%", "9876.5%"], rows[2])
        self.assertEqual(["Week", "yyyy-mm-dd", "yyyy-mm-dd"], rows[0])

    def test_growing_fill_copies_the_pattern_row(self):
        status, log = self.run_report(["@G=2;2;2;2\nSELECT amount, day FROM sales "
                                       "WHERE id IN (1, 3, 4) ORDER BY id\n"])
        self.assertEqual(0, status, "\n".join(log))
        self.assertEqual([["Item", "Amount", "Date"],
                          ["Line", "1,234.00", "05/05/2004"],
                          ["Line", "98,765.43", "01/07/2004"],
                          ["Last", "5.00", "02/07/2004"]], self.cells(2))

    def test_growing_fill_by_columns(self):
        status, log = self.run_report(["@W=2;3;1;2;1\nSELECT day, id, id / 10.0 FROM sales "
                                       "ORDER BY id\n"])
        self.assertEqual(0, status, "\n".join(log))
        rows = self.cells(3)
        self.assertEqual(["Week", "2004-05-05", "2004-06-30", "2004-07-01", "2004-07-02",
                          "2004-07-03"], rows[0])
        self.assertEqual(["Orders", "1", "2", "3", "4", "5"], rows[1])
        self.assertEqual(["Share", "10.0%", "20.0%", "30.0%", "40.0%", "50.0%"], rows[2])

    def test_growing_fill_with_fewer_than_three_records_keeps_the_table(self):
        status, log = self.run_report(["@G=2;2;2;2\nSELECT amount, day FROM sales WHERE id = 1\n"])
        self.assertEqual(0, status)
        self.assertEqual([["Item", "Amount", "Date"], ["Line", "1,234.00", "05/05/2004"],
                          ["Last", "#,##0.00", "dd/mm/yyyy"]], self.cells(2))

    def test_growing_table_without_a_last_row_fails_and_keeps_what_was_written(self):
        status, log = self.run_report(["@G=2;5;2;1\nSELECT id, id FROM sales WHERE id <= 3 "
                                       "ORDER BY id\n"])
        self.assertEqual(1, status)
        self.assertIn("[SQLFILE1]  [G]    Failure.", log)
        self.assertIn("Error: Failed to execute function 2.", log)
        self.assertEqual("Error Info: The requested member of the collection does not exist. "
                         "(Cell (4,1) of table 5: the table has 3 rows.)",
                         log[log.index("Error: Failed to execute function 2.") + 1])
        self.assertEqual([["H1", "H2"], ["1", "1.0"], ["2", "2.0"]], self.cells(5))

    def test_document_variables_and_fields(self):
        status, log = self.run_report([
            "@Title=3;Title\nSELECT note, id FROM sales WHERE id >= 3 ORDER BY id\n"
            "@None=3;Other\nSELECT note FROM sales WHERE id > 100\n"
            "@Null=3;Title\nSELECT note FROM sales WHERE id = 2\n"
            "@After=3;Later\nSELECT 'still runs'\n"])
        self.assertEqual(1, status)
        self.assertEqual({"Title": "third", "Later": "still runs"}, self.variables())
        self.assertIn("[SQLFILE1]  [Title]    Function 3, DocVariable field [Title]", log)
        i = log.index("[SQLFILE1]  [None]    Function 3, DocVariable field [Other]")
        self.assertEqual("[SQLFILE1]  [None]    Failure.", log[i + 2])
        i = log.index("[SQLFILE1]  [Null]    Function 3, DocVariable field [Title]")
        self.assertEqual(["Error: Failed to execute function 3.", "Error Info: Invalid use of Null",
                          "[SQLFILE1]  [Null]    Failure."], log[i + 2:i + 5])
        self.assertIn("[SQLFILE1]  [After]    Success.", log)
        self.assertIn(">THIRD<", self.document_text())

    def test_dispatcher_errors_and_unknown_functions(self):
        status, log = self.run_report([
            "@Bad=x;1;1;1\nSELECT 1\n@Nine=9;1;1;1\nSELECT 1\n@Tab=1;abc;1;1\nSELECT 1\n"
            "@Exec=0\nTHIS IS NOT SQL\n@=0\nSELECT 1 # fine\n"])
        self.assertEqual(1, status)
        body = log[len(self.start_lines()) + 1:-len(self.end_lines())]
        self.assertEqual(["Error: Failed to excute function.", "Error Info: Type mismatch",
                          "[SQLFILE1]  [Nine]    Failure.",
                          "[SQLFILE1]  [Tab]    Function 1, Table abc, Begin row 1, Begin col 1",
                          "[SQLFILE1]  [Tab]    SELECT 1",
                          "Error: Failed to excute function.", "Error Info: Type mismatch",
                          "[SQLFILE1]  [Exec]    Function 0",
                          "[SQLFILE1]  [Exec]    THIS IS NOT SQL",
                          "Error: Failed to execute function 0."], body[:10])
        self.assertEqual(["[SQLFILE1]  [Exec]    Failure.", "[SQLFILE1]  []    Function 0",
                          "[SQLFILE1]  []    SELECT 1", "[SQLFILE1]  []    Success."], body[11:])

    def test_script_problems_end_only_that_script(self):
        status, log = self.run_report(["@One=0\nSELECT 1\n@Q1\nSELECT 2\n", "@Two=0\nSELECT 3\n"])
        self.assertEqual(1, status)
        i = log.index("[SQLFILE1]  [One]    Success.")
        self.assertEqual('Error: Failed to read [SQLFILE1] "%s".' % os.path.join(self.folder, "s1.sql"),
                         log[i + 1])
        self.assertIn('"@Q1"', log[i + 2])
        self.assertEqual("[SQLFILE2]  [Two]    Success.", log[i + 6])

    def test_missing_script_is_counted_and_the_next_job_runs(self):
        missing = os.path.join(self.folder, "missing.sql")
        self.run_report(["@One=0\nSELECT 1\n"])
        ini_path = os.path.join(self.folder, "report.ini")
        ini = open(ini_path).read().replace("F_MAXNUM=1", "F_MAXNUM= 3 ")
        ini = ini.replace("[SQLFILE]\n", "[SQLFILE]\nF2=%s\nF3=%s\n" % (missing, ini.split("F1=")[1].split("\n")[0]))
        ini = ini.replace("F1=", "F1=   \nIGNORED=")
        with open(ini_path, "w") as f:
            f.write(ini)
        subprocess.run([EXE, "-C", "-F", ini_path], timeout=300, check=False)
        log = [STAMP.sub("", l) for l in open(self.log, encoding="utf-8", newline="").read().split("\r\n")[:-1]]
        self.assertIn('Error Info: [SQLFILE2] "%s" does not exist.' % missing, log, "\n".join(log) + open(ini_path).read())
        i = log.index('Error Info: [SQLFILE2] "%s" does not exist.' % missing)
        self.assertEqual("Error: The information in the configuration file is incorrect.", log[i - 1])
        self.assertEqual("[SQLFILE3]  [One]    Success.", log[i + 4])

    def test_parameters_from_defaults_and_command_line(self):
        params = ("[PARAMETER]\nName1=&Id\nDefault1=1\nName3=&Var\nDefault3=Default\n")
        script = "@V=3;&Var\nSELECT note FROM sales WHERE id = &Id\n"
        status, log = self.run_report([script], params=params)
        self.assertEqual(0, status)
        self.assertIn("[SQLFILE1]  [V]    Function 3, DocVariable field [&Var]", log)
        self.assertEqual({"&Var": "first"}, self.variables())
        status, log = self.run_report([script], params=params, args=("3",))
        self.assertIn("[SQLFILE1]  [V]    SELECT note FROM sales WHERE id = 3", log)
        self.assertEqual({"&Var": "third"}, self.variables())

    def test_no_rows_touches_no_table_even_a_missing_one(self):
        status, log = self.run_report(["@N=1;99;0;0\nSELECT id FROM sales WHERE id < 0\n"
                                       "@M=1;99;1;1\nSELECT id FROM sales\n"])
        self.assertEqual(1, status)
        self.assertIn("[SQLFILE1]  [N]    Success.", log)
        i = log.index("Error: Failed to execute function 1.")
        self.assertEqual("Error Info: The requested member of the collection does not exist. "
                         "(Table 99: the report has 5 tables.)", log[i + 1])

    def test_template_untouched_and_read_only_report_replaced(self):
        template = os.path.join(self.folder, "template.docx")
        before = hashlib.sha256(open(template, "rb").read()).hexdigest()
        os.chmod(template, 0o444)
        with open(self.report, "w") as f:
            f.write("an old report")
        os.chmod(self.report, 0o444)
        status, log = self.run_report(["@A=1;1;2;2\nSELECT 7, day FROM sales WHERE id = 1\n"])
        self.assertEqual(0, status, "\n".join(log))
        self.assertEqual(before, hashlib.sha256(open(template, "rb").read()).hexdigest())
        self.assertTrue(os.stat(self.report).st_mode & stat.S_IWUSR)
        self.assertEqual("7", self.cells(1)[1][1])

    def test_report_in_a_missing_folder_ends_the_run(self):
        report = os.path.join(self.folder, "no", "report.docx")
        status, log = self.run_report(["@A=0\nSELECT 1\n"], report=report)
        self.assertEqual(1, status)
        self.assertEqual(OPENING + [self.connect_line()], log[:4])
        self.assertEqual('Error: Failed to open the report file "%s".' % report, log[4])
        self.assertTrue(log[5].startswith("Error Info: "))
        self.assertEqual(6, len(log))

    def test_template_that_is_not_a_word_document(self):
        template = os.path.join(self.folder, "plain.docx")
        with open(template, "w") as f:
            f.write("just text")
        status, log = self.run_report(["@A=0\nSELECT 1\n"], template=template)
        self.assertEqual(1, status)
        self.assertEqual('Create the blank report file "%s".' % self.report, log[4])
        self.assertEqual('Error: Failed to open the report file "%s".' % self.report, log[5])
        # The description names the template, the file to mend.
        self.assertTrue(log[6].startswith('Error Info: Cannot open "%s": ' % template), log[6])
        self.assertEqual(7, len(log))

    def test_more_than_32767_records_overflow(self):
        # A growing fill says why in the same line, after the word users know.
        for function, info in ((1, "Overflow"),
                               (2, "Overflow: a table grows to at most 32,767 rows, and the "
                                   "query returned more records.")):
            status, log = self.run_report([
                "@Big=%d;1;2;2\nWITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n "
                "WHERE i < 32768) SELECT i FROM n\n" % function] if self.backend.name == "sqlite"
                else ["@Big=%d;1;2;2\nSELECT generate_series(1, 32768)\n" % function])
            self.assertEqual(1, status)
            i = log.index("Error: Failed to execute function %d." % function)
            self.assertEqual("Error Info: " + info, log[i + 1])
            self.assertEqual("#,##0", self.cells(1)[1][1])

    def test_dotx_template_becomes_a_document(self):
        template = os.path.join(self.folder, "template.dotx")
        with zipfile.ZipFile(os.path.join(self.folder, "template.docx")) as source, \
                zipfile.ZipFile(template, "w", zipfile.ZIP_DEFLATED) as target:
            for item in source.infolist():
                data = source.read(item.filename)
                if item.filename == "[Content_Types].xml":
                    data = data.replace(b"document.main+xml", b"template.main+xml")
                target.writestr(item, data)
        status, log = self.run_report(["@A=1;1;2;2\nSELECT 1, day FROM sales WHERE id = 1\n"],
                                      template=template)
        self.assertEqual(0, status, "\n".join(log))
        with zipfile.ZipFile(self.report) as package:
            types = package.read("[Content_Types].xml").decode()
        self.assertIn("wordprocessingml.document.main+xml", types)
        self.assertNotIn("template.main+xml", types)

    def windows_folder(self, name, windows):
        """A report folder as a Windows user brings it (UTF-16 INI, Windows-1252
        script, CR LF, backslash relative names, a .dotx) or its UTF-8 twin."""
        folder = os.path.join(self.folder, name)
        for sub in ("scripts", "templates", "out"):
            os.makedirs(os.path.join(folder, sub))
        with zipfile.ZipFile(os.path.join(self.folder, "template.docx")) as source, \
                zipfile.ZipFile(os.path.join(folder, "templates", "sales.dotx"), "w") as target:
            for item in source.infolist():
                data = source.read(item.filename)
                if item.filename == "[Content_Types].xml":
                    data = data.replace(b"document.main+xml", b"template.main+xml")
                target.writestr(item, data)
        sep = "\\" if windows else "/"
        newline = "\r\n" if windows else "\n"
        script = newline.join(["# Grüße aus Köln", "@Title=3;Title", "SELECT 'Grüße – café €5'",
                               "@Fill=1;1;2;2", "SELECT amount, day FROM sales",
                               "WHERE COALESCE(note, '') <> 'Köln' AND id <= 2 ORDER BY id", ""])
        with open(os.path.join(folder, "scripts", "monthly.sql"), "wb") as f:
            f.write(script.encode("cp1252" if windows else "utf-8"))
        ini = newline.join([
            "[FILE]", "LogFileName=out%srun.log" % sep,
            "ReportTemplateFileName=templates%ssales.dotx" % sep,
            "ReportFileName=out%sreport.docx" % sep,
            "[ODBC]", "DSN=" + self.backend.dsn(self.folder), "DBUSER=" + self.backend.user(),
            "DBPWD=" + self.backend.password(),
            "[SQLFILE]", "F_MAXNUM=1", "F1=scripts%smonthly.sql" % sep, ""])
        with open(os.path.join(folder, "report.ini"), "wb") as f:
            f.write(ini.encode("utf-16") if windows else ini.encode("utf-8"))
        checks = self.check("report.ini", cwd=folder)
        result = subprocess.run([EXE, "-C", "-F", "report.ini"], cwd=folder, capture_output=True,
                                timeout=300)
        self.assert_checked_clean(checks, result.returncode)
        with open(os.path.join(folder, "out", "run.log"), "rb") as f:
            log = [STAMP.sub("", line) for line in f.read().decode("utf-8").split("\r\n")]
        return result.returncode, log, os.path.join(folder, "out", "report.docx")

    def test_report_written_on_windows_runs_unchanged(self):
        status, log, report = self.windows_folder("windows", True)
        self.assertEqual(0, status, "\n".join(log))
        twin_status, twin_log, twin_report = self.windows_folder("twin", False)
        self.assertEqual(0, twin_status, "\n".join(twin_log))
        # The same log, line for line, as the UTF-8 twin: names found with "/".
        self.assertEqual(twin_log, log)
        self.assertIn("[SQLFILE1]  [Title]    SELECT 'Grüße – café €5'", log)
        self.assertIn('[SQLFILE1]  Open "scripts/monthly.sql" succesfully.', log)
        for path in (report, twin_report):
            self.report = path
            self.assertEqual("Grüße – café €5", self.variables()["Title"])
            self.assertEqual(["Label A", "1,234", "2004-05-05"], self.cells(1)[1])


def load_tests(loader, tests, pattern):
    suite = unittest.TestSuite()
    for backend in BACKENDS:
        case = type("ReportRun_" + backend.name, (ReportCase,), {"backend": backend})
        suite.addTests(loader.loadTestsFromTestCase(case))
    return suite


if __name__ == "__main__":
    unittest.main(verbosity=2)
