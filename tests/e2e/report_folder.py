"""A report in a scratch folder, run through the vantrelle executable: the
helpers the suites on shared servers and on operators' signals share."""
import glob
import hashlib
import os
import shutil
import sqlite3
import subprocess
import tempfile
import time
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
EXE = os.environ.get("VANTRELLE_EXE", os.path.join(HERE, "../../build/vantrelle"))
STAMP_LENGTH = 23
SMALL = "@Var=3;Title\nSELECT 'a title'\n"
# A statement that runs for minutes unless it is stopped.
ENDLESS = ("@Slow=0\nWITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n "
           "WHERE i < 3000000000) SELECT count(*) FROM n\n")


def digest(path):
    with open(path, "rb") as f:
        return hashlib.sha256(f.read()).hexdigest()


def sanitized():
    """Whether the executable is built with AddressSanitizer."""
    with open(EXE, "rb") as f:
        return b"__asan_init" in f.read()


class ReportFolderCase(unittest.TestCase):
    templates = None

    @classmethod
    def setUpClass(cls):
        cls.templates = tempfile.mkdtemp(prefix="vantrelle_e2e_templates_")
        subprocess.run(["/usr/bin/python3", os.path.join(HERE, "make_templates.py"),
                        cls.templates], check=True)

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.templates, ignore_errors=True)

    def setUp(self):
        self.folder = tempfile.mkdtemp(prefix="vantrelle_e2e_")
        os.chmod(self.folder, 0o755)
        self.addCleanup(shutil.rmtree, self.folder, True)
        self.db = os.path.join(self.folder, "data.db")
        sqlite3.connect(self.db).close()
        self.template = os.path.join(self.folder, "template.docx")
        shutil.copy(os.path.join(self.templates, "grow8.docx"), self.template)
        self.report = os.path.join(self.folder, "report.docx")
        self.log = os.path.join(self.folder, "run.log")
        self.ini = os.path.join(self.folder, "report.ini")

    def configure(self, scripts, report=None, log=None, template=None, dsn=None, pdf=None,
                  odbc="", ini=None):
        """Writes the scripts and the configuration file."""
        paths = []
        for i, text in enumerate(scripts, 1):
            path = os.path.join(self.folder, "s%d.sql" % i)
            with open(path, "w") as f:
                f.write(text)
            paths.append(path)
        with open(ini or self.ini, "w") as f:
            f.write("[FILE]\nLogFileName=%s\nReportTemplateFileName=%s\nReportFileName=%s\n"
                    % (log or self.log, template or self.template, report or self.report))
            if pdf:
                f.write("PdfFileName=%s\n" % pdf)
            f.write("[ODBC]\nDSN=%s\n%s" % (dsn or "sqlite:" + self.db, odbc))
            f.write("[SQLFILE]\nF_MAXNUM=%d\n" % len(paths))
            for i, path in enumerate(paths, 1):
                f.write("F%d=%s\n" % (i, path))

    def command(self, ini=None):
        return [EXE, "-C", "-F", ini or self.ini]

    def run_program(self, ini=None, env=None, timeout=120, prefix=()):
        result = subprocess.run(list(prefix) + self.command(ini), capture_output=True, text=True,
                                timeout=timeout, env=env)
        self.stderr = result.stderr
        return result.returncode

    def start(self, ini=None, env=None, prefix=()):
        process = subprocess.Popen(list(prefix) + self.command(ini), stdout=subprocess.DEVNULL,
                                   stderr=subprocess.PIPE, text=True, env=env)
        # A run that a failed test leaves going must not outlive the test.
        self.addCleanup(lambda: process.poll() is None and process.kill())
        self.addCleanup(lambda: process.stderr.close())
        return process

    def wait_for_log(self, text, log=None, timeout=60):
        """Waits until a line of the log holds \a text."""
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            if text in self.log_text(log or self.log):
                return
            time.sleep(0.005)
        self.fail("the log never said %r:\n%s" % (text, self.log_text(log or self.log)))

    def log_lines(self, path=None):
        with open(path or self.log, "rb") as f:
            raw = f.read().decode("utf-8")
        return [line[STAMP_LENGTH:] for line in raw.split("\r\n")[:-1]]

    @staticmethod
    def log_text(path):
        try:
            with open(path, errors="replace") as f:
                return f.read()
        except FileNotFoundError:
            return ""

    def leftovers(self, folder=None):
        """Hidden files of the folder: working copies, saves, lock files."""
        return sorted(os.path.basename(p)
                      for p in glob.glob(os.path.join(folder or self.folder, ".*")))

    def earlier_report(self):
        """Makes a good report with a first run and returns its digest."""
        self.configure([SMALL])
        self.assertEqual(0, self.run_program(), self.stderr)
        return digest(self.report)
