#!/usr/bin/python3
"""Independent check of documents written by the document engine.

Usage: check_docx.py ORIGINAL DOCUMENT EXPECTED [ORIGINAL DOCUMENT EXPECTED ...]

Opens each DOCUMENT with python-docx and checks that every line of the
EXPECTED file (UTF-8, one cell text per line) is the text of some table cell.
Where python-docx cannot open the ORIGINAL either (ISO 29500 Strict form,
macro-enabled content types, parts missing in the original), the document is
read with the standard library's zip and XML modules instead. Prints one
line per problem and exits 1 when there was any.
"""
import sys
import zipfile
import xml.etree.ElementTree as ET

STRICT_W = "http://purl.oclc.org/ooxml/wordprocessingml/main"
W = "http://schemas.openxmlformats.org/wordprocessingml/2006/main"


def cell_texts_docx(path):
    import docx
    from docx.oxml.ns import qn
    from docx.text.paragraph import Paragraph

    document = docx.Document(path)
    texts = set()
    # Paragraphs of a cell may sit in a content control inside it.
    for tc in document.element.body.iter(qn("w:tc")):
        texts.add("\n".join(Paragraph(p, None).text for p in tc.iter(qn("w:p"))))
    return texts


def opens_with_python_docx(path):
    import docx
    try:
        docx.Document(path)
        return True
    except Exception:
        return False


def cell_texts_plain(path):
    with zipfile.ZipFile(path) as package:
        rels = ET.fromstring(package.read("_rels/.rels"))
        main = "word/document.xml"
        for rel in rels:
            if rel.get("Type", "").endswith("/officeDocument"):
                main = rel.get("Target").lstrip("/")
        root = ET.fromstring(package.read(main))
    texts = set()
    for ns in (STRICT_W, W):
        for tc in root.iter("{%s}tc" % ns):
            paragraphs = []
            for p in tc.iter("{%s}p" % ns):
                paragraphs.append("".join(t.text or "" for t in p.iter("{%s}t" % ns)))
            texts.add("\n".join(paragraphs))
    return texts


def main(args):
    problems = 0
    for original, path, expected_file in zip(args[0::3], args[1::3], args[2::3]):
        try:
            with zipfile.ZipFile(path) as package:
                bad = package.testzip()
                if bad:
                    print(f"{path}: bad entry {bad}")
                    problems += 1
            if opens_with_python_docx(original):
                texts = cell_texts_docx(path)
            else:
                texts = cell_texts_plain(path)
        except Exception as error:  # any failure to read is a finding
            print(f"{path}: cannot be read: {error!r}")
            problems += 1
            continue
        with open(expected_file, encoding="utf-8") as f:
            for line in f.read().splitlines():
                if line and line not in texts:
                    print(f"{path}: cell text {line!r} not found")
                    problems += 1
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
