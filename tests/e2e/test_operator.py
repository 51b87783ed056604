#!/usr/bin/python3
"""What an operator and a scheduler do to runs, through the vantrelle executable.

SIGTERM, SIGINT and SIGHUP at every moment of a run stop it cleanly: the
statement in flight is cancelled (also on the server), the converter is
stopped, the log says why, nothing is left behind and the earlier report
stays. A save the kernel could not write is a failed save. Two runs of one
report never overlap. Time limits end what would hang. A closed standard
error does not kill the program.
"""
import os
import re
import signal
import socket
import sqlite3
import subprocess
import tempfile
import threading
import time
import unittest

from report_folder import ENDLESS, EXE, ROOT, SMALL, ReportFolderCase, digest

PG_CONNSTR = os.environ.get("VANTRELLE_PG_CONNSTR")
# strace stops LeakSanitizer from working; the traced runs do without it.
NO_LEAK_CHECK = dict(os.environ, ASAN_OPTIONS="detect_leaks=0:abort_on_error=1")


def namespaces_work(prefix):
    """Whether \a prefix (an unshare command) runs a command here."""
    try:
        return subprocess.run(list(prefix) + ["true"], capture_output=True,
                              timeout=30).returncode == 0
    except (OSError, subprocess.TimeoutExpired):
        return False


def silent_server():
    """A TCP server that accepts every connection and never answers."""
    server = socket.socket()
    server.bind(("127.0.0.1", 0))
    server.listen(16)
    accepted = []

    def serve():
        while True:
            try:
                accepted.append(server.accept()[0])
            except OSError:
                return

    threading.Thread(target=serve, daemon=True).start()
    return server


def pg_dsn(port=None):
    dsn = PG_CONNSTR
    if port is not None:
        dsn = re.sub(r"Port=\d+", "Port=%d" % port, dsn)
    return dsn


def pg_odbc():
    return "DBUSER=%s\nDBPWD=%s\n" % (os.environ.get("VANTRELLE_PG_USER", "x"),
                                      os.environ.get("VANTRELLE_PG_PASSWORD", "x"))


def pg_query(sql):
    port = re.search(r"Port=(\d+)", PG_CONNSTR).group(1)
    env = dict(os.environ, PGPASSWORD=os.environ["VANTRELLE_PG_PASSWORD"])
    out = subprocess.run(["psql", "-h", "127.0.0.1", "-p", port, "-U",
                          os.environ["VANTRELLE_PG_USER"], "-d", "vantrelle_test", "-At", "-c",
                          sql], env=env, capture_output=True, text=True, check=True)
    return out.stdout.strip()


def pg_sleeping_backend():
    return int(pg_query("SELECT pid FROM pg_stat_activity WHERE state = 'active' "
                        "AND query LIKE 'SELECT pg_sleep(3600)%'"))


def pg_running_sleeps():
    return int(pg_query("SELECT count(*) FROM pg_stat_activity WHERE state = 'active' "
                        "AND query LIKE 'SELECT pg_sleep(3600)%'"))


