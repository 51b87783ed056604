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


class ReportFolder(unittest.TestCase):
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
             "report.ini: 3 errors, 0 warnings."], result.stdout.splitlines())
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
