#!/usr/bin/python3
"""Reports run on a shared server, where other local users can write the
report's and the log's folders, through the vantrelle executable.

A second, unprivileged account plays the other user: it plants links, pipes
and devices at the outputs' names and swaps the report for a link while the
PDF is being made. The run never writes through a planted name, never hands
another program a name someone else can swap, creates files with the modes
the umask allows, keeps passwords and terminal control out of its log, and
its PDF converter fetches nothing a template links to.
"""
import collections
import grp
import http.server
import os
import shutil
import socket
import stat
import subprocess
import threading
import unittest
import zipfile

from office_templates import png
from report_folder import (OTHER, SMALL, ReportFolderCase, account, as_user, digest, other_account,
                           sanitized)

SANITIZED = sanitized()
UMASK = os.umask(0o022)
os.umask(UMASK)


class SharedServerCase(ReportFolderCase):
    def setUp(self):
        super().setUp()
        self.other = other_account()
        if self.other is None:
            self.skipTest("the other user's attacks need root to make a second account")
        # A department folder: everyone may write it.
        os.chmod(self.folder, 0o777)
        self.secret = os.path.join(self.folder, "secret.txt")
        with open(self.secret, "w") as f:
            f.write("TOP SECRET of the service account")
        os.chmod(self.secret, 0o600)

    def fake_converter(self, body):
        """A folder on PATH whose soffice runs \a body (sh), then copies its
        input to the PDF it is asked for, and notes what the input was."""
        folder = os.path.join(self.folder, "fakebin")
        os.makedirs(folder, exist_ok=True)
        with open(os.path.join(folder, "soffice"), "w") as f:
            f.write("#!/bin/sh\n%s\nwhile [ \"$1\" != --outdir ]; do shift; done\n"
                    "stat -c '%%F %%a' \"$3\" \"$(dirname \"$3\")\" > '%s/input.txt'\n"
                    "cat \"$3\" > \"$2/report.pdf\"\n" % (body, self.folder))
        os.chmod(os.path.join(folder, "soffice"), 0o755)
        return dict(os.environ, PATH=folder + ":/usr/bin:/bin")



