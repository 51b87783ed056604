#!/usr/bin/python3
"""The tools for report authors, through the executable: --describe numbers
tables exactly as runs fill them (real documents from the shared corpus and
the end-to-end templates), the example report checks clean, permissions are
checked as the unprivileged user that runs the report, and a template made
in LibreOffice Writer runs end to end.
"""
import grp
import json
import os
import pwd
import shutil
import sqlite3
import subprocess
import tempfile
import unittest

import docx

from report_folder import EXE, ROOT, as_user, make_templates, run_once

CORPUS = os.path.join(os.environ.get("VANTRELLE_CORPUS") or os.path.join(ROOT, "../shared/corpus"),
                      "docx")
SOFFICE = shutil.which("soffice")


def describe(path):
    result = subprocess.run([EXE, "--describe", "--json", path], capture_output=True, text=True,
                            timeout=120)
    return result.returncode, (json.loads(result.stdout) if result.returncode == 0 else
                               result.stderr)


def run_report(folder, template, report, script):
    """Runs one report of \a script on \a template into \a report of
    \a folder; returns (status, log text)."""
    status, log, _ = run_once(folder, template, script, name=".", dsn="sqlite::memory:",
                              report=os.path.join(folder, report))
    return status, "\n".join(log)


def shown_cells(outline):
    """Every cell text --describe shows, by table id, row and cell."""
    return {(table["id"], r, c): text for table in outline["tables"]
            for r, row in enumerate(table["first_rows"], 1) for c, text in enumerate(row, 1)}


class DescribeAgreesWithRuns(unittest.TestCase):
    """Each table --describe numbers is filled through a run by that number,
    and the cell that changes is the one in the table --describe put there."""

    @classmethod
    def setUpClass(cls):
        cls.templates = make_templates("vantrelle_describe_templates_",
                                       ("make_templates.py", "office_templates.py"))

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.templates, ignore_errors=True)

    def agree(self, path):
        folder = tempfile.mkdtemp(prefix="vantrelle_describe_")
        try:
            self.agree_in(folder, path)
        finally:
            shutil.rmtree(folder, ignore_errors=True)

    def agree_in(self, folder, path):
        name = os.path.basename(path)
        extension = os.path.splitext(name)[1].lower()
        report = "report" + (".docm" if extension in (".docm", ".dotm") else ".docx")
        status, outline = describe(path)
        run_status, log = run_report(folder, path, "baseline" + report[-5:], "")
        if status != 0:
            # Refused by --describe exactly when the run refuses it.
            self.assertIn("Error: Failed to open the report file", log, name)
            self.assertEqual(1, status, outline)
            return
        self.assertEqual(0, run_status, log)
        # A written cell loses the tables nested in it: those cells are left
        # alone, so that every other table stays where it was.
        holders = {(t["nested_in"]["id"], t["nested_in"]["row"], t["nested_in"]["cell"])
                   for t in outline["tables"] if t["nested_in"]}
        statements, targets = [], {}
        for table in outline["tables"]:
            if table["number"] is None:
                continue
            free = [(r, c, text) for r, row in enumerate(table["first_rows"], 1)
                    for c, text in enumerate(row, 1)
                    if text is not None and (table["id"], r, c) not in holders]
            # An empty cell shows the value as it is; any other text is its
            # format pattern.
            free.sort(key=lambda cell: cell[2] != "")
            if free:
                r, c, _ = free[0]
                statements.append("@T%d=1;%d;%d;%d\nSELECT 'VT%d'\n" %
                                  (table["number"], table["number"], r, c, table["number"]))
                targets[(table["id"], r, c)] = "VT%d" % table["number"] if free[0][2] == "" else ""
        numbers = [t["number"] for t in outline["tables"] if t["number"] is not None]
        self.assertEqual(list(range(1, len(numbers) + 1)), numbers, name)
        if not statements:
            return
        status, log = run_report(folder, path, report, "".join(statements))
        self.assertEqual(0, status, log)
        _, baseline = describe(os.path.join(folder, "baseline" + report[-5:]))
        _, filled = describe(os.path.join(folder, report))
        before, after = shown_cells(baseline), shown_cells(filled)
        changed = {key for key in before if before[key] != after.get(key)}
        self.assertEqual(set(targets), changed, name)
        for key, value in targets.items():
            self.assertIn(value, after[key], name)  # "" when the cell had a pattern

    def test_corpus_documents(self):
        if not os.path.isdir(CORPUS):
            self.skipTest("no document corpus at %s (set VANTRELLE_CORPUS)" % CORPUS)
        names = sorted(n for n in os.listdir(CORPUS) if n != "MANIFEST.tsv")
        self.assertGreaterEqual(len(names), 70)
        for name in names:
            with self.subTest(name):
                self.agree(os.path.join(CORPUS, name))

    def test_end_to_end_templates(self):
        for name in sorted(os.listdir(self.templates)):
            with self.subTest(name):
                self.agree(os.path.join(self.templates, name))


