#!/usr/bin/python3
"""End-to-end growth of tables: copies keep their structure, and a pattern row
too large to copy fails its statement with a clear error while the run goes
on, without the memory running away. Reports are read back with python-docx.
"""
import os
import re
import resource
import shutil
import sqlite3
import subprocess
import tempfile
import unittest
import zipfile

import docx
from docx.oxml import OxmlElement
from docx.oxml.ns import qn

from report_folder import EXE, run_once


def bookmark(paragraph, bookmark_id, name):
    start = OxmlElement("w:bookmarkStart")
    start.set(qn("w:id"), str(bookmark_id))
    start.set(qn("w:name"), name)
    end = OxmlElement("w:bookmarkEnd")
    end.set(qn("w:id"), str(bookmark_id))
    paragraph._p.insert(0, start)
    paragraph._p.append(end)


class GrowthRunTest(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="vantrelle_growth_")
        db = sqlite3.connect(os.path.join(self.dir, "data.db"))
        db.execute("CREATE TABLE n (i INTEGER)")
        db.executemany("INSERT INTO n VALUES (?)", [(i,) for i in range(1, 1001)])
        db.commit()
        db.close()

    def tearDown(self):
        shutil.rmtree(self.dir, ignore_errors=True)

    def run_report(self, template, script):
        """Runs \a script on \a template; returns (status, log lines, the
        peak memory in KiB of the run or of an earlier child)."""
        status, log, _ = run_once(self.dir, template, script, name=".",
                                  dsn="sqlite:" + os.path.join(self.dir, "data.db"),
                                  report=os.path.join(self.dir, "report.docx"), timeout=120)
        return status, log, resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss

    def test_huge_pattern_row_fails_its_statement_and_the_run_goes_on(self):
        # A 38 KB template whose pattern cell holds 2 MB: 800 copies would
        # be 1.6 GB of document.
        document = docx.Document()
        table = document.add_table(rows=2, cols=2)
        table.cell(0, 0).text = "C" * (2 << 20)
        table.cell(0, 1).text = "0"
        small = document.add_table(rows=2, cols=1)
        small.cell(0, 0).text = "0"
        template = os.path.join(self.dir, "huge.docx")
        document.save(template)
        status, log, peak_kb = self.run_report(
            template, "@Huge=2;1;1;1\nSELECT i, i FROM n WHERE i <= 800 ORDER BY i\n"
                      "@Small=2;2;1;1\nSELECT i FROM n WHERE i <= 3 ORDER BY i\n")
        self.assertEqual(1, status, "\n".join(log))
        at = log.index("Error: Failed to execute function 2.")
        self.assertTrue(log[at + 1].startswith("Error Info: Cannot insert 798 rows: copies of "),
                        log[at + 1])
        self.assertIn("would take the document beyond its size limit (512 MiB).", log[at + 1])
        self.assertEqual("[SQLFILE1]  [Small]    Success.", log[log.index(
            "[SQLFILE1]  [Small]    SELECT i FROM n WHERE i <= 3 ORDER BY i") + 1])
        self.assertLess(peak_kb, 400 * 1024, "peak memory of the run")
        report = docx.Document(os.path.join(self.dir, "report.docx"))
        self.assertEqual(2, len(report.tables[0].rows), "the huge table is not grown")
        self.assertEqual(["1", "2", "3"], [row.cells[0].text for row in report.tables[1].rows])

    def test_copied_rows_keep_nested_tables_and_bookmarks(self):
        document = docx.Document()
        table = document.add_table(rows=3, cols=2)
        table.cell(0, 0).text = "Label"
        nested = table.cell(0, 0).add_table(rows=1, cols=1)
        nested.cell(0, 0).text = "inner"
        bookmark(table.cell(0, 0).paragraphs[0], 5, "Mark")
        table.cell(0, 1).text = "#,##0"
        table.cell(1, 1).text = "0"
        template = os.path.join(self.dir, "nested.docx")
        document.save(template)
        status, log, _ = self.run_report(
            template, "@G=2;1;1;2\nSELECT i * 1000 FROM n WHERE i <= 4 ORDER BY i\n")
        self.assertEqual(0, status, "\n".join(log))
        report = docx.Document(os.path.join(self.dir, "report.docx"))
        rows = report.tables[0].rows
        self.assertEqual(["1,000", "2,000", "3,000", "4000", ""],
                         [row.cells[1].text for row in rows])
        for row in rows[:3]:
            self.assertEqual("Label", row.cells[0].paragraphs[0].text)
            self.assertEqual(["inner"], [t.cell(0, 0).text for t in row.cells[0].tables])
        with zipfile.ZipFile(os.path.join(self.dir, "report.docx")) as package:
            xml = package.read("word/document.xml").decode()
        names = re.findall(r'<w:bookmarkStart[^>]* w:name="([^"]*)"', xml)
        ids = re.findall(r'<w:bookmarkStart w:id="([^"]*)"', xml)
        self.assertEqual(3, len(set(ids)), ids)
        self.assertEqual(3, len(names), xml)
        self.assertEqual(3, len(set(names)), names)
        self.assertIn("Mark", names)