class PlantedNamesTest(SharedServerCase):
    def test_pdf_is_made_from_a_private_copy_whatever_the_report_name_becomes(self):
        pdf = os.path.join(self.folder, "report.pdf")
        self.configure([SMALL], pdf=pdf)
        # The other user swaps the report's name for a link to the secret
        # just when the converter starts, as a watcher of the folder would.
        swap = " ".join(as_user(self.other, "sh", "-c", "'ln -s %s %s/x && mv -f %s/x %s'"
                                 % (self.secret, self.folder, self.folder, self.report)))
        env = self.fake_converter(swap)
        self.assertEqual(0, self.run_program(env=env), self.stderr)
        self.assertTrue(os.path.islink(self.report), "the swap did not happen")
        with open(pdf, "rb") as f:
            converted = f.read()
        self.assertNotIn(b"TOP SECRET", converted)
        with zipfile.ZipFile(pdf) as package:  # the stand-in's PDF is its input
            self.assertIn(b"a title", package.read("word/settings.xml"))
        with open(os.path.join(self.folder, "input.txt")) as f:
            self.assertEqual("regular file 600\ndirectory 700\n", f.read())

    def test_nothing_is_written_through_a_planted_name(self):
        before = self.earlier_report()
        victim = os.path.join(self.folder, "victim.txt")
        with open(victim, "w") as f:
            f.write("victim")
        fifo = os.path.join(self.folder, "fifo")
        null_twin = os.path.join(self.folder, "mynull")
        sock = os.path.join(self.folder, "socket")
        sock_object = socket.socket(socket.AF_UNIX)
        self.addCleanup(sock_object.close)
        plants = {
            "fifo": lambda p: os.mkfifo(p),
            "device": lambda p: os.mknod(p, 0o666 | stat.S_IFCHR, os.makedev(1, 3)),
            "socket": lambda p: sock_object.bind(p),
        }
        kinds = {"fifo": "a named pipe (FIFO)", "device": "a character device",
                 "socket": "a socket"}
        for what, plant in plants.items():
            path = {"fifo": fifo, "device": null_twin, "socket": sock}[what]
            plant(path)
            for key in ("ReportFileName", "PdfFileName", "LogFileName"):
                with self.subTest(what=what, key=key):
                    self.configure([SMALL], **{
                        "ReportFileName": {"report": path},
                        "PdfFileName": {"pdf": path},
                        "LogFileName": {"log": path}}[key])
                    status = self.run_program(timeout=30)
                    if key == "LogFileName":
                        self.assertEqual(2, status)
                        self.assertIn('Cannot create "%s": it is %s, not a regular file.'
                                      % (path, kinds[what]), self.stderr)
                    else:
                        self.assertEqual(1, status)
                        self.assertIn('Error Info: [FILE] %s "%s" is %s, not a file; the run '
                                      'writes only over a regular file.' % (key, path, kinds[what]),
                                      self.log_lines())
                    self.assertFalse(stat.S_ISREG(os.stat(path).st_mode))
                    self.assertEqual(before, digest(self.report))
        # A link at the log's name is replaced, never followed; so is a file
        # the other user made there for everyone to write.
        for planted in ("link", "file"):
            with self.subTest(planted=planted):
                if os.path.lexists(self.log):
                    os.remove(self.log)
                if planted == "link":
                    subprocess.run(as_user(self.other, "ln", "-s", victim, self.log), check=True)
                else:
                    subprocess.run(as_user(self.other, "sh", "-c", "umask 0; echo theirs > %s"
                                            % self.log), check=True)
                self.configure([SMALL])
                self.assertEqual(0, self.run_program(), self.stderr)
                st = os.lstat(self.log)
                self.assertTrue(stat.S_ISREG(st.st_mode))
                self.assertEqual((0, 0o666 & ~UMASK), (st.st_uid, stat.S_IMODE(st.st_mode)))
                self.assertEqual("Close the log file.", self.log_lines()[-1])
        with open(victim) as f:
            self.assertEqual("victim", f.read())

    def test_modes_follow_the_umask_and_a_replaced_report_keeps_its_own(self):
        pdf = os.path.join(self.folder, "report.pdf")
        self.configure([SMALL], pdf=pdf)
        env = self.fake_converter("")
        for mask, mode in ((0o077, 0o600), (0o022, 0o644), (0o002, 0o664)):
            with self.subTest(umask=oct(mask)):
                for path in (self.report, self.log, pdf):
                    if os.path.exists(path):
                        os.remove(path)
                os.chmod(self.template, 0o666)
                status = subprocess.run(["sh", "-c", "umask %o; exec \"$@\"" % mask, "sh"]
                                        + self.command(), env=env).returncode
                self.assertEqual(0, status)
                for path in (self.report, self.log, pdf):
                    self.assertEqual(mode, stat.S_IMODE(os.stat(path).st_mode), path)
        os.chmod(self.report, 0o640)
        self.assertEqual(0, self.run_program(env=env), self.stderr)
        self.assertEqual(0o640, stat.S_IMODE(os.stat(self.report).st_mode))
        # Another user's file in the report's place lends it nothing.
        os.remove(self.report)
        subprocess.run(as_user(self.other, "sh", "-c", "echo x > %s; chmod 6777 %s"
                                % (self.report, self.report)), check=True)
        self.assertEqual(0, self.run_program(env=env), self.stderr)
        st = os.stat(self.report)
        self.assertEqual((0, 0o666 & ~UMASK), (st.st_uid, stat.S_IMODE(st.st_mode)))

    def test_the_converter_fetches_and_reads_nothing_a_template_links_to(self):
        if shutil.which("soffice") is None:
            self.skipTest("LibreOffice (soffice) is not installed; the real converter is not run")
        hits = []

        class Handler(http.server.BaseHTTPRequestHandler):
            def do_GET(self):
                hits.append(self.path)
                self.send_response(404)
                self.end_headers()

            def log_message(self, *args):
                pass

        server = http.server.HTTPServer(("127.0.0.1", 0), Handler)
        threading.Thread(target=server.serve_forever, daemon=True).start()
        self.addCleanup(server.server_close)
        self.addCleanup(server.shutdown)
        picture = os.path.join(self.folder, "secret.png")
        png(picture)
        linked = os.path.join(self.folder, "linked.docx")
        link_pictures(self.template, linked, ["file://" + picture,
                                              "http://127.0.0.1:%d/logo.png" % server.server_port])
        pdf = os.path.join(self.folder, "report.pdf")
        self.configure([SMALL], template=linked, pdf=pdf)
        self.assertEqual(0, self.run_program(timeout=300), self.stderr)
        self.assertEqual([], hits)
        images = subprocess.run(["pdfimages", "-list", pdf], capture_output=True, text=True,
                                check=True).stdout.splitlines()[2:]
        self.assertEqual([], images)

    def test_passwords_and_terminal_control_never_reach_the_log_as_they_are(self):
        secrets = ["s3cr3t-one", "s3cr3t-two", "s3cr3t-three"]
        dsn = ("Driver=NoSuchDriver;Server=127.0.0.1;pqopt={sslmode=disable password=%s};"
               "\tPWD=%s;SSLPassword=%s" % tuple(secrets))
        self.configure([SMALL], dsn=dsn)
        self.assertEqual(1, self.run_program())
        log = self.log_text(self.log)
        self.assertIn("Error: Failed to connect to database. DSN=Driver=NoSuchDriver;"
                      "Server=127.0.0.1;pqopt={sslmode=disable password=***}; PWD=***;"
                      "SSLPassword=***", log)
        for secret in secrets:
            self.assertNotIn(secret, log + self.stderr)
        # A script line that would clear the terminal and hide the lines
        # above it is shown as what it is.
        self.configure(["@Var=3;Title\nSELECT 'x' -- \x1b[2J\x1b[1A\x1b]0;title\x07\n"])
        self.assertEqual(0, self.run_program(), self.stderr)
        with open(self.log, "rb") as f:
            raw = f.read()
        self.assertNotIn(b"\x1b", raw)
        self.assertNotIn(b"\x07", raw)
        self.assertIn(b"\\x1B[2J\\x1B[1A\\x1B]0;title\\x07", raw)