class ScratchFolder(unittest.TestCase):
    """A folder of the case's own, and the program run in it."""

    def setUp(self):
        self.folder = tempfile.mkdtemp(prefix="vantrelle_check_")
        os.chmod(self.folder, 0o755)

    def tearDown(self):
        shutil.rmtree(self.folder, ignore_errors=True)

    def vantrelle(self, *args, user=None):
        command = [EXE, *args]
        if user:
            command = as_user(pwd.getpwnam(user).pw_uid, *command,
                              gid=grp.getgrnam("nogroup").gr_gid)
        return subprocess.run(command, cwd=self.folder, capture_output=True, text=True, timeout=300)


class ReportFolder(ScratchFolder):
    def test_example_report_checks_clean_and_runs(self):
        shutil.copytree(os.path.join(ROOT, "examples/monthly"), self.folder, dirs_exist_ok=True)
        os.makedirs(os.path.join(self.folder, "out"))
        with open(os.path.join(self.folder, "sales.sql")) as f:
            db = sqlite3.connect(os.path.join(self.folder, "out/sales.db"))
            db.executescript(f.read())
            db.close()
        result = self.vantrelle("--check", "-F", "report.ini", "2004-06")
        self.assertEqual(("report.ini: 0 errors, 0 warnings.\n", 0),
                         (result.stdout, result.returncode))
        # Connected, the statements on the work table the first script makes
        # can only be prepared once it exists: warnings that say so.
        result = self.vantrelle("--check", "--connect", "-F", "report.ini")
        self.assertEqual(0, result.returncode, result.stdout)
        lines = result.stdout.splitlines()
        self.assertEqual("report.ini: 0 errors, 4 warnings.", lines[-1])
        for line in lines[:-1]:
            self.assertRegex(line, r'^scripts/report.sql:\d+: warning: \[\w+\] cannot be prepared '
                                   r'before the statement \[Select\] at scripts/prepare.sql:8 ')
        self.assertEqual(["sales.db"], os.listdir(os.path.join(self.folder, "out")))
        self.assertEqual(0, self.vantrelle("-C", "-F", "report.ini").returncode)

    def test_permissions_are_checked_for_the_user_who_runs_the_report(self):
        if os.getuid() != 0:
            self.skipTest("needs root to run the check as another user")
        shutil.copy(os.path.join(ROOT, "examples/monthly/template.docx"), self.folder)
        os.chmod(os.path.join(self.folder, "template.docx"), 0o600)
        os.makedirs(os.path.join(self.folder, "out"), mode=0o755)
        open(os.path.join(self.folder, "data.db"), "w").close()
        with open(os.path.join(self.folder, "report.ini"), "w") as f:
            f.write("[FILE]\nLogFileName=out/run.log\nReportTemplateFileName=template.docx\n"
                    "ReportFileName=out/report.docx\n[ODBC]\nDSN=sqlite:data.db\n")
        result = self.vantrelle("--check", "-F", "report.ini", user="nobody")
        self.assertEqual(
            ['report.ini: error: [FILE] LogFileName "out/run.log": the folder "out" cannot be '
             'written (Permission denied).',
             'report.ini: error: [FILE] ReportTemplateFileName: the template file "template.docx" '
             'cannot be read (Permission denied).',
             'report.ini: error: [FILE] ReportFileName "out/report.docx": the folder "out" cannot '
             'be written (Permission denied).',
             "report.ini: warning: no statement would run: [SQLFILE] lists no script (it needs "
             "F_MAXNUM=1 or more and F1=, F2=, ... naming the scripts); the report would be the "
             "template's copy.",
             "report.ini: 3 errors, 1 warning."], result.stdout.splitlines())
        self.assertEqual(2, result.returncode)  # the run could not create its log
        # Whoever may write the folder and read the template passes.
        result = self.vantrelle("--check", "-F", "report.ini")
        self.assertEqual(0, result.returncode, result.stdout)