if __name__ == "__main__":
    unittest.main()


def macro_template(path, kind):
    """The example template made a macro document (.docm) or template
    (.dotm): a macro project, its data, its relationships and types."""
    main_types = {
        "docm": "application/vnd.ms-word.document.macroEnabled.main+xml",
        "dotm": "application/vnd.ms-word.template.macroEnabledTemplate.main+xml"}
    source = os.path.join(os.path.dirname(os.path.abspath(__file__)),
                          "../../examples/monthly/template.docx")
    with zipfile.ZipFile(source) as zin, zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED) as zout:
        for item in zin.infolist():
            data = zin.read(item.filename)
            if item.filename == "[Content_Types].xml":
                data = re.sub(rb'ContentType="application/vnd\.openxmlformats-officedocument\.'
                              rb'wordprocessingml\.document\.main\+xml"',
                              b'ContentType="' + main_types[kind].encode() + b'"', data)
                data = data.replace(b"</Types>", b'<Default Extension="bin" ContentType="application'
                                    b'/vnd.ms-office.vbaProject"/><Override PartName="/word/vbaData'
                                    b'.xml" ContentType="application/vnd.ms-word.vbaData+xml"/>'
                                    b"</Types>")
            if item.filename == "word/_rels/document.xml.rels":
                data = data.replace(b"</Relationships>", b'<Relationship Id="rIdVba" Type="http://'
                                    b'schemas.microsoft.com/office/2006/relationships/vbaProject" '
                                    b'Target="vbaProject.bin"/></Relationships>')
            zout.writestr(item, data)
        zout.writestr("word/vbaProject.bin", b"\xd0\xcf\x11\xe0 not really a project")
        zout.writestr("word/_rels/vbaProject.bin.rels",
                      '<?xml version="1.0" encoding="UTF-8"?><Relationships xmlns="http://schemas.'
                      'openxmlformats.org/package/2006/relationships"><Relationship Id="rId1" '
                      'Type="http://schemas.microsoft.com/office/2006/relationships/wordVbaData" '
                      'Target="vbaData.xml"/></Relationships>')
        zout.writestr("word/vbaData.xml", '<?xml version="1.0"?><wne:vbaSuppData xmlns:wne="http://'
                      'schemas.microsoft.com/office/word/2006/wordml"/>')


class MacroTemplateTest(unittest.TestCase):
    """A .docx report of a macro template holds no macros and opens as a
    document; a .docm report keeps them."""

    def test_macros_go_only_where_the_name_cannot_hold_them(self):
        folder = tempfile.mkdtemp(prefix="vantrelle_macros_")
        self.addCleanup(shutil.rmtree, folder, True)
        for kind, report, kept in (("docm", "r.docx", False), ("dotm", "r.docx", False),
                                   ("docm", "r.dotx", False), ("dotm", "r.docm", True)):
            with self.subTest(kind=kind, report=report):
                template = os.path.join(folder, "template." + kind)
                macro_template(template, kind)
                name = kind + "-" + report.replace(".", "-")
                status, log, path = run_once(folder, template, "@V=3;Period\nSELECT 'May'\n",
                                             name=name, report=os.path.join(folder, name, report))
                self.assertEqual(0, status, log)
                with zipfile.ZipFile(path) as z:
                    names = set(z.namelist())
                    types = z.read("[Content_Types].xml").decode()
                    rels = z.read("word/_rels/document.xml.rels").decode()
                self.assertEqual(kept, "word/vbaProject.bin" in names)
                self.assertEqual(kept, "word/vbaData.xml" in names)
                self.assertEqual(kept, "vbaProject" in rels + types)
                self.assertEqual(kept, "macroEnabled" in types)
                self.assertNotIn("Template.main", types)
                said = [line for line in log if "macros are left out" in line]
                self.assertEqual(0 if kept else 1, len(said), log)
                self.assertEqual(report.endswith(".dotx"), "wordprocessingml.template.main" in types)
                if report.endswith(".docx"):
                    docx.Document(path)  # a reader of documents takes it
                if not kept:
                    check = subprocess.run([EXE, "--check", "-F", "report.ini"], capture_output=True,
                                           text=True, cwd=os.path.dirname(path), timeout=60)
                    self.assertIn("is a %s, which holds no macros: the macros of the template"
                                  % report[-5:], check.stdout)