SERVICE = "vantrelle-svc"
SLOW = ("@Slow=0\nWITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 300000) "
        "SELECT count(*) FROM n\n")
TEAM = "vantrelle-team"

# The other user's side of the race: for as long as it is let run, every
# name of the shared folder that a run uses (its outputs, their lock files,
# the hidden names of working copies and kept reports) is swapped, as fast as
# it can, for a link to a target, a private folder for a link to a folder,
# and each lock name gets a hard link to a file the other user may write.
RACER = r"""
import os, random, sys
folder, hard, targets, vault = sys.argv[1], sys.argv[2], sys.argv[3:-1], sys.argv[-1]
outputs = ("report.docx", "run.log", "report.pdf")
locks = [".%s.vantrelle-lock" % name for name in outputs]
n = 0
while True:
    if n == 0 or n % 1000 == 1:
        print(n, flush=True)
    try:
        entries = os.listdir(folder)
    except OSError:
        continue
    for entry in set(entries) | set(outputs) | set(locks):
        if entry not in outputs and not entry.startswith("."):
            continue
        path = os.path.join(folder, entry)
        plant = os.path.join(folder, "plant%d" % n)
        n += 1
        try:
            if entry in locks and random.random() < 0.5:
                os.link(hard, plant)
            elif os.path.isdir(path) and not os.path.islink(path):
                os.rename(path, plant + ".aside")
                os.symlink(vault, plant)
            else:
                os.symlink(random.choice(targets), plant)
            # What was there is kept aside, for the test to read.
            if not os.path.islink(path):
                os.rename(path, plant + ".aside")
            os.rename(plant, path)
        except OSError:
            try:
                os.unlink(plant)
            except OSError:
                pass
"""


