"""What every end-to-end suite shares: the executable, templates, a report's
configuration, one run and its log read back, a second account, and a report
in a scratch folder run as a test case."""
import glob
import hashlib
import os
import pwd
import re
import shutil
import sqlite3
import subprocess
import tempfile
import time
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.normpath(os.path.join(HERE, "../.."))
EXE = os.environ.get("VANTRELLE_EXE", os.path.join(ROOT, "build/vantrelle"))
# Every log line starts with its time stamp: "[YYYYMMDD hh:mm:ss]    ".
STAMP = re.compile(r"^\[\d{8} \d\d:\d\d:\d\d\]    ")
STAMP_LENGTH = 23
SMALL = "@Var=3;Title\nSELECT 'a title'\n"
# A statement that runs for minutes unless it is stopped.
ENDLESS = ("@Slow=0\nWITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n "
           "WHERE i < 3000000000) SELECT count(*) FROM n\n")
# The second local account that plays another user of a shared server.
OTHER = "vantrelle-other"


def digest(path):
    with open(path, "rb") as f:
        return hashlib.sha256(f.read()).hexdigest()


def sanitized():
    """Whether the executable is built with AddressSanitizer, whose shadow
    memory reserves far more address space than any limit set here."""
    with open(EXE, "rb") as f:
        return b"__asan_init" in f.read()


def make_templates(prefix, makers=("make_templates.py",)):
    """A fresh folder holding the templates the \\a makers write."""
    folder = tempfile.mkdtemp(prefix=prefix)
    for maker in makers:
        subprocess.run(["/usr/bin/python3", os.path.join(HERE, maker), folder], check=True,
                       stdout=subprocess.DEVNULL)
    return folder


def remove_folder(folder):
    """Removes \\a folder, whatever modes a case left on what it holds."""
    for root, dirs, files in os.walk(folder):
        for name in dirs + files:
            path = os.path.join(root, name)
            if not os.path.islink(path):
                os.chmod(path, 0o755)
    shutil.rmtree(folder, ignore_errors=True)


def write_configuration(ini, scripts, template, report, log, dsn, pdf=None, odbc="", extra=""):
    """Writes each script text beside \\a ini (s1.sql, s2.sql, ...) and the
    configuration that runs them in their order; returns the scripts' paths."""
    folder = os.path.dirname(ini)
    paths = []
    for i, text in enumerate(scripts, 1):
        path = os.path.join(folder, "s%d.sql" % i)
        with open(path, "w") as f:
            f.write(text)
        paths.append(path)
    with open(ini, "w") as f:
        f.write("[FILE]\nLogFileName=%s\nReportTemplateFileName=%s\nReportFileName=%s\n"
                % (log, template, report))
        if pdf:
            f.write("PdfFileName=%s\n" % pdf)
        f.write("[ODBC]\nDSN=%s\n%s" % (dsn, odbc))
        f.write("[SQLFILE]\nF_MAXNUM=%d\n" % len(paths))
        for i, path in enumerate(paths, 1):
            f.write("F%d=%s\n" % (i, path))
        f.write(extra)
    return paths


def read_log(path):
    """The lines of the run log at \\a path without their time stamps."""
    with open(path, "rb") as f:
        raw = f.read().decode("utf-8")
    return [line[STAMP_LENGTH:] for line in raw.split("\r\n")[:-1]]


def run_once(folder, template, script, name="report", dsn=None, report=None, timeout=300,
             preexec_fn=None):
    """Runs one report of \\a script on \\a template in its own subfolder
    \\a name of \\a folder, on an empty SQLite database unless \\a dsn says
    otherwise, into \a report when given; returns (exit status, log lines
    without stamps, report path)."""
    here = os.path.join(folder, name)
    os.makedirs(here, exist_ok=True)
    ini = os.path.join(here, "report.ini")
    report = report or os.path.join(here, "report.docx")
    log = os.path.join(here, "run.log")
    if dsn is None:
        dsn = "sqlite:" + os.path.join(here, "data.db")
        sqlite3.connect(dsn[len("sqlite:"):]).close()
    write_configuration(ini, [script], template, report, log, dsn)
    status = subprocess.run([EXE, "-C", "-F", ini], capture_output=True, timeout=timeout,
                            preexec_fn=preexec_fn).returncode
    return status, read_log(log), report


