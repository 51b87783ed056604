#!/usr/bin/python3
"""Templates for the reports that LibreOffice reads back: fields with
pictures, results over several paragraphs, fields in notes, comments and
text boxes, breaks in cells, data-bound content controls around cells.

Built with python-docx; the parts it cannot make (notes, comments, text boxes
with their fallback, content controls) are written as XML.
"""
import collections
import re
import struct
import zipfile
import zlib

from docx import Document
from docx.oxml import parse_xml

W = "http://schemas.openxmlformats.org/wordprocessingml/2006/main"
NAMESPACES = (
    'xmlns:w="%s" '
    'xmlns:mc="http://schemas.openxmlformats.org/markup-compatibility/2006" '
    'xmlns:wp="http://schemas.openxmlformats.org/drawingml/2006/wordprocessingDrawing" '
    'xmlns:a="http://schemas.openxmlformats.org/drawingml/2006/main" '
    'xmlns:wps="http://schemas.microsoft.com/office/word/2010/wordprocessingShape" '
    'xmlns:v="urn:schemas-microsoft-com:vml" '
    'xmlns:r="http://schemas.openxmlformats.org/officeDocument/2006/relationships"' % W)
RELS = "http://schemas.openxmlformats.org/officeDocument/2006/relationships/"


def field_runs(instruction, result):
    """The runs of a complex field, as XML text."""
    return ('<w:r><w:fldChar w:fldCharType="begin"/></w:r>'
            '<w:r><w:instrText xml:space="preserve"> %s </w:instrText></w:r>'
            '<w:r><w:fldChar w:fldCharType="separate"/></w:r>'
            '<w:r><w:t xml:space="preserve">%s</w:t></w:r>'
            '<w:r><w:fldChar w:fldCharType="end"/></w:r>' % (instruction, result))


def paragraph(inner):
    return '<w:p %s>%s</w:p>' % (NAMESPACES, inner)


def text_run(text):
    return '<w:r><w:t xml:space="preserve">%s</w:t></w:r>' % text


def append_xml(document, xml):
    body = document.element.body
    body.insert(len(body) - 1, parse_xml(xml))  # before the section properties


def text_box(instruction, runs=None):
    """A text box as current readers write it, with its VML fallback; both
    hold the field with an old result, or \\a runs when given."""
    content = '<w:txbxContent><w:p>%s</w:p></w:txbxContent>'
    choice = content % (runs or field_runs(instruction, "old box"))
    fallback = content % (runs or field_runs(instruction, "old fallback"))
    return (
        '<w:r><mc:AlternateContent><mc:Choice Requires="wps"><w:drawing>'
        '<wp:anchor distT="0" distB="0" distL="0" distR="0" simplePos="0" relativeHeight="1" '
        'behindDoc="0" locked="0" layoutInCell="1" allowOverlap="1"><wp:simplePos x="0" y="0"/>'
        '<wp:positionH relativeFrom="column"><wp:posOffset>0</wp:posOffset></wp:positionH>'
        '<wp:positionV relativeFrom="paragraph"><wp:posOffset>0</wp:posOffset></wp:positionV>'
        '<wp:extent cx="2743200" cy="457200"/><wp:effectExtent l="0" t="0" r="0" b="0"/>'
        '<wp:wrapTopAndBottom/><wp:docPr id="1" name="Box"/><wp:cNvGraphicFramePr/>'
        '<a:graphic><a:graphicData uri="http://schemas.microsoft.com/office/word/2010/'
        'wordprocessingShape"><wps:wsp><wps:cNvSpPr txBox="1"/><wps:spPr><a:xfrm><a:off x="0" '
        'y="0"/><a:ext cx="2743200" cy="457200"/></a:xfrm><a:prstGeom prst="rect"><a:avLst/>'
        '</a:prstGeom></wps:spPr><wps:txbx>' + choice +
        '</wps:txbx><wps:bodyPr/></wps:wsp></a:graphicData></a:graphic></wp:anchor></w:drawing>'
        '</mc:Choice><mc:Fallback><w:pict><v:shape id="Box" style="width:216pt;height:36pt" '
        'type="#_x0000_t202"><v:textbox>' + fallback +
        '</v:textbox></v:shape></w:pict></mc:Fallback></mc:AlternateContent></w:r>')


def note_part(root, item, instruction):
    separators = ''.join(
        '<w:%s w:type="%s" w:id="%d"><w:p><w:r><w:%s/></w:r></w:p></w:%s>'
        % (item, kind, number, mark, item)
        for kind, number, mark in (("separator", -1, "separator"),
                                   ("continuationSeparator", 0, "continuationSeparator")))
    return ('<?xml version="1.0" encoding="UTF-8" standalone="yes"?>\n<w:%s %s>%s'
            '<w:%s w:id="1"><w:p><w:r><w:rPr><w:vertAlign w:val="superscript"/></w:rPr>'
            '<w:%sRef/></w:r>%s</w:p></w:%s></w:%s>'
            % (root, NAMESPACES, separators, item, item, text_run(" ") +
               field_runs(instruction, "old " + item), item, root))


