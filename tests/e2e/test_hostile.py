#!/usr/bin/python3
"""Templates that arrive damaged or hostile, run through the vantrelle executable.

Each one must end the run with exit status 1 and one clear error that says
what is wrong with the template, write nothing outside the report's folder,
leave no report and no temporary file behind, and stay within bounded memory
and time.
"""
import io
import os
import resource
import shutil
import sqlite3
import subprocess
import tempfile
import unittest
import zipfile

from report_folder import EXE, make_templates, read_log, sanitized, write_configuration

SANITIZED = sanitized()
W = "http://schemas.openxmlformats.org/wordprocessingml/2006/main"


def base_parts():
    """The entries of the grow8 template, name -> bytes, in their order."""
    folder = make_templates("vantrelle_hostile_base_")
    try:
        with zipfile.ZipFile(os.path.join(folder, "grow8.docx")) as package:
            return [(item.filename, package.read(item.filename)) for item in package.infolist()]
    finally:
        shutil.rmtree(folder, ignore_errors=True)


def write_package(path, entries):
    """Writes \a entries (name, bytes) as they are, duplicates included."""
    with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED) as package:
        for name, data in entries:
            info = zipfile.ZipInfo(name, date_time=(2020, 1, 1, 0, 0, 0))
            info.compress_type = zipfile.ZIP_DEFLATED
            package.writestr(info, data)


def replaced(entries, name, data):
    return [(n, data if n == name else d) for n, d in entries]


def document_xml(body):
    return ('<?xml version="1.0" encoding="UTF-8" standalone="yes"?>'
            '<w:document xmlns:w="%s"><w:body>%s</w:body></w:document>' % (W, body)).encode()


