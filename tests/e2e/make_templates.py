#!/usr/bin/python3
"""Builds the Word templates the end-to-end tests and the run benchmark use.

Usage: make_templates.py OUTPUT_FOLDER
Writes fills.docx (the tables of the fill cases, a DOCVARIABLE field and a
DATE field in the header) and grow8.docx (one growing table of 8 columns).
"""
import sys

from docx import Document
from docx.oxml import OxmlElement
from docx.oxml.ns import qn


def add_field(paragraph, instruction, placeholder):
    def run_with(child):
        paragraph.add_run()._r.append(child)
    for kind, text in (("begin", None), ("instr", instruction), ("separate", None)):
        if kind == "instr":
            element = OxmlElement("w:instrText")
            element.set(qn("xml:space"), "preserve")
            element.text = " %s " % text
        else:
            element = OxmlElement("w:fldChar")
            element.set(qn("w:fldCharType"), kind)
        run_with(element)
    paragraph.add_run(placeholder)
    end = OxmlElement("w:fldChar")
    end.set(qn("w:fldCharType"), "end")
    run_with(end)


def table(document, rows):
    result = document.add_table(rows=len(rows), cols=len(rows[0]))
    result.style = "Table Grid"
    for r, row in enumerate(rows):
        for c, text in enumerate(row):
            result.cell(r, c).text = text
    document.add_paragraph()
    return result


def fills(path):
    document = Document()
    header = document.sections[0].header.paragraphs[0]
    header.add_run("Printed ")
    add_field(header, 'DATE \\@ "yyyy-MM-dd"', "2000-01-01")
    title = document.add_paragraph()
    add_field(title, "DOCVARIABLE Title \\* Upper", "old title")
    # 1: in place; heading row, labels in column 1, number and date patterns.
    table(document, [["Name", "Amount", "Date"],
                     ["Label A", "#,##0", "yyyy-mm-dd"],
                     ["Label B", "#,##0", "yyyy-mm-dd"]])
    # 2: grows by rows; a label in column 1 of the pattern row.
    table(document, [["Item", "Amount", "Date"],
                     ["Line", "#,##0.00", "dd/mm/yyyy"],
                     ["Last", "#,##0.00", "dd/mm/yyyy"]])
    # 3: grows by columns; labels in column 1.
    table(document, [["Week", "yyyy-mm-dd", "yyyy-mm-dd"],
                     ["Orders", "#,##0", "#,##0"],
                     ["Share", "0.0%", "0.0%"]])
    # 4: one data row followed by a totals row.
    table(document, [["H1", "H2"], ["#,##0", "0.0"], ["Total", "TOT"]])
    # 5: one data row and nothing below it.
    table(document, [["H1", "H2"], ["#,##0", "0.0"]])
    document.save(path)


def grow8(path):
    document = Document()
    patterns = ["#,##0", "#,##0.00", "0.0%", "yyyy-mm-dd", "", "#,##0.0000", "dd mmm yyyy", "@"]
    # No heading row: 32,767 records fill rows 1 to 32,767, the most a
    # 16-bit row number reaches.
    table(document, [patterns, patterns])
    document.save(path)


if __name__ == "__main__":
    folder = sys.argv[1]
    fills(folder + "/fills.docx")
    grow8(folder + "/grow8.docx")