def comments_part(instruction):
    return ('<?xml version="1.0" encoding="UTF-8" standalone="yes"?>\n<w:comments %s>'
            '<w:comment w:id="0" w:author="Test" w:initials="T"><w:p>%s</w:p></w:comment>'
            '</w:comments>' % (NAMESPACES, field_runs(instruction, "old comment")))


def add_parts(path, parts, relationships):
    """Rewrites the package at \\a path with extra \\a parts (name: (content
    type or None, XML)) related to the main part by \\a relationships (type:
    target)."""
    with zipfile.ZipFile(path) as source:
        entries = [(item, source.read(item.filename)) for item in source.infolist()]
    with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED) as target:
        for item, data in entries:
            if item.filename == "[Content_Types].xml":
                overrides = "".join('<Override PartName="/%s" ContentType="%s"/>' % (name, kind)
                                    for name, (kind, _) in parts.items() if kind)
                data = data.replace(b"</Types>", overrides.encode() + b"</Types>")
            elif item.filename == "word/_rels/document.xml.rels":
                rels = "".join('<Relationship Id="rIdExtra%d" Type="%s%s" Target="%s"/>'
                               % (i, RELS, kind, name)
                               for i, (kind, name) in enumerate(relationships.items()))
                data = data.replace(b"</Relationships>", rels.encode() + b"</Relationships>")
            target.writestr(item, data)
        for name, (_, xml) in parts.items():
            target.writestr(name, xml.encode())


def fields_template(path):
    """Fields the run must compute: numeric and date pictures, a result over
    three paragraphs, and fields in notes, a comment and a text box."""
    document = Document()
    append_xml(document, paragraph(text_run("Amount: ") +
                                   field_runs('DOCVARIABLE Amount \\# "#,##0.00"', "1234.5")))
    append_xml(document, paragraph(text_run("Negative: ") + field_runs(
        'DOCVARIABLE Loss \\# "$,0.00;($,0.00)"', "-98765.432")))
    append_xml(document, paragraph(text_run("Month: ") + field_runs(
        'DOCVARIABLE Month \\@ "MMMM yyyy" \\* Upper', "2004-05-01")))
    append_xml(document, paragraph(text_run("Region: ") +
                                   field_runs('DOCVARIABLE Region \\# "0.00"', "old region")))
    # A result that spans three paragraphs.
    multi = field_runs("DOCVARIABLE Multi", "old one").split(
        '<w:r><w:fldChar w:fldCharType="end"/></w:r>')[0]
    append_xml(document, paragraph(text_run("Multi: ") + multi))
    append_xml(document, paragraph(text_run("old two")))
    append_xml(document, paragraph(text_run("old three") +
                                   '<w:r><w:fldChar w:fldCharType="end"/></w:r>' +
                                   text_run(" and the rest")))
    append_xml(document, paragraph(
        text_run("Noted") + '<w:r><w:rPr><w:vertAlign w:val="superscript"/></w:rPr>'
        '<w:footnoteReference w:id="1"/></w:r>' + text_run(" and ended") +
        '<w:r><w:rPr><w:vertAlign w:val="superscript"/></w:rPr><w:endnoteReference w:id="1"/>'
        '</w:r>' + '<w:commentRangeStart w:id="0"/>' + text_run(" commented") +
        '<w:commentRangeEnd w:id="0"/><w:r><w:commentReference w:id="0"/></w:r>'))
    append_xml(document, paragraph(text_box("DOCVARIABLE Box")))
    append_xml(document, paragraph(text_run("End of fields.")))
    document.save(path)
    add_parts(path, {
        "word/footnotes.xml": (
            "application/vnd.openxmlformats-officedocument.wordprocessingml.footnotes+xml",
            note_part("footnotes", "footnote", "DOCVARIABLE Note")),
        "word/endnotes.xml": (
            "application/vnd.openxmlformats-officedocument.wordprocessingml.endnotes+xml",
            note_part("endnotes", "endnote", "DOCVARIABLE EndNote \\* Upper")),
        "word/comments.xml": (
            "application/vnd.openxmlformats-officedocument.wordprocessingml.comments+xml",
            comments_part("DOCVARIABLE Remark")),
    }, {"footnotes": "footnotes.xml", "endnotes": "endnotes.xml", "comments": "comments.xml"})