# A Writer document with a user field (Insert > Field > More Fields >
# Variables > User Field), which Writer saves to .docx as a DOCVARIABLE
# field, and a table of heading, pattern row and last row.
WRITER_TEMPLATE = """<?xml version="1.0" encoding="UTF-8"?>
<office:document xmlns:office="urn:oasis:names:tc:opendocument:xmlns:office:1.0"
 xmlns:text="urn:oasis:names:tc:opendocument:xmlns:text:1.0"
 xmlns:table="urn:oasis:names:tc:opendocument:xmlns:table:1.0"
 office:version="1.2" office:mimetype="application/vnd.oasis.opendocument.text">
 <office:body><office:text>
  <text:user-field-decls>
   <text:user-field-decl office:value-type="string" office:string-value="(company)"
    text:name="Company"/>
  </text:user-field-decls>
  <text:p>Sales of <text:user-field-get text:name="Company">(company)</text:user-field-get></text:p>
  <table:table table:name="Sales">
   <table:table-column table:number-columns-repeated="3"/>
   <table:table-row>
    <table:table-cell office:value-type="string"><text:p>Region</text:p></table:table-cell>
    <table:table-cell office:value-type="string"><text:p>Amount</text:p></table:table-cell>
    <table:table-cell office:value-type="string"><text:p>Day</text:p></table:table-cell>
   </table:table-row>
   <table:table-row>
    <table:table-cell office:value-type="string"><text:p></text:p></table:table-cell>
    <table:table-cell office:value-type="string"><text:p>#,##0.00</text:p></table:table-cell>
    <table:table-cell office:value-type="string"><text:p>dd mmm yyyy</text:p></table:table-cell>
   </table:table-row>
   <table:table-row>
    <table:table-cell office:value-type="string"><text:p></text:p></table:table-cell>
    <table:table-cell office:value-type="string"><text:p>#,##0.00</text:p></table:table-cell>
    <table:table-cell office:value-type="string"><text:p>dd mmm yyyy</text:p></table:table-cell>
   </table:table-row>
  </table:table>
 </office:text></office:body>
</office:document>
"""


@unittest.skipUnless(SOFFICE, "LibreOffice (soffice) is needed to make the template")
def replace_in(path, old, new):
    with open(path, encoding="utf-8") as f:
        text = f.read()
    assert old in text, (path, old)
    with open(path, "w", encoding="utf-8") as f:
        f.write(text.replace(old, new, 1))


def set_cell(path, table, row, column, text):
    document = docx.Document(path)
    document.tables[table - 1].cell(row - 1, column - 1).paragraphs[0].runs[0].text = text
    document.save(path)


FEWER_COLUMNS = (",\n       max(order_date)\nFROM month_orders\nGROUP BY region_name",
                 "\nFROM month_orders\nGROUP BY region_name")
