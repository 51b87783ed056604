#!/usr/bin/python3
"""Builds template.docx, the example report's template, with python-docx.

The template holds what a report author would type into a word processor:
fields that show document variables and the date, and three tables whose
cells hold the format patterns of the values the scripts write into them.
Run it again after changing the layout: /usr/bin/python3 make_template.py
"""
from docx import Document
from docx.enum.text import WD_ALIGN_PARAGRAPH
from docx.oxml import OxmlElement
from docx.oxml.ns import qn
from docx.shared import Cm, Pt, RGBColor


def add_field(paragraph, instruction, placeholder, bold=False, size=None):
    """Appends a complex field (begin, instruction, separate, result, end)."""
    def run_with(child):
        run = paragraph.add_run()
        run._r.append(child)
        return run

    begin = OxmlElement("w:fldChar")
    begin.set(qn("w:fldCharType"), "begin")
    run_with(begin)
    instr = OxmlElement("w:instrText")
    instr.set(qn("xml:space"), "preserve")
    instr.text = " %s " % instruction
    run_with(instr)
    separate = OxmlElement("w:fldChar")
    separate.set(qn("w:fldCharType"), "separate")
    run_with(separate)
    result = paragraph.add_run(placeholder)
    result.bold = bold
    if size:
        result.font.size = Pt(size)
    end = OxmlElement("w:fldChar")
    end.set(qn("w:fldCharType"), "end")
    run_with(end)


def add_simple_field(paragraph, instruction, placeholder):
    field = OxmlElement("w:fldSimple")
    field.set(qn("w:instr"), " %s " % instruction)
    run = OxmlElement("w:r")
    text = OxmlElement("w:t")
    text.text = placeholder
    run.append(text)
    field.append(run)
    paragraph._p.append(field)


def shade(cell, color):
    properties = cell._tc.get_or_add_tcPr()
    shading = OxmlElement("w:shd")
    shading.set(qn("w:val"), "clear")
    shading.set(qn("w:color"), "auto")
    shading.set(qn("w:fill"), color)
    properties.append(shading)


def fill_row(table, row, texts, bold=False, fill=None, align_right_from=1):
    for column, text in enumerate(texts):
        cell = table.cell(row, column)
        cell.text = text
        paragraph = cell.paragraphs[0]
        if column >= align_right_from:
            paragraph.alignment = WD_ALIGN_PARAGRAPH.RIGHT
        for run in paragraph.runs:
            run.bold = bold
        if fill:
            shade(cell, fill)


document = Document()
style = document.styles["Normal"]
style.font.name = "DejaVu Sans"
style.font.size = Pt(10)

header = document.sections[0].header.paragraphs[0]
header.add_run("Monthly sales report \u2014 printed ")
add_simple_field(header, 'DATE \\@ "d MMMM yyyy"', "1 January 2000")
header.alignment = WD_ALIGN_PARAGRAPH.RIGHT

title = document.add_paragraph()
add_field(title, "DOCVARIABLE CompanyName \\* MERGEFORMAT", "Company", bold=True, size=20)
subtitle = document.add_paragraph()
subtitle.add_run("Sales report for ").font.color.rgb = RGBColor(0x44, 0x44, 0x44)
add_field(subtitle, "DOCVARIABLE Period", "YYYY-MM", bold=True)

document.add_heading("Summary", level=2)
summary = document.add_table(rows=4, cols=2)
summary.style = "Table Grid"
for row, (label, pattern) in enumerate([
        ("Total sales", "#,##0.00"), ("Orders", "#,##0"),
        ("Average order", "#,##0.00"), ("Last order", "d mmmm yyyy")]):
    fill_row(summary, row, [label, pattern])
    shade(summary.cell(row, 0), "E8EEF7")

document.add_heading("Sales by region", level=2)
regions = document.add_table(rows=3, cols=6)
regions.style = "Table Grid"
fill_row(regions, 0, ["Region", "Orders", "Amount", "Share", "Avg. discount", "Last order"],
         bold=True, fill="DCE6F1")
patterns = ["", "#,##0", "#,##0.00", "0.0%", "0%", "dd mmm"]
fill_row(regions, 1, patterns)
fill_row(regions, 2, patterns)

document.add_heading("Week by week", level=2)
weeks = document.add_table(rows=3, cols=3)
weeks.style = "Table Grid"
for row, (label, pattern) in enumerate([
        ("Week from", "ddd d mmm"), ("Orders", "#,##0"), ("Sales", "#,##0")]):
    fill_row(weeks, row, [label, pattern, pattern])
    shade(weeks.cell(row, 0), "E8EEF7")
    weeks.cell(row, 0).paragraphs[0].runs[0].bold = True
# Narrow columns: the table grows by one column per week of the month.
weeks.autofit = False
for row in weeks.rows:
    for column, cell in enumerate(row.cells):
        cell.width = Cm(2.6 if column == 0 else 2.2)
for column, grid in enumerate(weeks._tbl.tblGrid.findall(qn("w:gridCol"))):
    grid.set(qn("w:w"), str(int((2.6 if column == 0 else 2.2) * 567)))

total = document.add_paragraph()
total.add_run("Total sales in the month: ")
add_field(total, "DOCVARIABLE TotalAmount", "0.00", bold=True)

document.save("template.docx")