def png(path):
    """A small picture: a 4 x 4 blue square."""
    def chunk(kind, data):
        return (struct.pack(">I", len(data)) + kind + data
                + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF))
    rows = b"".join(b"\x00" + b"\x20\x40\xC0" * 4 for _ in range(4))
    with open(path, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", 4, 4, 8, 2, 0, 0, 0))
                + chunk(b"IDAT", zlib.compress(rows)) + chunk(b"IEND", b""))


def marks_template(path):
    """Table 1's pattern row (row 2) holds what a copy must not repeat: a
    footnote, an endnote and a comment beside its label, a picture and a text
    box; its value column holds a number pattern."""
    document = Document()
    table = document.add_table(rows=3, cols=4)
    table.style = "Table Grid"
    for column, text in enumerate(["Item", "Value", "Picture", "Box"]):
        table.cell(0, column).text = text
    label = table.cell(1, 0).paragraphs[0]
    label._p.append(parse_xml('<w:commentRangeStart %s w:id="0"/>' % NAMESPACES))
    label._p.append(parse_xml('<w:r %s><w:t>Item</w:t></w:r>' % NAMESPACES))
    label._p.append(parse_xml('<w:commentRangeEnd %s w:id="0"/>' % NAMESPACES))
    for mark in ('<w:commentReference w:id="0"/>', '<w:footnoteReference w:id="1"/>',
                 '<w:endnoteReference w:id="1"/>'):
        label._p.append(parse_xml('<w:r %s><w:rPr><w:vertAlign w:val="superscript"/></w:rPr>%s'
                                  '</w:r>' % (NAMESPACES, mark)))
    table.cell(1, 1).text = "#,##0"
    picture = path + ".png"
    png(picture)
    table.cell(1, 2).paragraphs[0].add_run().add_picture(picture)
    table.cell(1, 3)._tc.remove(table.cell(1, 3).paragraphs[0]._p)
    box = text_box(None, text_run("boxed")).replace('<wp:docPr id="1"', '<wp:docPr id="7"')
    table.cell(1, 3)._tc.append(parse_xml(paragraph(box)))
    table.cell(2, 0).text = "Total"
    table.cell(2, 1).text = "0"
    # A note after the table, numbered after the rows' notes.
    append_xml(document, paragraph(text_run("Later") + '<w:r><w:rPr><w:vertAlign '
                                   'w:val="superscript"/></w:rPr><w:footnoteReference w:id="2"/>'
                                   '</w:r>'))
    document.save(path)
    note = '<w:%s w:id="1"><w:p><w:r><w:rPr><w:vertAlign w:val="superscript"/></w:rPr><w:%sRef/>' \
           '</w:r>%s</w:p></w:%s>'
    add_parts(path, {
        "word/footnotes.xml": (
            "application/vnd.openxmlformats-officedocument.wordprocessingml.footnotes+xml",
            note_part("footnotes", "footnote", "DOCVARIABLE Note").split(
                '<w:footnote w:id="1">')[0] + note % ("footnote", "footnote",
                                                     text_run(" the note"), "footnote")
            + (note % ("footnote", "footnote", text_run(" the later note"), "footnote")).replace(
                'w:id="1"', 'w:id="2"') + "</w:footnotes>"),
        "word/endnotes.xml": (
            "application/vnd.openxmlformats-officedocument.wordprocessingml.endnotes+xml",
            note_part("endnotes", "endnote", "DOCVARIABLE Note").split(
                '<w:endnote w:id="1">')[0] + note % ("endnote", "endnote", text_run(" the end"),
                                                    "endnote")
            + "</w:endnotes>"),
        "word/comments.xml": (
            "application/vnd.openxmlformats-officedocument.wordprocessingml.comments+xml",
            '<?xml version="1.0" encoding="UTF-8" standalone="yes"?>\n<w:comments %s>'
            '<w:comment w:id="0" w:author="Test" w:initials="T"><w:p>%s</w:p></w:comment>'
            '</w:comments>' % (NAMESPACES, text_run("remark"))),
    }, {"footnotes": "footnotes.xml", "endnotes": "endnotes.xml", "comments": "comments.xml"})