# The mistakes a new author makes in the example report: the edit, whether
# the check connects, the line the check must print ({sql} is the script's
# name, {Marker} the line of that statement's marker), and the run's exit
# status beside it; the check exits 0 (warnings) unless the case says 1.
# What is no mistake checks clean.
BEGINNER_MISTAKES = [
    ("misspelt section", lambda f: replace_in(f + "/report.ini", "[SQLFILE]", "[SQLFILES]"), False,
     "report.ini:13: warning: [SQLFILES] is no section a run reads; did you mean [SQLFILE]? Its "
     "keys are not used.", 0),
    ("misspelt key", lambda f: replace_in(f + "/report.ini", "F_MAXNUM=", "F_MAXNUN="), False,
     "report.ini:14: warning: [SQLFILE] F_MAXNUN is no key a run reads; did you mean F_MAXNUM?", 0),
    ("no script", lambda f: replace_in(f + "/report.ini", "F_MAXNUM=2", "F_MAXNUM=0"), False,
     "report.ini: warning: no statement would run: [SQLFILE] lists no script (it needs "
     "F_MAXNUM=1 or more and F1=, F2=, ... naming the scripts); the report would be the template's "
     "copy.", 0),
    ("function number", lambda f: replace_in(f + "/scripts/report.sql", "@Summary=1;", "@Summary=7;"),
     False, "{sql}:{Summary}: warning: [Summary] function 7 does not exist (0 executes, 1 fills a "
     "table, 2 fills a growing table, 3 sets a document variable): the run skips the statement, logs "
     "\"Failure.\" and counts no error.", 0),
    ("date letters of another language", lambda f: set_cell(f + "/template.docx", 1, 4, 2,
                                                             "TT.MM.JJJJ"), False,
     "{sql}:{Summary}: warning: [Summary] cell (4,2) of table 1: the date pattern \"TT.MM.JJJJ\" "
     "holds letters that are no date code (T, J): they print as they stand. The codes are d, m, y, "
     "h, n, s (\"dd.mm.yyyy\" for a day, month and year).", 0),
    ("typographic quotes", lambda f: set_cell(f + "/template.docx", 1, 1, 2,
                                               "#,##0.00 \u201cEUR\u201d"), False,
     "{sql}:{Summary}: warning: [Summary] cell (1,2) of table 1: the pattern \"#,##0.00 \u201cEUR"
     "\u201d\" holds typographic quotes, which print as they stand; only straight quotes (\") quote "
     "text in a pattern.", 0),
    ("fewer columns than pattern cells",
     lambda f: (run_example(f), replace_in(f + "/scripts/report.sql", *FEWER_COLUMNS)), True,
     "{sql}:{Regions}: warning: [Regions] the query returns 5 columns but the pattern row of table "
     "2 has 6 cells from (2,1): the pattern text of (2,6) stays in every row the fill adds.", 0),
    ("a work table left by the last run", lambda f: run_example(f), True,
     "scripts/prepare.sql:8: warning: [Select] cannot be prepared before the statement [Clear] at "
     "scripts/prepare.sql:5 has run: it uses \"month_orders\", which that statement creates or "
     "changes (table month_orders already exists (SQLite error 1)).", 0),
    ("a work table no earlier statement drops",
     lambda f: (run_example(f), replace_in(f + "/scripts/prepare.sql", "DROP TABLE IF EXISTS",
                                           "DELETE FROM")), True,
     "scripts/prepare.sql:8: error: [Select] cannot be prepared: table month_orders already "
     "exists (SQLite error 1)", 1, 1),
    ("a script left out", lambda f: replace_in(f + "/report.ini", "F1=scripts/prepare.sql", "F1="),
     False, "report.ini: warning: [SQLFILE] F1 is not set: script 1 of F_MAXNUM=2 never runs.", 1),
    ("a label and a named format are no date patterns",
     lambda f: (set_cell(f + "/template.docx", 1, 1, 2, "Short Date"),
                set_cell(f + "/template.docx", 1, 3, 2, "Name")), False,
     "report.ini: 0 errors, 0 warnings.", 0),
]


def run_example(folder):
    subprocess.run([EXE, "-C", "-F", "report.ini"], cwd=folder, check=True, timeout=120)


def marker_lines(path):
    with open(path, encoding="utf-8") as f:
        return {line[1:line.index("=")]: n for n, line in enumerate(f, 1) if line.startswith("@")}


class BeginnerMistakes(ScratchFolder):
    """Each mistake from the table is one line of the check, and the run
    beside it ends as it always did."""

    def example(self, folder):
        shutil.copytree(os.path.join(ROOT, "examples/monthly"), folder, dirs_exist_ok=True)
        os.makedirs(os.path.join(folder, "out"), exist_ok=True)
        with open(os.path.join(folder, "sales.sql")) as f:
            db = sqlite3.connect(os.path.join(folder, "out/sales.db"))
            db.executescript(f.read())
            db.close()

    def test_each_mistake_is_said_and_the_run_ends_as_before(self):
        for name, edit, connect, expected, run_status, *check_status in BEGINNER_MISTAKES:
            with self.subTest(name):
                folder = os.path.join(self.folder, name.replace(" ", "-"))
                self.example(folder)
                edit(folder)
                line = expected.format(sql="scripts/report.sql",
                                       **marker_lines(folder + "/scripts/report.sql"))
                check = subprocess.run([EXE, "--check", *(["--connect"] if connect else []), "-F",
                                        "report.ini"], cwd=folder, capture_output=True, text=True,
                                       timeout=120)
                self.assertIn(line, check.stdout.splitlines(), check.stdout)
                self.assertEqual(check_status[0] if check_status else 0, check.returncode,
                                 check.stdout)
                run = subprocess.run([EXE, "-C", "-F", "report.ini"], cwd=folder,
                                     capture_output=True, text=True, timeout=120)
                self.assertEqual(run_status, run.returncode, run.stderr)

    def test_checked_from_another_folder_names_the_folder_it_looked_in(self):
        self.example(os.path.join(self.folder, "monthly"))
        check = self.vantrelle("--check", "-F", "monthly/report.ini")
        lines = check.stdout.splitlines()
        here = os.path.realpath(self.folder)
        self.assertIn('monthly/report.ini: error: [SQLFILE] F1: the script "scripts/prepare.sql" in '
                      'the current folder "%s" does not exist.' % here, lines)
        self.assertIn('monthly/report.ini: warning: relative names are read from the current folder '
                      '"%s", not from the configuration\'s folder "%s/monthly": run the report from '
                      'there (cd "%s/monthly") or give whole paths.' % (here, here, here), lines)
        self.assertEqual(2, check.returncode)
        self.assertEqual(2, self.vantrelle("-C", "-F", "monthly/report.ini").returncode)
        # Without a configuration, batch mode says how one is found.
        result = self.vantrelle("-C")
        self.assertEqual((2, "Error!\nError Info: No configuration file: none was named with -F, "
                             "and none was found beside the program or in /etc. Name one: "
                             "vantrelle -C -F report.ini\n"), (result.returncode, result.stderr))