def account(name, group=None):
    """The uid of a system account, made when missing."""
    try:
        return pwd.getpwnam(name).pw_uid
    except KeyError:
        command = ["useradd", "--system", "--no-create-home", "--shell", "/usr/sbin/nologin"]
        subprocess.run(command + (["-g", group] if group else []) + [name], check=True)
        return pwd.getpwnam(name).pw_uid


def other_account():
    """The uid of the second account, made when missing; None when not root."""
    return account(OTHER) if os.geteuid() == 0 else None


def as_user(uid, *command, gid=None):
    """\\a command run as \\a uid, with only the group \\a gid (its own uid's
    number unless given)."""
    return ["setpriv", "--reuid=%d" % uid, "--regid=%d" % (uid if gid is None else gid),
            "--clear-groups", "--"] + list(command)


class ReportFolderCase(unittest.TestCase):
    """A report in a scratch folder: a SQLite database, a copy of the
    template \\a template_name, and the report, log and configuration names."""
    templates = None
    template_name = "grow8.docx"

    @classmethod
    def setUpClass(cls):
        cls.templates = make_templates("vantrelle_e2e_templates_")

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.templates, ignore_errors=True)

    def setUp(self):
        self.folder = tempfile.mkdtemp(prefix="vantrelle_e2e_")
        os.chmod(self.folder, 0o755)
        self.addCleanup(remove_folder, self.folder)
        self.db = os.path.join(self.folder, "data.db")
        sqlite3.connect(self.db).close()
        self.template = os.path.join(self.folder, "template.docx")
        shutil.copy(os.path.join(self.templates, self.template_name), self.template)
        self.report = os.path.join(self.folder, "report.docx")
        self.log = os.path.join(self.folder, "run.log")
        self.ini = os.path.join(self.folder, "report.ini")

    def configure(self, scripts, report=None, log=None, template=None, dsn=None, pdf=None,
                  odbc="", ini=None, extra=""):
        """Writes the scripts and the configuration file."""
        write_configuration(ini or self.ini, scripts, template or self.template,
                            report or self.report, log or self.log, dsn or "sqlite:" + self.db,
                            pdf=pdf, odbc=odbc, extra=extra)

    def command(self, ini=None, args=()):
        return [EXE, "-C", "-F", ini or self.ini, *args]

    def run_program(self, ini=None, env=None, timeout=300, prefix=(), user=None,
                    preexec_fn=None, args=()):
        """Runs the report (as \\a user when given) and returns its exit status;
        what it wrote on standard error is kept in self.stderr."""
        if user is not None:
            prefix = as_user(user)
        result = subprocess.run(list(prefix) + self.command(ini, args), capture_output=True,
                                text=True, timeout=timeout, env=env, preexec_fn=preexec_fn)
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
        """Waits until a line of the log holds \\a text."""
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            if text in self.log_text(log or self.log):
                return
            time.sleep(0.005)
        self.fail("the log never said %r:\n%s" % (text, self.log_text(log or self.log)))

    def log_lines(self, path=None):
        return read_log(path or self.log)

    @staticmethod
    def log_text(path):
        try:
            with open(path, errors="replace") as f:
                return f.read()
        except FileNotFoundError:
            return ""

    def leftovers(self, folder=None):
        """What a run may leave in the folder: hidden working copies, saves
        and lock files, and save temporaries (NAME.XXXXXX)."""
        folder = folder or self.folder
        return sorted(os.path.basename(p) for p in glob.glob(os.path.join(folder, ".*"))
                      + glob.glob(os.path.join(folder, "*.??????")))

    def earlier_report(self, scripts=(SMALL,)):
        """Makes a good report with a first run and returns its digest."""
        self.configure(list(scripts))
        self.assertEqual(0, self.run_program(), self.stderr)
        return digest(self.report)

    def unprivileged(self):
        """The user id to run as: nobody when running as root (the folder and
        its files then open to everyone), else None: ourselves."""
        if os.geteuid() != 0:
            return None
        if shutil.which("setpriv") is None:
            self.skipTest("setpriv is missing; the permission cases need an unprivileged user")
        os.chmod(self.folder, 0o777)
        for name in os.listdir(self.folder):
            os.chmod(os.path.join(self.folder, name), 0o666)
        return 65534
