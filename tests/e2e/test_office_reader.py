#!/usr/bin/python3
"""Reports read back by LibreOffice, a second reader independent of
python-docx: fields with pictures, results over several paragraphs, fields in
notes, comments and text boxes (and the fallback older readers show), breaks
in cells, content controls bound to data around cells, and the example
report. All reports are converted to PDF in one LibreOffice call, each page's
text taken with pdftotext: what a person would see.
"""
import collections
import os
import re
import shutil
import sqlite3
import subprocess
import tempfile
import time
import unittest
import zipfile

import docx
import docx.oxml.ns
import docx.shared

import office_templates

from report_folder import EXE, ROOT, run_once

EXAMPLE = os.path.join(ROOT, "examples/monthly")
SOFFICE = shutil.which("soffice")
PDFTOTEXT = shutil.which("pdftotext")

FIELDS_SCRIPT = """
@Amount=3;Amount
SELECT 1234.5
@Loss=3;Loss
SELECT -98765.432
@Month=3;Month
SELECT '2004-05-01'
@Region=3;Region
SELECT 'north'
@Multi=3;Multi
SELECT 'one paragraph now'
@Note=3;Note
SELECT 'fresh footnote'
@EndNote=3;EndNote
SELECT 'fresh endnote'
@Remark=3;Remark
SELECT 'fresh remark'
@Box=3;Box
SELECT 'fresh box'
"""

# Table 1 grows to three rows whose texts hold a page break and a column
# break; tables 2 to 4 sit in, or hold, controls bound to data.
TABLES_SCRIPT = """
@Grow=2;1;2;2
SELECT 'first' UNION ALL SELECT 'before page' || char(12) || 'after page'
UNION ALL SELECT 'before column' || char(14) || 'after column'
@Table=1;2;1;1
SELECT 'table written'
@Row=1;3;1;1
SELECT 'row written'
@Cell=1;4;1;1
SELECT 'cell written'
"""


# Table 1 of the marks template grows from its pattern row (row 2), whose
# label holds a footnote, an endnote and a comment, beside a picture and a
# text box: four records make two copies, and three rows hold the marks.
MARKS_SCRIPT = """
@Grow=2;1;2;2
SELECT 1000 UNION ALL SELECT 2000 UNION ALL SELECT 3000 UNION ALL SELECT 4000
"""

# The corpus document whose table row 3 holds a footnote (a row is added
# after it, so that it is not the table's last).
CORPUS = os.path.join(os.environ.get("VANTRELLE_CORPUS") or os.path.join(ROOT, "../shared/corpus"),
                      "docx")
CORPUS_FOOTNOTES = os.path.join(CORPUS, "poi-table_footnotes.docx")
CORPUS_SCRIPT = MARKS_SCRIPT.replace("2;1;2;2", "2;1;3;2")


def without_choice(source, target):
    """A copy of \\a source whose alternate content keeps only its fallback, as
    a reader that does not know the modern drawing sees it."""
    with zipfile.ZipFile(source) as package:
        entries = [(item, package.read(item.filename)) for item in package.infolist()]
    with zipfile.ZipFile(target, "w", zipfile.ZIP_DEFLATED) as package:
        for item, data in entries:
            if item.filename == "word/document.xml":
                data = re.sub(rb"<mc:Choice .*?</mc:Choice>", b"", data, flags=re.S)
            package.writestr(item, data)


def pages(pdf):
    """The text of each page of \\a pdf, blanks runs made single."""
    text = subprocess.run([PDFTOTEXT, "-layout", pdf, "-"], capture_output=True, text=True,
                          check=True, timeout=60).stdout
    return [re.sub(r"[ \t]+", " ", page) for page in text.split("\f")]


@unittest.skipUnless(SOFFICE and PDFTOTEXT, "LibreOffice (soffice) and pdftotext are needed; "
                     "scripts/setup installs them")
class OfficeReaderTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.dir = tempfile.mkdtemp(prefix="vantrelle_office_")
        office_templates.fields_template(os.path.join(cls.dir, "fields_template.docx"))
        office_templates.tables_template(os.path.join(cls.dir, "tables_template.docx"))
        cls.runs = {}
        office_templates.marks_template(os.path.join(cls.dir, "marks_template.docx"))
        names = ["fields", "fallback", "tables", "example", "marks"]
        scripts = [("fields", FIELDS_SCRIPT), ("tables", TABLES_SCRIPT), ("marks", MARKS_SCRIPT)]
        if os.path.exists(CORPUS_FOOTNOTES):
            corpus = docx.Document(CORPUS_FOOTNOTES)
            corpus.tables[0].add_row()
            corpus.save(os.path.join(cls.dir, "corpus_template.docx"))
            scripts.append(("corpus", CORPUS_SCRIPT))
            names.append("corpus")
        for name, script in scripts:
            cls.runs[name] = run_once(cls.dir, os.path.join(cls.dir, name + "_template.docx"),
                                      script, name=name, timeout=120,
                                      report=os.path.join(cls.dir, name + ".docx"))
        without_choice(cls.runs["fields"][2], os.path.join(cls.dir, "fallback.docx"))

        # The example report, run as its folder describes.
        cls.example = os.path.join(cls.dir, "example")
        shutil.copytree(EXAMPLE, cls.example)
        os.makedirs(os.path.join(cls.example, "out"))
        database = sqlite3.connect(os.path.join(cls.example, "out", "sales.db"))
        with open(os.path.join(cls.example, "sales.sql")) as f:
            database.executescript(f.read())
        database.close()
        cls.example_status = subprocess.run([EXE, "-C", "-F", "report.ini"], cwd=cls.example,
                                            capture_output=True, timeout=120).returncode
        cls.example_report = os.path.join(cls.example, "out", "sales_report.docx")
        shutil.copy(cls.example_report, os.path.join(cls.dir, "example.docx"))

        # One conversion for every report: each call starts an office suite.
        subprocess.run([SOFFICE, "-env:UserInstallation=file://" + cls.dir + "/profile",
                        "--headless", "--convert-to", "pdf", "--outdir", cls.dir + "/pdf"]
                       + [os.path.join(cls.dir, n + ".docx") for n in names],
                       capture_output=True, timeout=300, check=True)
        cls.pages = {n: pages(os.path.join(cls.dir, "pdf", n + ".pdf")) for n in names}

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.dir, ignore_errors=True)

    def text(self, name):
        return "\n".join(self.pages[name])

    def assertRunClean(self, name):
        status, log, _ = self.runs[name]
        self.assertEqual(0, status, log)
        self.assertIn("Update all Word fields successfully.", log)

    def test_fields_show_formatted_values_and_no_old_result(self):
        self.assertRunClean("fields")
        for name in ("fields", "fallback"):
            text = self.text(name)
            for line in ("Amount: 1,234.50", "Negative: ($98,765.43)", "Month: MAY 2004",
                         "Region: north", "Multi: one paragraph now and the rest"):
                self.assertIn(line, text, name)
            self.assertIn("fresh footnote", text)
            self.assertIn("FRESH ENDNOTE", text)
            self.assertNotIn("old", text, name)
        # The text box as current readers draw it, and as older readers do.
        self.assertIn("fresh box", self.text("fields"))
        self.assertIn("fresh box", self.text("fallback"))
        # Both branches were refreshed in the report itself.
        with zipfile.ZipFile(self.runs["fields"][2]) as package:
            main = package.read("word/document.xml").decode()
            comments = package.read("word/comments.xml").decode()
        self.assertEqual(2, main.count(">fresh box<"))
        # LibreOffice shows no fields inside comments: the comment is read as XML.
        self.assertIn(">fresh remark<", comments)
        self.assertNotIn("old", comments)

    def test_multi_paragraph_result_becomes_one_paragraph_for_python_docx_too(self):
        paragraphs = [p.text for p in docx.Document(self.runs["fields"][2]).paragraphs]
        self.assertIn("Multi: one paragraph now and the rest", paragraphs)
        self.assertIn("Amount: 1,234.50", paragraphs)

    def test_breaks_in_cells_are_kept(self):
        self.assertRunClean("tables")
        report = self.runs["tables"][2]
        rows = [[c.text for c in row.cells] for row in docx.Document(report).tables[0].rows]
        self.assertEqual(["Item", "Line", "Line", "Last"], [row[0] for row in rows])
        with zipfile.ZipFile(report) as package:
            main = package.read("word/document.xml").decode()
        self.assertIn('<w:t>before page</w:t><w:br w:type="page"/><w:t>after page</w:t>', main)
        self.assertIn('<w:t>before column</w:t><w:br w:type="column"/><w:t>after column</w:t>',
                      main)
        text = self.text("tables")
        for piece in ("first", "before page", "after page", "before column", "after column"):
            self.assertIn(piece, text)

    def test_bound_controls_around_cells_no_longer_cover_the_text(self):
        text = self.text("tables")
        for where in ("table", "row", "cell"):
            self.assertIn("%s written" % where, text)
        self.assertNotIn("BOUND DATA", text)
        with zipfile.ZipFile(self.runs["tables"][2]) as package:
            self.assertNotIn("dataBinding", package.read("word/document.xml").decode())

    def test_example_report_reads_the_same_in_both_readers(self):
        self.assertEqual(0, self.example_status)
        document = docx.Document(self.example_report)
        text = self.text("example")
        database = sqlite3.connect(os.path.join(self.example, "out", "sales.db"))
        total, orders = database.execute(
            "SELECT sum(amount), count(*) FROM orders WHERE order_date LIKE '2004-05%'").fetchone()
        regions = [name for (name,) in database.execute(
            "SELECT DISTINCT r.name FROM orders o JOIN region r ON r.code = o.region "
            "WHERE o.order_date LIKE '2004-05%'")]
        database.close()
        self.assertIn("Northwind Garden Supplies, Lyon", text)
        self.assertIn("Sales report for 2004-05", text)
        self.assertIn("Total sales in the month: %.2f" % total, text)
        self.assertIn("printed %s" % time.strftime("%-d %B %Y"), text)
        summary = [[c.text for c in row.cells] for row in document.tables[0].rows]
        self.assertEqual(["Total sales", "{:,.2f}".format(total)], summary[0])
        self.assertEqual(["Orders", "{:,}".format(orders)], summary[1])
        self.assertEqual(len(regions) + 1, len(document.tables[1].rows))
        # Every word of every cell python-docx reads is shown by LibreOffice,
        # each region's row on one line, and no pattern is left over.
        shown = collections.Counter(text.split())
        read = collections.Counter()
        for table in document.tables:
            for row in table.rows:
                for cell in row.cells:
                    read.update(cell.text.split())
                    self.assertNotRegex(cell.text, r"#|0\.0|yyyy|mmm|ddd")
        self.assertEqual(collections.Counter(), read - shown)
        for row in document.tables[1].rows[1:]:
            self.assertIn(" ".join(c.text for c in row.cells), text)
        # The table grown by one column per week fits the page's text width.
        section = document.sections[0]
        text_width = section.page_width - section.left_margin - section.right_margin
        grid = document.tables[2]._tbl.tblGrid.findall(docx.oxml.ns.qn("w:gridCol"))
        self.assertEqual(7, len(grid))
        self.assertLessEqual(sum(int(col.get(docx.oxml.ns.qn("w:w"))) for col in grid),
                             docx.shared.Length(text_width).twips)

    def test_each_grown_row_shows_its_own_notes(self):
        self.assertRunClean("marks")
        report = self.runs["marks"][2]
        self.assertEqual([], office_templates.mark_problems(report))
        rows = [[c.text for c in row.cells] for row in docx.Document(report).tables[0].rows]
        self.assertEqual(["Item", "Item", "Item", "Item", "Total"], [row[0] for row in rows])
        # Each row's marks carry the next number, every footnote its text, and
        # the note after the table comes after the rows' notes.
        text = self.text("marks")
        self.assertEqual(["1i", "2ii", "3iii"], re.findall(r"^Item(\w+)", text, re.M))
        self.assertIn("Later4", text)
        self.assertEqual([("1", "note"), ("2", "note"), ("3", "note"), ("4", "later note")],
                         re.findall(r"^(\d) the (note|later note)$", text, re.M))
        self.assertEqual(3, text.count("boxed"))
        # LibreOffice mixes up the endnotes' texts of any document that also
        # has comments (a document made by hand shows it too): the endnotes
        # and comments are read from the package.
        with zipfile.ZipFile(report) as package:
            endnotes = package.read("word/endnotes.xml").decode()
            comments = package.read("word/comments.xml").decode()
        self.assertEqual(3, endnotes.count("> the end<"))
        self.assertEqual(3, comments.count(">remark<"))

    @unittest.skipUnless(os.path.exists(CORPUS_FOOTNOTES), "no corpus document at "
                         + CORPUS_FOOTNOTES + " (set VANTRELLE_CORPUS)")
    def test_corpus_rows_show_their_own_footnotes(self):
        self.assertRunClean("corpus")
        self.assertEqual([], office_templates.mark_problems(self.runs["corpus"][2]))
        text = self.text("corpus")
        self.assertEqual(["1", "2", "3"], re.findall(r"slove(\d)", text))
        self.assertEqual(["1", "2", "3"], re.findall(r"^(\d)\s+snoska$", text, re.M))


if __name__ == "__main__":
    unittest.main(verbosity=2)