class HostileTemplateCase(unittest.TestCase):
    parts = None

    @classmethod
    def setUpClass(cls):
        cls.parts = base_parts()

    def setUp(self):
        # The sandbox holds the report's folder; nothing else in it, nor in
        # /tmp, may change.
        self.sandbox = tempfile.mkdtemp(prefix="vantrelle_hostile_")
        self.folder = os.path.join(self.sandbox, "a", "b", "reports")
        os.makedirs(self.folder)
        sqlite3.connect(os.path.join(self.folder, "data.db")).close()
        self.report = os.path.join(self.folder, "report.docx")
        self.log = os.path.join(self.folder, "run.log")

    def tearDown(self):
        shutil.rmtree(self.sandbox, ignore_errors=True)

    def tree(self):
        found = set()
        for root, dirs, files in os.walk(self.sandbox):
            if os.path.abspath(root).startswith(self.folder):
                continue
            for name in dirs + files:
                found.add(os.path.join(root, name))
        return found

    def run_with(self, template, timeout=120):
        """Runs a report on \a template; returns (status, error lines)."""
        ini = os.path.join(self.folder, "report.ini")
        write_configuration(ini, ["@Title=3;Title\nSELECT 'a title'\n"], template, self.report,
                            self.log, "sqlite:" + os.path.join(self.folder, "data.db"))
        outside = self.tree()
        tmp_before = set(os.listdir("/tmp"))
        limit = None if SANITIZED else lambda: resource.setrlimit(
            resource.RLIMIT_AS, (3 << 30, 3 << 30))
        result = subprocess.run([EXE, "-C", "-F", ini], capture_output=True, timeout=timeout,
                                preexec_fn=limit)
        lines = read_log(self.log)
        self.assertEqual(outside, self.tree(), "files written outside the report's folder")
        self.assertEqual(set(), {name for name in set(os.listdir("/tmp")) - tmp_before
                                 if "evil" in name})
        self.assertFalse(os.path.exists(self.report))
        leftovers = [n for n in os.listdir(self.folder)
                     if n not in ("data.db", "s1.sql", "report.ini", "run.log")]
        self.assertEqual([], leftovers)
        errors = [line for line in lines if line.startswith("Error")]
        return result.returncode, errors

    def assert_refused(self, template, *reasons):
        status, errors = self.run_with(template)
        self.assertEqual(1, status, errors)
        self.assertEqual(['Error: Failed to open the report file "%s".' % self.report], errors[:1])
        self.assertEqual(2, len(errors), errors)
        # Named by the template, the file to mend (not the report's copy).
        self.assertTrue(errors[1].startswith("Error Info: "), errors[1])
        self.assertIn('"%s"' % template, errors[1])
        for reason in reasons:
            self.assertIn(reason, errors[1])

    def template(self, name, entries=None, data=None):
        path = os.path.join(self.sandbox, name)
        if entries is not None:
            write_package(path, entries)
        else:
            with open(path, "wb") as f:
                f.write(data)
        return path

    # -- damaged packages ----------------------------------------------------
    def test_entry_names_that_mean_two_things_or_point_outside(self):
        document = dict(self.parts)["word/document.xml"]
        cases = [
            ("twice.docx", self.parts + [("word/document.xml", document)],
             '"word/document.xml" appears twice'),
            ("case.docx", self.parts + [("WORD/DOCUMENT.XML", document)], "differ only in case"),
            ("up.docx", self.parts + [("../../evil.txt", b"x")], '"../../evil.txt"'),
            ("deep_up.docx", self.parts + [("word/../../../evil.txt", b"x")], "evil.txt"),
            ("absolute.docx", self.parts + [("/tmp/vantrelle_evil.txt", b"x")],
             "has an absolute name"),
        ]
        for name, entries, reason in cases:
            with self.subTest(name):
                self.assert_refused(self.template(name, entries), "damaged", reason)

    def huge_main_part(self, name, piece, times, level):
        """A template whose main part's body is \a piece \a times over,
        written as a stream so that the test never holds it whole."""
        path = os.path.join(self.sandbox, name)
        with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED, compresslevel=level) as package:
            for entry, data in self.parts:
                if entry != "word/document.xml":
                    package.writestr(entry, data)
            with package.open("word/document.xml", "w", force_zip64=True) as part:
                part.write(b'<?xml version="1.0"?><w:document xmlns:w="%s"><w:body>'
                           % W.encode())
                for _ in range(times):
                    part.write(piece)
                part.write(b"</w:body></w:document>")
        return path

    def assert_peak_below(self, mib):
        # The sanitizers' own bookkeeping makes the figure meaningless there.
        if not SANITIZED:
            peak_kib = resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss
            self.assertLess(peak_kib, mib * 1024)

    def test_zip_bomb_is_refused_within_bounded_memory(self):
        # 600 MiB of blanks in the main part, deflated to well under a megabyte.
        path = self.huge_main_part("bomb.docx", b" " * (1 << 24), 600 >> 4, 9)
        self.assertLess(os.path.getsize(path), 4 << 20)
        self.assert_refused(path, "word/document.xml")
        # The whole part is never held: far less than its 600 MiB.
        self.assert_peak_below(400)

    def test_millions_of_tiny_elements_are_refused_within_bounded_memory(self):
        # 120 MiB of empty paragraphs: each would take some 64 bytes parsed.
        path = self.huge_main_part("nodes.docx", b"<w:p/>" * (1 << 20), 20, 1)
        # A package of under a megabyte gets the smallest budget, not a gigabyte.
        self.assertLess(os.path.getsize(path), 4 << 20)
        self.assert_refused(path, "word/document.xml", "too many XML elements",
                            "more than the 256 MiB a document may take")
        self.assert_peak_below(400)

    def test_entity_expansion_and_deep_nesting(self):
        laughs = ('<?xml version="1.0"?><!DOCTYPE w:document [<!ENTITY a "ha">'
                  + "".join('<!ENTITY %s "&%s;&%s;&%s;&%s;&%s;&%s;&%s;&%s;&%s;&%s;">'
                            % ((chr(98 + i),) + (chr(97 + i),) * 10) for i in range(9))
                  + ']><w:document xmlns:w="%s"><w:body><w:p><w:r><w:t>&j;</w:t></w:r></w:p>'
                  '</w:body></w:document>' % W).encode()
        deep = document_xml("<w:p>" + "<w:r>" * 200000 + "</w:r>" * 200000 + "</w:p>")
        external = ('<?xml version="1.0"?><!DOCTYPE w:document [<!ENTITY x SYSTEM '
                    '"file:///etc/passwd">]><w:document xmlns:w="%s"><w:body><w:p><w:r>'
                    '<w:t>&x;</w:t></w:r></w:p></w:body></w:document>' % W).encode()
        cases = [("laughs.docx", laughs, "document type declaration"),
                 ("deep.docx", deep, "nest"),
                 ("external.docx", external, "document type declaration")]
        for name, xml, reason in cases:
            with self.subTest(name):
                path = self.template(name, replaced(self.parts, "word/document.xml", xml))
                self.assert_refused(path, "word/document.xml", reason)

    # -- files that are no package -------------------------------------------
    def test_files_that_are_not_packages_say_what_they_are(self):
        compound = b"\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1" + b"\0" * 504
        word = compound + "WordDocument".encode("utf-16-le") + b"\0" * 1024
        encrypted = compound + "EncryptionInfo".encode("utf-16-le") + b"\0" * 1024
        odt = io.BytesIO()
        with zipfile.ZipFile(odt, "w") as package:
            package.writestr("mimetype", "application/vnd.oasis.opendocument.text")
            package.writestr("content.xml", "<office:document-content/>")
        cases = [
            ("empty.docx", b"", "empty (0 bytes)"),
            ("old.doc", word, "old binary Word document", "save it as"),
            ("locked.docx", encrypted, "encrypted"),
            ("letter.rtf", b"{\\rtf1\\ansi hello}", "RTF", "save it as"),
            ("letter.odt", odt.getvalue(), "OpenDocument text", "File > Save As"),
            ("text.docx", b"just text, no zip", ""),
        ]
        for name, data, *reasons in cases:
            with self.subTest(name):
                self.assert_refused(self.template(name, data=data), *reasons)

    def test_pipes_and_devices_are_never_read(self):
        fifo = os.path.join(self.sandbox, "pipe.docx")
        os.mkfifo(fifo)
        zero = os.path.join(self.sandbox, "zero.docx")
        os.symlink("/dev/zero", zero)
        for path in (fifo, zero):
            with self.subTest(os.path.basename(path)):
                status, errors = self.run_with(path, timeout=60)
                self.assertEqual(1, status, errors)
                self.assertEqual(2, len(errors), errors)
                self.assertIn('"%s"' % path, errors[1])


if __name__ == "__main__":
    unittest.main(verbosity=2)