class WriterTemplate(unittest.TestCase):
    def test_template_made_in_writer_runs_end_to_end(self):
        folder = tempfile.mkdtemp(prefix="vantrelle_writer_")
        self.addCleanup(shutil.rmtree, folder, True)
        with open(os.path.join(folder, "template.fodt"), "w") as f:
            f.write(WRITER_TEMPLATE)
        subprocess.run([SOFFICE, "-env:UserInstallation=file://" + folder + "/profile",
                        "--headless", "--convert-to", "docx", "--outdir", folder,
                        os.path.join(folder, "template.fodt")],
                       check=True, capture_output=True, timeout=300)
        template = os.path.join(folder, "template.docx")

        status, outline = describe(template)
        self.assertEqual(0, status, outline)
        self.assertEqual([(1, "in the body", 3, 3)],
                         [(t["number"], t["where"], t["rows"], t["columns"])
                          for t in outline["tables"]])
        self.assertEqual(["", "#,##0.00", "dd mmm yyyy"], outline["tables"][0]["first_rows"][1])
        self.assertEqual([("DOCVARIABLE", "Company", True)],
                         [(f["type"], f["variable"], f["computed"]) for f in outline["fields"]])

        db = sqlite3.connect(os.path.join(folder, "sales.db"))
        db.executescript("CREATE TABLE sales (region TEXT, amount NUMERIC, day DATE);"
                         "INSERT INTO sales VALUES ('North', 1234.5, '2004-05-03');"
                         "INSERT INTO sales VALUES ('South', 99, '2004-05-17');"
                         "INSERT INTO sales VALUES ('West', 7, '2004-05-31');")
        db.close()
        with open(os.path.join(folder, "report.sql"), "w") as f:
            f.write("@Company=3;Company\nSELECT 'Vantrelle Ltd'\n"
                    "@Sales=2;1;2;1\nSELECT region, amount, day FROM sales ORDER BY region\n")
        with open(os.path.join(folder, "report.ini"), "w") as f:
            f.write("[FILE]\nLogFileName=run.log\nReportTemplateFileName=template.docx\n"
                    "ReportFileName=report.docx\n[ODBC]\nDSN=sqlite:sales.db\n"
                    "[SQLFILE]\nF_MAXNUM=1\nF1=report.sql\n")
        check = subprocess.run([EXE, "--check", "--connect", "-F", "report.ini"], cwd=folder,
                               capture_output=True, text=True, timeout=300)
        self.assertEqual(("report.ini: 0 errors, 0 warnings.\n", 0),
                         (check.stdout, check.returncode))
        run = subprocess.run([EXE, "-C", "-F", "report.ini"], cwd=folder, capture_output=True,
                             env=dict(os.environ, LC_ALL="C.UTF-8"), timeout=300)
        with open(os.path.join(folder, "run.log"), encoding="utf-8") as f:
            self.assertEqual(0, run.returncode, f.read())

        report = docx.Document(os.path.join(folder, "report.docx"))
        self.assertEqual("Sales of Vantrelle Ltd", report.paragraphs[0].text)
        self.assertEqual([["Region", "Amount", "Day"],
                          ["North", "1,234.50", "03 May 2004"],
                          ["South", "99.00", "17 May 2004"],
                          ["West", "7.00", "31 May 2004"]],
                         [[cell.text for cell in row.cells] for row in report.tables[0].rows])


if __name__ == "__main__":
    unittest.main(verbosity=2)