class OperatorCase(ReportFolderCase):
    def running_pid(self, process):
        """The pid of the run, which its report's lock file names (a wrapper
        such as strace may stand between)."""
        lock = os.path.join(self.folder, ".report.docx.vantrelle-lock")
        deadline = time.monotonic() + 30
        while time.monotonic() < deadline:
            try:
                with open(lock) as f:
                    return int(f.read())
            except (FileNotFoundError, ValueError):
                time.sleep(0.005)
        return process.pid

    def stop_at(self, moment_text, sig, env=None, prefix=(), log=None, ready=None):
        """Starts the configured run, sends \a sig once the log holds
        \a moment_text (and \a ready, when given, is there), and returns its
        exit status."""
        process = self.start(env=env, prefix=prefix)
        self.wait_for_log(moment_text, log=log)
        deadline = time.monotonic() + 60
        while ready is not None and not os.path.exists(ready) and time.monotonic() < deadline:
            time.sleep(0.005)
        pid = self.running_pid(process)
        os.kill(pid, sig)
        _, self.stderr = process.communicate(timeout=60)
        return process.returncode

    def assert_stopped(self, status, sig, info):
        self.assertEqual(1, status, self.stderr)
        self.assertEqual(["Error: The report run was stopped by %s." % signal.Signals(sig).name,
                          "Error Info: " + info], self.log_lines()[-2:])
        self.assertEqual([], self.leftovers())

    # -- signals -------------------------------------------------------------
    def test_signals_stop_a_run_cleanly_at_every_moment(self):
        kept = 'The report file "%s" was not changed.' % self.report
        with self.subTest("a statement on SQLite, SIGTERM"):
            before = self.earlier_report()
            self.configure([SMALL, ENDLESS])
            self.assert_stopped(self.stop_at("[Slow]    WITH", signal.SIGTERM), signal.SIGTERM,
                                kept)
            self.assertEqual(before, digest(self.report))
        with self.subTest("the connect to a server that never answers, SIGINT"):
            server = silent_server()
            self.addCleanup(server.close)
            self.configure([SMALL], dsn="Driver={PostgreSQL Unicode};Server=127.0.0.1;Port=%d;"
                           "Database=x" % server.getsockname()[1], odbc="DBUSER=u\nDBPWD=p\n")
            self.assert_stopped(self.stop_at("Open log file successfully.", signal.SIGINT),
                                signal.SIGINT, "No report file was changed.")
            self.assertEqual(before, digest(self.report))
        with self.subTest("the save, SIGTERM"):
            # The report's sync is held up long enough for the signal to land
            # in the middle of the save.
            self.configure([SMALL])
            status = self.stop_at("Update all Word fields successfully.", signal.SIGTERM,
                                  env=NO_LEAK_CHECK,
                                  prefix=["strace", "-f", "-qq", "-o", "/dev/null", "-e",
                                          "trace=fsync", "-e",
                                          "inject=fsync:delay_enter=1500000:when=1"])
            self.assert_stopped(status, signal.SIGTERM, kept)
            self.assertNotIn("Save the report file successfully.", self.log_lines())
            self.assertEqual(before, digest(self.report))
        with self.subTest("the PDF conversion, SIGHUP"):
            tmp = tempfile.mkdtemp(dir=self.folder, prefix="tmp")
            bin_folder = os.path.join(self.folder, "bin")
            os.mkdir(bin_folder)
            with open(os.path.join(bin_folder, "soffice"), "w") as f:
                f.write("#!/bin/sh\necho $$ > %s/converter.pid\nexec sleep 600\n" % self.folder)
            os.chmod(os.path.join(bin_folder, "soffice"), 0o755)
            pdf = os.path.join(self.folder, "report.pdf")
            self.configure([SMALL], pdf=pdf)
            status = self.stop_at("Close the report file.", signal.SIGHUP,
                                  env=dict(os.environ, TMPDIR=tmp,
                                           PATH=bin_folder + ":" + os.environ["PATH"]),
                                  ready=os.path.join(self.folder, "converter.pid"))
            self.assert_stopped(status, signal.SIGHUP,
                                'The report file "%s" had been saved; the PDF file "%s" was not '
                                'written.' % (self.report, pdf))
            with open(os.path.join(self.folder, "converter.pid")) as f:
                converter = int(f.read())
            self.assertRaises(ProcessLookupError, os.kill, converter, 0)
            self.assertEqual([], os.listdir(tmp))
            self.assertFalse(os.path.exists(pdf))

    def test_a_hard_end_while_publishing_puts_the_earlier_report_back(self):
        # Neither a second name nor a swap for the earlier report: it is set
        # aside while the new one is published, which here takes 14 s.
        before = self.earlier_report()
        self.configure([SMALL])
        os.unlink(self.log)
        process = self.start(env=NO_LEAK_CHECK, prefix=[
            "strace", "-f", "-qq", "-o", "/dev/null", "-e", "trace=linkat,renameat,renameat2",
            "-e", "inject=linkat:error=EPERM", "-e", "inject=renameat2:error=EINVAL:when=1",
            "-e", "inject=renameat:delay_enter=14000000:when=2"])
        self.wait_for_log("Update all Word fields successfully.")
        time.sleep(1)
        pid = self.running_pid(process)
        os.kill(pid, signal.SIGTERM)
        time.sleep(11)
        os.kill(pid, signal.SIGTERM)
        process.communicate(timeout=60)
        self.assertTrue(self.log_lines()[-1].startswith("Error Info: A second SIGTERM came"),
                        self.log_lines()[-2:])
        self.assertEqual(before, digest(self.report))

    def test_the_converter_and_its_files_go_with_the_run_whatever_ends_it(self):
        tmp = tempfile.mkdtemp(dir=self.folder, prefix="tmp")
        bin_folder = os.path.join(self.folder, "bin")
        os.mkdir(bin_folder)
        helper = os.path.join(self.folder, "helper.pid")
        # Like the real converter: a temporary folder of its own, and a
        # helper process that is a grandchild of the run.
        with open(os.path.join(bin_folder, "soffice"), "w") as f:
            f.write("#!/bin/sh\nmkdir \"$TMPDIR/lu1234.tmp\"\n"
                    "python3 -c 'import time; time.sleep(600)' \"$@\" &\n"
                    "echo $! > %s.part && mv %s.part %s\nwait\n" % (helper, helper, helper))
        os.chmod(os.path.join(bin_folder, "soffice"), 0o755)
        env = dict(os.environ, TMPDIR=tmp, PATH=bin_folder + ":" + os.environ["PATH"])
        # Folders of the user's own that only look like a conversion's stay.
        decoys = ["vantrelle-pdf-Ab12Cd", "vantrelle-pdf-keep"]
        for decoy in decoys:
            os.mkdir(os.path.join(tmp, decoy), 0o700)

        def alive(pid):
            try:
                with open("/proc/%d/stat" % pid) as f:
                    return f.read().rsplit(")", 1)[1].split()[0] != "Z"
            except FileNotFoundError:
                return False

        for signals in ([signal.SIGKILL], [signal.SIGTERM, signal.SIGTERM],
                        [signal.SIGTERM, signal.SIGKILL]):
            with self.subTest(signals=[sig.name for sig in signals]):
                self.configure([SMALL], pdf=os.path.join(self.folder, "report.pdf"))
                if os.path.exists(self.log):
                    os.unlink(self.log)  # the moment to wait for is this run's
                process = self.start(env=env)
                self.wait_for_log("Close the report file.")
                deadline = time.monotonic() + 30
                while not os.path.exists(helper) and time.monotonic() < deadline:
                    time.sleep(0.01)
                with open(helper) as f:
                    converter = int(f.read())
                os.unlink(helper)
                for sig in signals:
                    os.kill(process.pid, sig)
                    time.sleep(0.05)
                process.communicate(timeout=60)
                # The next run, with or without a PDF, clears what is left.
                self.configure([SMALL])
                self.assertEqual(0, self.run_program(env=env), self.stderr)
                deadline = time.monotonic() + 5
                while alive(converter) and time.monotonic() < deadline:
                    time.sleep(0.05)
                self.assertFalse(alive(converter), "the converter outlived its run")
                self.assertEqual(decoys, sorted(os.listdir(tmp)))
                self.assertEqual([], self.leftovers())

    def test_a_silent_database_holds_no_run(self):
        if not PG_CONNSTR:
            self.skipTest("VANTRELLE_PG_CONNSTR is not set (run through scripts/test)")
        before = self.earlier_report()
        for limit, sig, reason in [
                (2, None, "the time limit of 2 seconds ([ODBC] QueryTimeout), which the "
                          "database did not keep"),
                (0, signal.SIGTERM, "SIGTERM")]:
            with self.subTest(reason):
                self.configure(["@Slow=0\nSELECT pg_sleep(3600)\n"], dsn=pg_dsn(),
                               odbc=pg_odbc() + "QueryTimeout=%d\n" % limit)
                if os.path.exists(self.log):
                    os.unlink(self.log)
                process = self.start()
                self.wait_for_log("SELECT pg_sleep(3600)")
                deadline = time.monotonic() + 30
                while not pg_running_sleeps() and time.monotonic() < deadline:
                    time.sleep(0.05)
                # The server takes the statement and then says nothing more.
                backend = pg_sleeping_backend()
                os.kill(backend, signal.SIGSTOP)
                self.addCleanup(subprocess.run, ["kill", "-CONT", str(backend)],
                                capture_output=True)
                started = time.monotonic()
                if sig:
                    process.send_signal(sig)
                process.communicate(timeout=60)
                self.assertLess(time.monotonic() - started, limit + 2 * 5 + 3)
                self.assertEqual(1, process.returncode)
                self.assertEqual(["Error: The report run was stopped by %s." % reason,
                                  "Error Info: The database did not answer the cancel within 5 "
                                  "seconds; the run ended without waiting for it. The report "
                                  'file "%s" was not changed.' % self.report],
                                 self.log_lines()[-2:])
                self.assertEqual(before, digest(self.report))
                self.assertEqual([], self.leftovers())
                os.kill(backend, signal.SIGCONT)
                try:
                    os.kill(backend, signal.SIGTERM)
                except ProcessLookupError:
                    pass  # woken, it found its client gone and ended by itself

    def test_a_statement_on_the_server_is_cancelled(self):
        if not PG_CONNSTR:
            self.skipTest("VANTRELLE_PG_CONNSTR is not set (run through scripts/test)")
        before = self.earlier_report()
        self.configure(["@Slow=0\nSELECT pg_sleep(3600)\n"], dsn=pg_dsn(), odbc=pg_odbc())
        status = self.stop_at("SELECT pg_sleep(3600)", signal.SIGHUP)
        self.assert_stopped(status, signal.SIGHUP,
                            'The report file "%s" was not changed.' % self.report)
        self.assertEqual(before, digest(self.report))
        deadline = time.monotonic() + 10
        while pg_running_sleeps() and time.monotonic() < deadline:
            time.sleep(0.1)
        self.assertEqual(0, pg_running_sleeps(), "the server still runs the statement")

    def test_a_repeated_signal_lets_the_stop_finish_and_a_late_one_hurries_it(self):
        before = self.earlier_report()
        kept = 'The report file "%s" was not changed.' % self.report
        # The late case holds the stop up at its first removal for 30 s; its
        # second signal comes 13 s after the first. strace counts each
        # thread's removals apart, so the thread that takes the second
        # signal is held at its own first removal too, while the stop it
        # hurries must still be held: on a busy machine that thread may take
        # the signal seconds after it came, hence the long hold.
        slow_stop = ["strace", "-f", "-qq", "-o", "/dev/null", "-e", "trace=unlinkat", "-e",
                     "inject=unlinkat:delay_enter=30000000:when=1"]
        # A temporary folder of the run's own: a run first removes what
        # killed conversions left in the temporary folder, and one left there
        # by another suite running meanwhile would take the delayed removal.
        scratch = os.path.join(self.folder, "tmp")
        os.mkdir(scratch)
        env = dict(NO_LEAK_CHECK, TMPDIR=scratch)
        for gap, prefix, statuses, info in [
                (0.3, (), (1,), kept),
                (13, slow_stop, (-signal.SIGTERM, 128 + signal.SIGTERM),
                 "A second SIGTERM came 1")]:
            with self.subTest(gap=gap):
                self.configure([SMALL, ENDLESS])
                os.unlink(self.log)  # the moment to wait for is this run's
                process = self.start(prefix=prefix, env=env)
                self.wait_for_log("[Slow]    WITH")
                pid = self.running_pid(process)
                os.kill(pid, signal.SIGTERM)
                time.sleep(gap)
                os.kill(pid, signal.SIGTERM)
                process.communicate(timeout=90)
                self.assertIn(process.returncode, statuses)
                log = self.log_lines()
                self.assertEqual("Error: The report run was stopped by SIGTERM.", log[-2])
                self.assertTrue(log[-1].startswith("Error Info: " + info), log[-1])
                self.assertEqual(before, digest(self.report))
                self.assertEqual([], self.leftovers())

    def test_a_signal_ignored_at_start_stays_ignored(self):
        # As nohup starts a run, or a script its background jobs.
        self.configure([SMALL, ENDLESS])
        process = subprocess.Popen(self.command(), stderr=subprocess.PIPE, text=True,
                                   preexec_fn=lambda: signal.signal(signal.SIGHUP, signal.SIG_IGN))
        self.addCleanup(lambda: process.poll() is None and process.kill())
        self.wait_for_log("[Slow]    WITH")
        process.send_signal(signal.SIGHUP)
        time.sleep(0.5)
        self.assertIsNone(process.poll(), "SIGHUP stopped a run started with it ignored")
        process.send_signal(signal.SIGTERM)
        _, self.stderr = process.communicate(timeout=60)
        self.assert_stopped(process.returncode, signal.SIGTERM,
                            'The report file "%s" was not changed.' % self.report)

    # -- the save ------------------------------------------------------------
    def test_a_save_the_kernel_could_not_write_is_a_failed_save(self):
        before = self.earlier_report()
        self.configure([SMALL])
        folder_lost = "the folder could not be written to disk (Input/output error)"
        # Also where the earlier report can get no second name (a file system
        # without hard links), nor trade places with the new one.
        no_link = ["-e", "inject=linkat:error=EPERM"]
        no_exchange = no_link + ["-e", "inject=renameat2:error=EINVAL"]
        cases = [(1, "EIO", "the file could not be written to disk (Input/output error)", []),
                 (1, "ENOSPC", "the file could not be written to disk (No space left on "
                               "device)", []),
                 (2, "EIO", folder_lost, []),
                 (2, "EIO", folder_lost, no_link),
                 (2, "EIO", folder_lost, no_exchange)]
        for when, error, reason, more in cases:
            with self.subTest(when=when, error=error, more=more):
                status = self.run_program(env=NO_LEAK_CHECK, prefix=[
                    "strace", "-f", "-qq", "-o", "/dev/null", "-e", "trace=fsync,linkat,renameat2",
                    "-e", "inject=fsync:error=%s:when=%d" % (error, when)] + more)
                self.assertEqual(1, status, self.stderr)
                log = self.log_lines()
                i = log.index("Error: Failed to close the report file.")
                self.assertEqual('Error Info: Cannot save "%s": %s.' % (self.report, reason),
                                 log[i + 1])
                self.assertNotIn("Save the report file successfully.", log)
                self.assertEqual(before, digest(self.report))
                self.assertEqual([], self.leftovers())

    # -- overlapping runs ----------------------------------------------------
    def test_one_run_per_report_and_per_log_at_a_time(self):
        self.earlier_report()
        self.configure([SMALL, ENDLESS])
        first = self.start()
        self.wait_for_log("[Slow]    WITH")
        lines = len(self.log_lines())
        busy = ('The report file "%s" is in use by another run of the report (process %d); this '
                'run ended without touching the report or the run log.'
                % (self.report, first.pid))
        # A second run, also from another process namespace, as a container
        # would start it.
        namespace = ("unshare", "--pid", "--fork", "--mount-proc")
        for prefix in [(), namespace]:
            with self.subTest(prefix=prefix):
                if prefix and not namespaces_work(namespace):
                    self.skipTest("%s does not work here (it needs root, and a / that is a mount "
                                  "point: not in a chroot)" % " ".join(namespace))
                self.assertEqual(1, self.run_program(prefix=prefix), self.stderr)
                self.assertIn(busy, self.stderr)
        # Another report with the same log waits its turn as well.
        other_ini = os.path.join(self.folder, "other.ini")
        self.configure([SMALL], ini=other_ini, report=os.path.join(self.folder, "other.docx"))
        self.assertEqual(1, self.run_program(ini=other_ini))
        self.assertIn('The run log "%s" is in use by another run of the report' % self.log,
                      self.stderr)
        self.assertFalse(os.path.exists(os.path.join(self.folder, "other.docx")))
        # What stands at a lock's name and can be neither used nor removed
        # keeps a run from starting, rather than letting it run unlocked.
        blocked = os.path.join(self.folder, ".other.docx.vantrelle-lock")
        os.mkdir(blocked)
        with open(os.path.join(blocked, "x"), "w"):
            pass
        self.assertEqual(1, self.run_program(ini=other_ini))
        self.assertIn('cannot be locked: its lock file "%s" is a folder that this run can '
                      'neither use nor remove' % blocked, self.stderr)
        self.assertEqual(lines, len(self.log_lines()))
        # A log rotated by copying and truncating goes on without a gap.
        os.truncate(self.log, 0)
        first.send_signal(signal.SIGTERM)
        first.communicate(timeout=60)
        with open(self.log, "rb") as f:
            raw = f.read()
        self.assertNotIn(b"\0", raw)
        self.assertTrue(raw.startswith(b"["), raw[:40])
        self.assertEqual(1, first.returncode)

    def test_leftovers_of_a_killed_run_go_whatever_its_report_was_called(self):
        killed = os.path.join(self.folder, "report_20041231.docx")
        self.configure([SMALL, ENDLESS], report=killed)
        process = self.start()
        self.wait_for_log("[Slow]    WITH")
        process.kill()
        process.communicate(timeout=60)
        self.assertTrue(self.leftovers())
        self.configure([SMALL])
        self.assertEqual(0, self.run_program(), self.stderr)
        self.assertEqual([], self.leftovers())

    # -- time limits ---------------------------------------------------------
    def test_schedulers_time_limits_end_runs_with_the_clean_stop(self):
        before = self.earlier_report()
        self.configure([SMALL, ENDLESS])
        bin_folder = os.path.join(self.folder, "bin")
        os.mkdir(bin_folder)
        os.symlink(EXE, os.path.join(bin_folder, "vantrelle"))
        wrapper = os.path.join(ROOT, "examples/scheduling/run-monthly-report")
        env = dict(os.environ, PATH=bin_folder + ":" + os.environ["PATH"],
                   VANTRELLE_RUN_LIMIT="0.8")
        # timeout signals the program and then its own process group.
        for command in [["timeout", "0.8"] + self.command()] * 30 + [[wrapper, self.folder]] * 10:
            status = subprocess.run(command, env=env, capture_output=True, timeout=60).returncode
            self.assertEqual(124, status)
            # A stop that comes before the run reached its report says so
            # in the other words: both mean the report is as it was.
            stopped, info = self.log_lines()[-2:]
            self.assertEqual("Error: The report run was stopped by SIGTERM.", stopped)
            self.assertIn(info, ['Error Info: The report file "%s" was not changed.' % self.report,
                                 "Error Info: No report file was changed."])
            self.assertEqual(before, digest(self.report))
            self.assertEqual([], self.leftovers())

    def test_time_limits_end_what_would_hang(self):
        server = silent_server()
        self.addCleanup(server.close)
        locker = sqlite3.connect(self.db, timeout=0)
        self.addCleanup(locker.close)
        cases = [
            ("connect", "Driver={PostgreSQL Unicode};Server=127.0.0.1;Port=%d;Database=x"
             % server.getsockname()[1], "ConnectTimeout=2\n", [SMALL],
             "Error Info: The connection was not made within the time limit of 2 seconds "
             "([ODBC] ConnectTimeout): "),
            ("statement", None, "QueryTimeout=1\n", [ENDLESS],
             "Error Info: The statement ran longer than the time limit of 1 second "
             "([ODBC] QueryTimeout) and was stopped ("),
            # Twelve rows of a fifth of a second each: the limit is the
            # statement's, fetching included, not each row's.
            ("rows", None, "QueryTimeout=1\n",
             ["@Rows=1;1;1;1\nWITH RECURSIVE r(k) AS (SELECT 1 UNION ALL SELECT k + 1 FROM r "
              "WHERE k < 12) SELECT k, (WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 "
              "FROM n WHERE i < 1000000 + r.k) SELECT count(*) FROM n) FROM r\n"],
             "Error Info: The statement ran longer than the time limit of 1 second "
             "([ODBC] QueryTimeout) and was stopped ("),
            ("lock", None, "QueryTimeout=1\n", ["@W=0\nCREATE TABLE t (a)\n"],
             "Error Info: database is locked (SQLite error 5); another connection kept the "
             "database locked for the time limit of 1 second ([ODBC] QueryTimeout)."),
        ]
        if PG_CONNSTR:
            cases.append(("server", pg_dsn(), pg_odbc() + "QueryTimeout=1\n",
                          ["@Slow=0\nSELECT pg_sleep(3600)\n"],
                          "Error Info: The statement ran longer than the time limit of 1 second "
                          "([ODBC] QueryTimeout) and was stopped (57014"))
        for name, dsn, odbc, scripts, expected in cases:
            with self.subTest(name):
                if name == "lock":
                    locker.execute("BEGIN EXCLUSIVE")
                self.configure(scripts, dsn=dsn, odbc=odbc)
                started = time.monotonic()
                self.assertEqual(1, self.run_program(timeout=60))
                self.assertLess(time.monotonic() - started, 15)
                self.assertTrue(any(line.startswith(expected) for line in self.log_lines()),
                                "\n".join(self.log_lines()))
                if name == "lock":
                    locker.rollback()
        self.configure([SMALL], odbc="QueryTimeout=soon\n")
        self.assertEqual(1, self.run_program())
        self.assertIn('Error Info: [ODBC] QueryTimeout "soon" is not a whole number of seconds '
                      'from 0 to 2147483 (0: no limit).', self.log_lines())

    # -- small ends ----------------------------------------------------------
    def test_a_run_that_cannot_begin_says_why(self):
        self.configure([SMALL, ENDLESS])
        trace = ["strace", "-f", "-qq", "-o", "/dev/null", "-e"]
        # No thread can be started (a low process limit): nothing runs.
        status = self.run_program(env=NO_LEAK_CHECK,
                                  prefix=trace + ["inject=clone3,clone:error=EAGAIN"])
        self.assertEqual(2, status)
        self.assertIn("vantrelle: a thread the program needs could not be started (Resource "
                      "temporarily unavailable); nothing was run.", self.stderr)
        # A stop in the first moments, while the program holds up its start.
        process = self.start(env=NO_LEAK_CHECK, prefix=trace + [
            "inject=rt_sigprocmask:delay_exit=1000000:when=1"])
        time.sleep(0.4)
        program = subprocess.run(["pgrep", "-P", str(process.pid)], capture_output=True,
                                 text=True).stdout.split()
        os.kill(int(program[0]), signal.SIGTERM)
        _, stderr = process.communicate(timeout=60)
        self.assertEqual(1, process.returncode, stderr)
        said = self.log_lines()[-2:] if os.path.exists(self.log) else stderr
        self.assertIn("stopped by SIGTERM", " ".join(said))

    def test_a_closed_standard_error_is_no_crash(self):
        process = subprocess.Popen([EXE, "-C", "-F", os.path.join(self.folder, "missing.ini")],
                                   stderr=subprocess.PIPE)
        process.stderr.close()
        self.assertEqual(2, process.wait(timeout=60))


if __name__ == "__main__":
    unittest.main()