def team_group():
    try:
        return grp.getgrnam(TEAM).gr_gid
    except KeyError:
        subprocess.run(["groupadd", "--system", TEAM], check=True)
        return grp.getgrnam(TEAM).gr_gid


class TeamFolderCase(SharedServerCase):
    """A team's report folder (root's, group-writable by the team, set-gid,
    with or without the sticky bit) that the other user of the team attacks
    while the report runs as root or as a service account."""

    def setUp(self):
        super().setUp()
        self.team = team_group()
        self.service = account(SERVICE)
        os.chmod(self.folder, 0o755)
        os.chmod(self.db, 0o644)
        os.chmod(self.template, 0o644)
        self.share = os.path.join(self.folder, "share")
        os.mkdir(self.share)
        os.chown(self.share, 0, self.team)
        # Targets: a system file, the run account's secret, a file the other
        # user may write (and so hard-link), and a folder only root may enter.
        self.targets = os.path.join(self.folder, "targets")
        os.mkdir(self.targets)
        self.vault = os.path.join(self.folder, "vault")
        os.mkdir(self.vault, 0o700)
        contents = {"system": ("root's own", 0o644, 0, 0),
                    "group": ("the team's file", 0o660, 0, self.team),
                    os.path.join("..", "vault", "kept"): ("in the vault", 0o600, 0, 0)}
        self.watched = {}
        for name, (text, mode, uid, gid) in contents.items():
            path = os.path.normpath(os.path.join(self.targets, name))
            with open(path, "w") as f:
                f.write(text)
            os.chown(path, uid, gid)
            os.chmod(path, mode)
            self.watched[path] = (text, mode)
        self.watched[self.secret] = ("TOP SECRET of the service account", 0o600)

    def as_account(self, uid):
        if uid == 0:
            return []
        return as_user(uid, gid=self.team)

    def assert_targets_unchanged(self):
        for path, (text, mode) in self.watched.items():
            st = os.lstat(path)
            with open(path) as f:
                self.assertEqual((text, mode), (f.read(), stat.S_IMODE(st.st_mode)), path)
        self.assertEqual(["kept"], [name for name in os.listdir(self.vault) if name != "sub"])

    def assert_run_said_why(self, status, owner, what):
        """A failed run said why: on its standard error, or in its log,
        wherever the other user moved that."""
        if status == 0 or self.stderr.strip():
            return
        logs = []
        for name in os.listdir(self.share):
            path = os.path.join(self.share, name)
            st = os.lstat(path)
            if stat.S_ISREG(st.st_mode) and st.st_uid == owner:
                text = self.log_text(path)
                if "Open log file successfully." in text:
                    logs.append(text)
        self.assertTrue(any("Error Info:" in log for log in logs),
                        "%s: exit %d without a reason\n%s" % (what, status, logs))

    def test_swapped_names_never_reach_a_target(self):
        racer = os.path.join(self.folder, "racer.py")
        with open(racer, "w") as f:
            f.write(RACER)
        env = self.fake_converter("")
        runs = 6 if SANITIZED else 12
        outcomes = collections.Counter()
        for owner in (0, self.service):
            for mode in (0o2775, 0o3775):
                os.chmod(self.share, mode)
                if owner:
                    os.chown(self.secret, owner, self.team)
                # A statement of some 50 ms gives the other user more to race.
                self.configure([SMALL + SLOW], report=os.path.join(self.share, "report.docx"),
                               log=os.path.join(self.share, "run.log"),
                               pdf=os.path.join(self.share, "report.pdf"))
                # What the other user planted stays from run to run: the next
                # run finds it in place before it starts.
                subprocess.run(["find", self.share, "-mindepth", "1", "-delete"])
                for run in range(runs):
                    what = "owner %d, mode %o, run %d" % (owner, mode, run)
                    attacker = subprocess.Popen(
                        self.as_account(self.other) + [
                                 "/usr/bin/python3", racer, self.share,
                                 os.path.join(self.targets, "group"),
                                 os.path.join(self.targets, "system"), self.secret,
                                 self.vault],
                        stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
                    self.assertTrue(attacker.stdout.readline(), "the other user's racer did not start")
                    try:
                        status = self.run_program(env=env, prefix=self.as_account(owner))
                    finally:
                        attacker.kill()
                        attacker.wait()
                        attacker.stdout.close()
                    outcomes[status] += 1
                    self.assert_targets_unchanged()
                    self.assert_run_said_why(status, owner, what)
                    for name in ("report.docx", "report.pdf"):
                        path = os.path.join(self.share, name)
                        st = os.lstat(path) if os.path.lexists(path) else None
                        if st is None or not stat.S_ISREG(st.st_mode) or st.st_uid != owner:
                            continue
                        with open(path, "rb") as f:
                            data = f.read()
                        for text, _ in self.watched.values():
                            self.assertNotIn(text.encode(), data, what)
        # The race let some runs through: a suite where every run failed
        # would prove nothing.
        self.assertGreater(outcomes[0], 0, dict(outcomes))

    def test_what_a_sticky_folder_keeps_from_the_run_stops_it_with_the_reason(self):
        os.chmod(self.share, 0o3775)
        paths = {"report": os.path.join(self.share, "report.docx"),
                 "log": os.path.join(self.share, "run.log"),
                 "pdf": os.path.join(self.share, "report.pdf")}
        env = self.fake_converter("")
        sticky = ('it is a file of user "%s" (uid %d) in a folder with the sticky bit, where '
                  'only its owner may replace it' % (OTHER, self.other))
        cases = [  # planted name, exit status, where the reason is, reason
            ("report.docx", 1, "log", '[FILE] ReportFileName "%s": %s.' % (paths["report"], sticky)),
            ("report.pdf", 1, "log", '[FILE] PdfFileName "%s": %s.' % (paths["pdf"], sticky)),
            ("run.log", 2, "stderr", 'Cannot create "%s": %s.' % (paths["log"], sticky)),
            (".report.docx.vantrelle-lock", 1, "stderr",
             'its lock file "%s/.report.docx.vantrelle-lock" is a file of user "%s" (uid %d) '
             "that this run can neither use nor remove" % (self.share, OTHER, self.other)),
        ]
        for name, status, where, reason in cases:
            with self.subTest(name=name):
                subprocess.run(["find", self.share, "-mindepth", "1", "-delete"])
                planted = os.path.join(self.share, name)
                subprocess.run(self.as_account(self.other) + ["sh", "-c", "echo theirs > " + planted],
                               check=True)
                self.configure([SMALL], **paths)
                self.assertEqual(status, self.run_program(env=env,
                                                          prefix=self.as_account(self.service)))
                said = self.stderr if where == "stderr" else self.log_text(paths["log"])
                self.assertIn(reason, said)
                with open(planted) as f:
                    self.assertEqual("theirs\n", f.read())

    def test_links_on_an_output_path_are_followed_only_when_the_run_owns_them(self):
        plain = os.path.join(self.folder, "plain")
        os.makedirs(os.path.join(plain, "sub"))
        os.makedirs(os.path.join(self.vault, "sub"))
        os.chmod(self.share, 0o2775)
        keys = {"ReportFileName": "report", "LogFileName": "log", "PdfFileName": "pdf"}
        env = self.fake_converter("")
        for key, argument in keys.items():
            for position in (1, 2):
                for owner in (self.other, 0):
                    with self.subTest(key=key, position=position, owner=owner):
                        subprocess.run(["find", self.share, "-mindepth", "1", "-delete"])
                        out = os.path.join(self.share, "out")
                        # The link stands for the first or the second folder
                        # of out/sub/NAME; the other user's leads to root's
                        # vault, root's to a plain folder.
                        target = self.vault if owner else plain
                        if position == 1:
                            link = out
                            os.symlink(target, link)
                        else:
                            os.mkdir(out)
                            link = os.path.join(out, "sub")
                            os.symlink(os.path.join(target, "sub"), link)
                        os.lchown(link, owner, self.team)
                        output = os.path.join(out, "sub", "file.x")
                        paths = {"report": os.path.join(self.share, "report.docx"),
                                 "log": os.path.join(self.share, "run.log"),
                                 "pdf": os.path.join(self.share, "report.pdf")}
                        paths[argument] = output
                        self.configure([SMALL], **paths)
                        status = self.run_program(env=env)
                        if owner == 0:
                            self.assertEqual(0, status, self.stderr)
                            self.assertTrue(os.path.isfile(os.path.join(plain, "sub", "file.x")))
                            os.remove(os.path.join(plain, "sub", "file.x"))
                            continue
                        message = ('The folder "%s" in the path of "%s" is a link that belongs '
                                   'to user "%s" (uid %d); an output\'s folder is reached only '
                                   'through links of the run\'s own user or of root.'
                                   % (link, output, OTHER, self.other))
                        if key == "LogFileName":
                            self.assertEqual(2, status)
                            self.assertIn(message, self.stderr)
                        else:
                            self.assertEqual(1, status, self.stderr)
                            self.assertIn("Error Info: " + message, self.log_lines(paths["log"]))
                        self.assertEqual(["kept", "sub"], sorted(os.listdir(self.vault)))
                        self.assertEqual([], os.listdir(os.path.join(self.vault, "sub")))


def link_pictures(source, target, urls):
    """Copies the template \a source to \a target with one paragraph per URL
    that shows a picture linked (not embedded) to it."""
    drawing = (
        '<w:p><w:r><w:drawing><wp:inline><wp:extent cx="914400" cy="914400"/>'
        '<wp:docPr id="%d" name="p%d"/><a:graphic xmlns:a="http://schemas.openxmlformats.org/'
        'drawingml/2006/main"><a:graphicData uri="http://schemas.openxmlformats.org/drawingml/'
        '2006/picture"><pic:pic xmlns:pic="http://schemas.openxmlformats.org/drawingml/2006/'
        'picture"><pic:nvPicPr><pic:cNvPr id="%d" name="p%d"/><pic:cNvPicPr/></pic:nvPicPr>'
        '<pic:blipFill><a:blip r:link="rIdLinked%d"/><a:stretch><a:fillRect/></a:stretch>'
        '</pic:blipFill><pic:spPr><a:xfrm><a:off x="0" y="0"/><a:ext cx="914400" cy="914400"/>'
        '</a:xfrm><a:prstGeom prst="rect"><a:avLst/></a:prstGeom></pic:spPr></pic:pic>'
        '</a:graphicData></a:graphic></wp:inline></w:drawing></w:r></w:p>')
    relationship = ('<Relationship Id="rIdLinked%d" Type="http://schemas.openxmlformats.org/'
                    'officeDocument/2006/relationships/image" Target="%s" TargetMode="External"/>')
    with zipfile.ZipFile(source) as zin, zipfile.ZipFile(target, "w", zipfile.ZIP_DEFLATED) as zout:
        for item in zin.infolist():
            data = zin.read(item.filename)
            if item.filename in ("word/document.xml", "word/_rels/document.xml.rels"):
                data = data.decode("utf-8")
            if item.filename == "word/document.xml":
                for prefix, uri in (("wp", "http://schemas.openxmlformats.org/drawingml/2006/"
                                           "wordprocessingDrawing"),
                                    ("r", "http://schemas.openxmlformats.org/officeDocument/2006/"
                                          "relationships")):
                    if "xmlns:%s=" % prefix not in data:
                        data = data.replace("<w:document ", '<w:document xmlns:%s="%s" '
                                            % (prefix, uri), 1)
                body = data.index("<w:body>") + len("<w:body>")
                data = data[:body] + "".join(drawing % ((900 + i,) * 4 + (i,))
                                             for i in range(len(urls))) + data[body:]
            elif item.filename == "word/_rels/document.xml.rels":
                data = data.replace("</Relationships>", "".join(
                    relationship % (i, url) for i, url in enumerate(urls)) + "</Relationships>")
            zout.writestr(item, data.encode("utf-8") if isinstance(data, str) else data)


if __name__ == "__main__":
    unittest.main()