def spanning_template(path, kind):
    """A table grown by columns from column 2: under a title row of one cell
    across the table ("table") or across the two pattern columns
    ("columns"), or with pattern cells two grid columns wide ("span").
    Returns the begin row."""
    document = docx.Document()
    table = document.add_table(rows=2 if kind == "span" else 3, cols=4 if kind == "span" else 3)
    table.style = "Table Grid"
    first = 0 if kind == "span" else 1
    if kind == "table":
        table.cell(0, 0).merge(table.cell(0, 2)).text = "Title"
    if kind == "columns":
        table.cell(0, 1).merge(table.cell(0, 2)).text = "Weeks"
    for r, (head, pattern) in enumerate((("Week", "@"), ("Orders", "#,##0")), first):
        table.cell(r, 0).text = head
        if kind == "span":
            table.cell(r, 1).merge(table.cell(r, 2)).text = pattern
            table.cell(r, 3).text = pattern
        else:
            table.cell(r, 1).text = table.cell(r, 2).text = pattern
    document.save(path)
    return first + 1


class SpanningColumnGrowthTest(unittest.TestCase):
    """Growth by columns where cells span grid columns: a title across the
    table or across the pattern columns widens over the new columns, a
    pattern two columns wide is copied two columns wide, and every cell is
    as wide as the grid columns it spans."""

    def test_cells_that_span_grid_columns(self):
        folder = tempfile.mkdtemp(prefix="vantrelle_spans_")
        self.addCleanup(shutil.rmtree, folder, True)
        # Ten records: the grown table is narrowed to the page, and its
        # widths rounded.
        words = ["w%d" % n for n in range(1, 11)]
        counts = [str(n * 10) for n in range(1, 11)]
        twice = lambda values: [v for value in values[:-1] for v in (value, value)] + values[-1:]
        # The rows as a reader shows them (a spanning cell once per grid
        # column), and the cells of the first row.
        for kind, rows, first_row_cells in (
                ("table", [["Title"] * 11, ["Week"] + words, ["Orders"] + counts], 1),
                ("columns", [[""] + ["Weeks"] * 10, ["Week"] + words, ["Orders"] + counts], 2),
                ("span", [["Week"] + twice(words), ["Orders"] + twice(counts)], 11)):
            with self.subTest(kind):
                template = os.path.join(folder, kind + ".docx")
                begin = spanning_template(template, kind)
                status, log, path = run_once(
                    folder, template, "@W=2;1;%d;2;1\nWITH RECURSIVE s(n) AS (SELECT 1 UNION ALL "
                    "SELECT n + 1 FROM s WHERE n < 10) SELECT 'w' || n, n * 10 FROM s\n" % begin,
                    name=kind)
                self.assertEqual(0, status, log)
                table = docx.Document(path).tables[0]
                self.assertEqual(rows, [[c.text for c in row.cells] for row in table.rows])
                with zipfile.ZipFile(path) as z:
                    xml = z.read("word/document.xml").decode()
                grid = [int(w) for w in re.findall(r'<w:gridCol w:w="(\d+)"', xml)]
                self.assertAlmostEqual(8640, sum(grid), delta=len(grid))  # the page's text width
                table_rows = re.findall(r"<w:tr[ >].*?</w:tr>", xml, re.S)
                self.assertEqual(first_row_cells, table_rows[0].count("<w:tc>"))
                for row in table_rows:
                    at = 0
                    for cell in re.findall(r"<w:tc>.*?</w:tc>", row, re.S):
                        span = int((re.findall(r'<w:gridSpan w:val="(\d+)"', cell) or [1])[0])
                        width = int(re.findall(r'<w:tcW w:type="dxa" w:w="(\d+)"', cell)[0])
                        self.assertEqual(sum(grid[at:at + span]), width, (kind, row))
                        at += span
                    self.assertEqual(len(grid), at)
