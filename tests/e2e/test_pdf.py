#!/usr/bin/python3
"""The PDF copy of the report ([FILE] PdfFileName), through the executable.

The example report is run in batch mode in a scratch folder; the real
converter writes the PDF, read back with pdftotext. Stand-in converters on
PATH (scripts named soffice) give the faults: missing, failing, hanging.
"""
import os
import re
import shutil
import subprocess
import tempfile
import time
import unittest
import zipfile

import docx

import office_templates

from report_folder import EXE, ROOT as SOURCE, STAMP


class PdfTest(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="vantrelle-pdf-test-")
        self.addCleanup(shutil.rmtree, self.dir, True)
        shutil.copytree(os.path.join(SOURCE, "examples/monthly"), self.dir, dirs_exist_ok=True)
        os.mkdir(os.path.join(self.dir, "out"))
        with open(os.path.join(self.dir, "sales.sql")) as sql:
            subprocess.run(["sqlite3", os.path.join(self.dir, "out/sales.db")], stdin=sql,
                           check=True)
        self.tmp = os.path.join(self.dir, "tmp")  # the converter's scratch folders go here
        os.mkdir(self.tmp)

    def configure(self, pdf):
        path = os.path.join(self.dir, "report.ini")
        with open(path) as f:
            text = f.read()
        if pdf is not None:
            text = text.replace("ReportFileName=out/sales_report.docx",
                                "ReportFileName=out/sales_report.docx\nPdfFileName=" + pdf)
        with open(path, "w") as f:
            f.write(text)

    def fake_converter(self, body):
        """A folder holding only a script named soffice with \a body."""
        folder = os.path.join(self.dir, "fakebin")
        os.makedirs(folder, exist_ok=True)
        script = os.path.join(folder, "soffice")
        with open(script, "w") as f:
            f.write("#!/bin/sh\n" + body)
        os.chmod(script, 0o755)
        return folder

    def run_report(self, path=None, timeout=None):
        env = dict(os.environ, TMPDIR=self.tmp)
        if path is not None:
            env["PATH"] = path
        if timeout is not None:
            env["VANTRELLE_PDF_TIMEOUT"] = str(timeout)
        started = time.monotonic()
        result = subprocess.run([EXE, "-C", "-F", "report.ini"], cwd=self.dir, env=env,
                                capture_output=True, text=True, timeout=300)
        self.elapsed = time.monotonic() - started
        logs = [name for name in os.listdir(os.path.join(self.dir, "out")) if name.endswith(".log")]
        self.assertEqual(1, len(logs))
        with open(os.path.join(self.dir, "out", logs[0]), newline="") as f:
            self.log = [STAMP.sub("", line) for line in f.read().split("\r\n") if line]
        return result.returncode

    def out(self, name):
        return os.path.join(self.dir, "out", name)

    def assert_tail(self, expected):
        self.assertEqual(expected, self.log[-len(expected):])

    def assert_report_kept(self):
        self.assertIn("Close the report file.", self.log)
        self.assertGreater(os.path.getsize(self.out("sales_report.docx")), 1000)

    def assert_nothing_left(self):
        self.assertEqual([], os.listdir(self.tmp))
        self.assertEqual([], [n for n in os.listdir(self.out("")) if n.startswith(".")])

    def test_writes_the_pdf_with_the_formatted_values(self):
        self.configure("out/sales_&Y.pdf")
        self.assertEqual(0, self.run_report(), self.log)
        pdf = self.out("sales_%s.pdf" % time.strftime("%Y"))
        self.assert_tail(["Close the report file.",
                          'Save the PDF file "out/sales_%s.pdf" successfully.' % time.strftime("%Y"),
                          "Close the log file."])
        text = subprocess.run(["pdftotext", "-layout", pdf, "-"], capture_output=True, text=True,
                              check=True).stdout
        # Values as the template's cell patterns format them, and a document
        # variable shown by its field.
        for shown in ["Northwind Garden Supplies, Lyon", "Sales report for 2004-05", "127,553.00",
                      "1,037.02", "31 May 2004", "28.9%"]:
            self.assertIn(shown, text)
        self.assert_nothing_left()
        # No office process of the run is left behind.
        procs = subprocess.run(["pgrep", "-f", self.tmp], capture_output=True, text=True)
        self.assertEqual("", procs.stdout)

    def test_each_field_prints_the_result_the_report_shows(self):
        # One variable through several pictures, a locked date that keeps
        # its old result, the time of the run and the page number: the
        # converter would compute the fields anew if they came to it.
        document = docx.Document()
        lines = [("A", 'DOCVARIABLE Amount \\# "#,##0.00"', "old"),
                 ("B", 'DOCVARIABLE Amount \\# "0.0"', "old"),
                 ("C", 'DOCVARIABLE Day \\@ "dddd, d MMMM yyyy"', "old"),
                 ("D", 'DOCVARIABLE Day \\@ "dd.MM.yy"', "old"),
                 ("E", 'DATE \\@ "yyyy-MM-dd"', "1999-12-31"),
                 ("F", 'TIME \\@ "HH:mm:ss"', "old"),
                 ("G", "PAGE", "9")]
        for label, code, result in lines:
            runs = office_templates.field_runs(code, result)
            if label == "E":
                runs = runs.replace('w:fldCharType="begin"', 'w:fldCharType="begin" w:fldLock="1"', 1)
            office_templates.append_xml(document, office_templates.paragraph(
                office_templates.text_run(label + ": ") + runs))
        # A field with no stored result, which the run does not compute: the
        # converter shows it as it would.
        office_templates.append_xml(document, office_templates.paragraph(
            office_templates.text_run("H: ") + '<w:r><w:fldChar w:fldCharType="begin"/></w:r><w:r>'
            '<w:instrText xml:space="preserve"> MACROBUTTON NoMacro [Click here] </w:instrText></w:r>'
            '<w:r><w:fldChar w:fldCharType="end"/></w:r>'))
        document.save(os.path.join(self.dir, "fields.docx"))
        with open(os.path.join(self.dir, "fields.sql"), "w") as f:
            f.write("@Amount=3;Amount\nSELECT 1234567.891\n@Day=3;Day\nSELECT '2004-05-05'\n")
        with open(os.path.join(self.dir, "report.ini"), "w") as f:
            f.write("[FILE]\nLogFileName=out/fields.log\nReportTemplateFileName=fields.docx\n"
                    "ReportFileName=out/fields.docx\nPdfFileName=out/fields.pdf\n"
                    "[ODBC]\nDSN=sqlite:out/sales.db\n[SQLFILE]\nF_MAXNUM=1\nF1=fields.sql\n")
        self.assertEqual(0, self.run_report(), self.log)
        text = subprocess.run(["pdftotext", "-layout", self.out("fields.pdf"), "-"],
                              capture_output=True, text=True, check=True).stdout
        shown = dict(re.findall(r"^([A-H]): (.*?)\s*$", text, re.M))
        # The report shows the time of its run; the PDF shows that too.
        report = docx.Document(self.out("fields.docx"))
        time_shown = [p.text[3:] for p in report.paragraphs if p.text.startswith("F: ")][0]
        self.assertRegex(time_shown, r"^\d\d:\d\d:\d\d$")
        self.assertEqual({"A": "1,234,567.89", "B": "1234567.9", "C": "Wednesday, 5 May 2004",
                          "D": "05.05.04", "E": "1999-12-31", "F": time_shown, "G": "1",
                          "H": "[Click here]"}, shown)
        # The report itself keeps its fields.
        with zipfile.ZipFile(self.out("fields.docx")) as package:
            main = package.read("word/document.xml").decode()
        self.assertEqual(8, main.count('w:fldCharType="begin"'))
        self.assert_nothing_left()

    def test_without_the_key_the_log_is_as_before(self):
        self.configure(None)
        self.assertEqual(0, self.run_report(path=self.fake_converter("exit 1\n")))
        self.assert_tail(["Save the report file successfully.", "Close the report file.",
                          "Close the log file."])
        self.assertFalse([n for n in os.listdir(self.out("")) if n.endswith(".pdf")])

    def test_a_missing_converter_names_the_package_and_keeps_the_report(self):
        self.configure("out/sales.pdf")
        empty = os.path.join(self.dir, "emptybin")
        os.mkdir(empty)
        self.assertEqual(1, self.run_report(path=empty))
        self.assert_tail(['Error: Failed to save the PDF file "out/sales.pdf".',
                          'Error Info: The program "soffice" that writes PDF files is not installed '
                          '(not found on PATH); install the Debian package '
                          'libreoffice-writer-nogui.',
                          "Close the log file."])
        self.assert_report_kept()
        self.assertFalse(os.path.exists(self.out("sales.pdf")))

    def test_a_failing_converter_is_an_error_and_the_earlier_pdf_stays(self):
        self.configure("out/sales.pdf")
        with open(self.out("sales.pdf"), "w") as f:
            f.write("earlier pdf")
        # Exits 0 yet writes nothing, as the converter does for a file it
        # cannot read: success is judged by the file.
        fake = self.fake_converter("echo 'Error: source file could not be loaded' >&2\nexit 0\n")
        self.assertEqual(1, self.run_report(path=fake))
        self.assertEqual('Error: Failed to save the PDF file "out/sales.pdf".', self.log[-3])
        self.assertRegex(self.log[-2], r'^Error Info: ".*/fakebin/soffice" did not convert '
                                       r'"out/sales_report.docx" to PDF: Error: source file '
                                       r'could not be loaded\.$')
        with open(self.out("sales.pdf")) as f:
            self.assertEqual("earlier pdf", f.read())
        self.assert_report_kept()
        self.assert_nothing_left()

    def test_a_hanging_converter_is_killed_with_its_helpers_after_the_time_limit(self):
        self.configure("out/sales.pdf")
        marker = os.path.join(self.dir, "helper.pid")
        fake = self.fake_converter("/bin/sleep 300 &\necho $! > '%s'\n/bin/sleep 300\n" % marker)
        self.assertEqual(1, self.run_report(path=fake, timeout=2))
        self.assertLess(self.elapsed, 60)
        self.assertRegex(self.log[-2], r'^Error Info: ".*/soffice" did not finish within 2 '
                                       r'seconds and was stopped\.$')
        with open(marker) as f:
            helper = int(f.read())
        # The helper the converter started went with it (a zombie at most,
        # until init reaps it).
        try:
            with open("/proc/%d/stat" % helper) as f:
                self.assertEqual("Z", f.read().rsplit(")", 1)[1].split()[0])
        except FileNotFoundError:
            pass
        self.assert_report_kept()
        self.assert_nothing_left()

    def test_a_pdf_named_as_an_input_is_refused_before_the_run(self):
        self.configure("template.docx")
        with open(os.path.join(self.dir, "template.docx"), "rb") as f:
            before = f.read()
        self.assertEqual(1, self.run_report())
        self.assert_tail(["Error: The information in the configuration file is incorrect.",
                          'Error Info: [FILE] PdfFileName "template.docx" names the same file as '
                          '[FILE] ReportTemplateFileName "template.docx"; the PDF file never '
                          'overwrites another file of the run.'])
        with open(os.path.join(self.dir, "template.docx"), "rb") as f:
            self.assertEqual(before, f.read())
        self.assertFalse(os.path.exists(self.out("sales_report.docx")))


if __name__ == "__main__":
    unittest.main()