def mark_problems(path):
    """What breaks the unique marks of the package at \\a path, as lines: ids
    used twice, notes and comments referred to twice or not at all."""
    problems = []
    counts = collections.Counter()
    references = collections.Counter()
    defined = set()
    with zipfile.ZipFile(path) as package:
        for name in package.namelist():
            # The settings name the separators among the notes: no notes.
            if not name.startswith("word/") or not name.endswith(".xml") or "settings" in name:
                continue
            text = package.read(name).decode("utf-8")
            for kind, pattern in (("paragraph id", r'w14:paraId="([^"]+)"'),
                                  ("drawing id", r'<wp:docPr [^>]*?\bid="([^"]+)"'),
                                  ("shape id", r'<v:(?!shapetype)\w+ [^>]*?\bid="([^"]+)"')):
                if "commentsExtended" not in name and "commentsIds" not in name:
                    counts.update((kind, value) for value in re.findall(pattern, text))
            for kind in ("footnote", "endnote", "comment"):
                references.update((kind, value) for value in
                                  re.findall(r'<w:%sReference [^>]*?w:id="([^"]+)"' % kind, text))
                # Separators (a note with a type) are not referred to.
                defined.update((kind, value) for attributes, value in re.findall(
                    r'<w:%s ((?:(?!w:id=)[^>])*)w:id="([^"]+)"' % kind, text)
                    if "w:type" not in attributes)
    problems += ["%s %s used %d times" % (kind, value, n) for (kind, value), n in counts.items()
                 if n > 1]
    problems += ["%s %s referred to %d times" % (kind, value, n)
                 for (kind, value), n in references.items() if n > 1]
    problems += ["%s %s does not exist" % key for key in references if key not in defined]
    problems += ["%s %s is referred to nowhere" % key for key in defined if key not in references]
    return sorted(problems)


def control(inner, bound=True):
    binding = ('<w:dataBinding w:xpath="/data/value" w:storeItemID="{00000000-0000-0000-0000-'
               '000000000009}"/>' if bound else '<w:tag w:val="kept"/>')
    return '<w:sdt><w:sdtPr>%s</w:sdtPr><w:sdtContent>%s</w:sdtContent></w:sdt>' % (binding,
                                                                                   inner)


def cell(text):
    return '<w:tc><w:p>%s</w:p></w:tc>' % text_run(text)


def tables_template(path):
    """Table 1 grows and receives texts with page and column breaks; tables 2
    to 4 sit in, or hold, controls bound to data: around the table, around a
    row, around a cell."""
    document = Document()
    table = document.add_table(rows=3, cols=2)
    table.style = "Table Grid"
    for r, (a, b) in enumerate([("Item", "Text"), ("Line", "@"), ("Last", "@")]):
        table.cell(r, 0).text = a
        table.cell(r, 1).text = b
    document.add_paragraph()
    grid = '<w:tblGrid><w:gridCol w:w="3000"/><w:gridCol w:w="3000"/></w:tblGrid>'
    style = '<w:tblPr><w:tblStyle w:val="TableGrid"/><w:tblW w:w="0" w:type="auto"/></w:tblPr>'
    tables = [
        control('<w:tbl %s>%s%s<w:tr>%s%s</w:tr></w:tbl>'
                % (NAMESPACES, style, grid, cell("table bound"), cell("x"))),
        '<w:tbl %s>%s%s%s</w:tbl>' % (NAMESPACES, style, grid,
                                       control('<w:tr>%s%s</w:tr>' % (cell("row bound"),
                                                                      cell("x")))),
        '<w:tbl %s>%s%s<w:tr>%s%s</w:tr></w:tbl>'
        % (NAMESPACES, style, grid, control(cell("cell bound")), cell("x")),
    ]
    for xml in tables:
        if xml.startswith("<w:sdt>"):
            xml = xml.replace("<w:sdt>", "<w:sdt %s>" % NAMESPACES, 1)
        append_xml(document, xml)
        append_xml(document, paragraph(""))
    document.save(path)
    # The data the controls are bound to: a reader that applies bindings
    # shows it instead of the cell's text.
    store = "{00000000-0000-0000-0000-000000000009}"
    add_parts(path, {
        "customXml/item9.xml": (None, "<data><value>BOUND DATA</value></data>"),
        "customXml/itemProps9.xml": (
            "application/vnd.openxmlformats-officedocument.customXmlProperties+xml",
            '<?xml version="1.0" encoding="UTF-8" standalone="no"?>\n<ds:datastoreItem '
            'ds:itemID="%s" xmlns:ds="http://schemas.openxmlformats.org/officeDocument/2006/'
            'customXml"><ds:schemaRefs/></ds:datastoreItem>' % store),
        "customXml/_rels/item9.xml.rels": (
            None, '<?xml version="1.0" encoding="UTF-8" standalone="yes"?>\n<Relationships '
            'xmlns="http://schemas.openxmlformats.org/package/2006/relationships"><Relationship '
            'Id="rId1" Type="%scustomXmlProps" Target="itemProps9.xml"/></Relationships>' % RELS),
    }, {"customXml": "../customXml/item9.xml"})


if __name__ == "__main__":
    import sys
    fields_template(sys.argv[1] + "/fields.docx")
    tables_template(sys.argv[1] + "/tables.docx")
    marks_template(sys.argv[1] + "/marks.docx")
