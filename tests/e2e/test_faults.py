#!/usr/bin/python3
"""Report runs that meet real faults, through the vantrelle executable.

A run killed at any moment, a full disk, a log that cannot be written, memory
that runs out, files the run may not read or write, outputs that name its
inputs. Whatever happens, the earlier report is byte for byte what it was
unless the run saved a new one, no input is ever changed, no temporary file
is left behind for good, and the exit status tells failure from success.
"""
import os
import resource
import shutil
import signal
import subprocess
import time
import unittest
import zipfile

from report_folder import SMALL, ReportFolderCase, digest, sanitized

# 30,000 records of 8 fields: the growing table of grow8.docx.
GROW = ("@Grow=2;1;1;1\nWITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n "
        "WHERE i < 30000) SELECT i, i * 1.5, i / 100.0, '2004-05-05', 'text ' || i, i / 7.0, "
        "'2004-06-06', 'x' FROM n\n")


class FaultCase(ReportFolderCase):
    def setUp(self):
        super().setUp()
        self.mounts = []

    def tearDown(self):
        for mount in self.mounts:
            subprocess.run(["umount", "-l", mount], check=False)

    # -- helpers -----------------------------------------------------------
    def assert_whole_report(self, rows):
        with zipfile.ZipFile(self.report) as package:
            self.assertIsNone(package.testzip())
            body = package.read("word/document.xml")
        self.assertEqual(rows, body.count(b"<w:tr>") + body.count(b"<w:tr "))

    # -- killed runs ---------------------------------------------------------
    def test_killed_run_never_touches_the_earlier_report_or_the_template(self):
        template = digest(self.template)
        self.configure([GROW])
        started = time.monotonic()
        self.assertEqual(0, self.run_program(), self.stderr)
        duration = time.monotonic() - started
        # An earlier report, then runs killed at moments spread over a whole
        # run, and right after the copy, during the fill and at the save.
        before = self.earlier_report()
        before_file = os.stat(self.report).st_ino
        self.configure([GROW])
        # (A run may go faster than the one measured: the timed kills stop
        # short of its end, and the last moments are found in the log.)
        moments = [duration * k / 12 for k in range(10)]
        # (A kill after the rename finds the new report whole; that run also
        # removed the working copies of the kills before it.)
        moments += ["Close the report file.", "Create the blank report file",
                    "[Grow]    Function 2", "Update all Word fields successfully."]
        interrupted = 0
        for moment in moments:
            if os.path.exists(self.log):
                os.unlink(self.log)
            process = subprocess.Popen(self.command(), stdout=subprocess.DEVNULL,
                                       stderr=subprocess.DEVNULL)
            if isinstance(moment, float):
                time.sleep(moment)
            else:
                deadline = time.monotonic() + 30
                while time.monotonic() < deadline and process.poll() is None:
                    if moment in self.log_text(self.log):
                        break
                    time.sleep(0.001)
            if process.poll() is None:
                interrupted += 1
            process.send_signal(signal.SIGKILL)
            process.wait()
            now = digest(self.report)
            if now != before:
                # Only a run that got past its save may have replaced the
                # report (a kill may still land before the process ends),
                # and then with a whole one; it is the earlier one from now on.
                self.assertIn("Save the report file successfully.", self.log_text(self.log),
                              "killed at %s" % moment)
                self.assert_whole_report(30000)
                before = now
            if os.stat(self.report).st_ino != before_file:
                self.assertIn("Save the report file successfully.", self.log_text(self.log),
                              "killed at %s" % moment)
                before_file = os.stat(self.report).st_ino
            self.assertEqual(template, digest(self.template))
        self.assertGreaterEqual(interrupted, 7, "most kills must land inside a run")
        self.assertTrue(self.leftovers(), "killed runs leave their working copies")
        self.assertEqual(0, self.run_program(), self.stderr)
        self.assertEqual([], self.leftovers())
        # The last run put a new file in the report's place (its bytes may
        # equal the earlier report's when both were made in the same second).
        self.assertNotEqual(before_file, os.stat(self.report).st_ino)
        self.assert_whole_report(30000)
        self.assertEqual(template, digest(self.template))

    # -- the log -------------------------------------------------------------
    def test_device_as_log_is_refused(self):
        before = self.earlier_report()
        self.configure([GROW], log="/dev/full")
        self.assertEqual(2, self.run_program())
        self.assertIn('Cannot create "/dev/full": it is a character device, not a regular file.',
                      self.stderr)
        self.assertEqual(before, digest(self.report))
        self.assertEqual([], self.leftovers())

    def test_log_folder_removed_during_the_run(self):
        before = self.earlier_report()
        logs = os.path.join(self.folder, "logs")
        os.mkdir(logs)
        log = os.path.join(logs, "run.log")
        self.configure(["@Slow=0\nWITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n "
                        "WHERE i < 3000000) SELECT count(*) FROM n\n@Next=0\nSELECT 1\n"], log=log)
        process = subprocess.Popen(self.command(), stderr=subprocess.PIPE, text=True)
        deadline = time.monotonic() + 30
        while time.monotonic() < deadline:
            if "[Slow]    Function 0" in self.log_text(log):
                break
            time.sleep(0.002)
        shutil.rmtree(logs)
        _, err = process.communicate(timeout=120)
        self.assertEqual(1, process.returncode, err)
        self.assertIn('Cannot write to "%s": the file was deleted' % log, err)
        self.assertIn('The report file "%s" was not changed.' % self.report, err)
        self.assertEqual(before, digest(self.report))
        self.assertEqual([], self.leftovers())

    def mount_small_disk(self, name, size):
        if os.geteuid() != 0:
            self.skipTest("mounting a small tmpfs needs root; the disk-full case is not run")
        folder = os.path.join(self.folder, name)
        os.mkdir(folder)
        result = subprocess.run(["mount", "-t", "tmpfs", "-o", "size=%s" % size, "tmpfs", folder],
                                capture_output=True, text=True)
        if result.returncode != 0:
            self.skipTest("cannot mount a tmpfs here (%s); the disk-full case is not run"
                          % result.stderr.strip())
        self.mounts.append(folder)
        return folder

    def fill(self, folder, leave):
        """Fills \\a folder's file system until about \\a leave bytes are free."""
        st = os.statvfs(folder)
        free = st.f_bavail * st.f_frsize
        with open(os.path.join(folder, "filler"), "wb") as f:
            f.write(b"\0" * max(0, free - leave))

    def test_full_disk_under_the_report_keeps_the_earlier_report(self):
        disk = self.mount_small_disk("disk", "2m")
        self.earlier_report()
        report = os.path.join(disk, "report.docx")
        shutil.copy(self.report, report)
        before = digest(report)
        self.fill(disk, 200 * 1024)
        self.configure([GROW], report=report)
        self.assertEqual(1, self.run_program(), self.stderr)
        log = self.log_lines()
        self.assertIn("Error: Failed to close the report file.", log)
        info = log[log.index("Error: Failed to close the report file.") + 1]
        self.assertIn("No space left on device", info)
        self.assertNotIn(".vantrelle-", info)
        self.assertEqual("Close the log file.", log[-1])
        self.assertEqual(before, digest(report))
        self.assertEqual([], self.leftovers(disk))

    def test_full_disk_under_the_log_ends_the_run(self):
        disk = self.mount_small_disk("disk", "1m")
        before = self.earlier_report()
        self.fill(disk, 0)
        self.configure([GROW], log=os.path.join(disk, "run.log"))
        self.assertEqual(1, self.run_program())
        self.assertIn('Cannot write to "%s": No space left on device.'
                      % os.path.join(disk, "run.log"), self.stderr)
        self.assertEqual(before, digest(self.report))
        self.assertEqual([], self.leftovers())

    # -- statements ------------------------------------------------------------
    def test_out_of_memory_is_the_statement_error_and_the_run_goes_on(self):
        if sanitized():
            self.skipTest("the sanitizers reserve more address space than the limit this "
                          "case sets; it runs in the release build")
        self.configure(["@Huge=1;1;1;1\nWITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 "
                        "FROM n WHERE i < 30000) SELECT i, printf('%.*c', 40000, 'x') FROM n\n"
                        + SMALL])
        limit = 500 << 20

        def low_address_space():
            resource.setrlimit(resource.RLIMIT_AS, (limit, limit))
        status = self.run_program(preexec_fn=low_address_space)
        self.assertEqual(1, status, self.stderr)
        log = self.log_lines()
        i = log.index("[SQLFILE1]  [Huge]    Function 1, Table 1, Begin row 1, Begin col 1")
        self.assertEqual(["Error: Failed to execute function 1.", "Error Info: Out of memory",
                          "[SQLFILE1]  [Huge]    Failure.",
                          "[SQLFILE1]  [Var]    Function 3, DocVariable field [Title]"],
                         log[i + 2:i + 6])
        self.assertEqual("Close the log file.", log[-1])
        self.assertTrue(os.path.exists(self.report))

    def test_errors_keep_counting_past_32767(self):
        self.configure(["@E=1;abc\nSELECT 1\n" * 32768 + "@Last=0\nSELECT 1\n"])
        self.assertEqual(1, self.run_program(), self.stderr)
        log = self.log_lines()
        self.assertEqual(32769, sum(1 for line in log if line.startswith("Error: ")))
        self.assertEqual(["Error: Failed to excute function.", "Error Info: Overflow"], log[-6:-4])
        self.assertEqual(["Update all Word fields successfully.", "Save the report file successfully.",
                          "Close the report file.", "Close the log file."], log[-4:])
        self.assertTrue(os.path.exists(self.report))

    def test_template_that_fails_to_open_keeps_the_earlier_report(self):
        before = self.earlier_report()
        with open(self.template, "w") as f:
            f.write("not a document")
        link = os.path.join(self.folder, "linked.docx")
        os.symlink("/etc/passwd", link)
        for template in (self.template, link):
            self.configure([SMALL], template=template)
            self.assertEqual(1, self.run_program())
            log = self.log_lines()
            self.assertEqual(['Create the blank report file "%s".' % self.report,
                              'Error: Failed to open the report file "%s".' % self.report],
                             log[4:6])
            # The description names the template, the file to mend.
            self.assertIn('Cannot open "%s"' % template, log[6])
            self.assertEqual(7, len(log))
            self.assertEqual(before, digest(self.report))
            self.assertEqual([], self.leftovers())

    # -- outputs and inputs ------------------------------------------------------
    def test_report_or_log_naming_an_input_is_refused(self):
        self.configure([SMALL], report=self.ini)
        ini = digest(self.ini)
        self.assertEqual(1, self.run_program())
        self.assertEqual(ini, digest(self.ini))
        self.assertEqual('Error Info: [FILE] ReportFileName "%s" names the same file as the '
                         'configuration file "%s"; the report never overwrites another file of '
                         'the run.' % (self.ini, self.ini), self.log_lines()[-1])
        link = os.path.join(self.folder, "template-link.docx")
        os.symlink(self.template, link)
        template = digest(self.template)
        os.unlink(self.log)
        self.configure([SMALL], log=link)
        self.assertEqual(2, self.run_program())
        self.assertIn('[FILE] LogFileName "%s" names the same file as [FILE] '
                      'ReportTemplateFileName' % link, self.stderr)
        self.assertEqual(template, digest(self.template))
        self.assertFalse(os.path.exists(self.log))

    def test_32767_jobs_read_the_configuration_once(self):
        script = os.path.join(self.folder, "empty.sql")
        with open(script, "w") as f:
            f.write("# nothing to run\n")
        self.configure([])
        with open(self.ini) as f:
            text = f.read().replace("F_MAXNUM=0", "F_MAXNUM=32767")
        text += "".join("F%d=%s\n" % (n, script) for n in range(1, 32768))
        with open(self.ini, "w") as f:
            f.write(text)
        # Reading the file once per key took minutes; once per run, a moment.
        self.assertEqual(0, self.run_program(timeout=120), self.stderr)
        log = self.log_lines()
        self.assertEqual(32767, sum(1 for line in log if line.endswith('"%s" succesfully.' % script)))
        self.assertEqual('[SQLFILE32767]  Open "%s" succesfully.' % script, log[-5])

    # -- permissions ---------------------------------------------------------------
    def test_unreadable_inputs_and_a_read_only_report_folder(self):
        before = self.earlier_report()
        os.unlink(self.log)
        self.configure(["@A=0\nSELECT 1\n", SMALL])
        user = self.unprivileged()
        ini = os.path.join(self.folder, "report.ini")

        os.chmod(ini, 0)
        self.assertEqual(2, self.run_program(user=user))
        self.assertTrue(self.stderr.startswith("Error!"), self.stderr)
        self.assertFalse(os.path.exists(self.log))
        os.chmod(ini, 0o644)

        script = os.path.join(self.folder, "s1.sql")
        os.chmod(script, 0)
        self.assertEqual(1, self.run_program(user=user), self.stderr)
        log = self.log_lines()
        self.assertIn('Error: Failed to read [SQLFILE1] "%s".' % script, log)
        self.assertIn("[SQLFILE2]  [Var]    Success.", log)
        self.assertEqual("Close the log file.", log[-1])
        os.chmod(script, 0o644)
        before = digest(self.report)  # the run above saved a new report

        os.chmod(self.template, 0)
        self.assertEqual(1, self.run_program(user=user))
        log = self.log_lines()
        self.assertEqual('Error: Failed to open the report file "%s".' % self.report, log[4])
        self.assertIn("Permission denied", log[5])
        self.assertEqual(before, digest(self.report))
        os.chmod(self.template, 0o644)

        reports = os.path.join(self.folder, "reports")
        os.mkdir(reports)
        report = os.path.join(reports, "report.docx")
        shutil.copy(self.report, report)
        os.chmod(reports, 0o555)
        self.configure(["@A=0\nSELECT 1\n", SMALL], report=report)
        os.chmod(self.ini, 0o644)
        self.assertEqual(1, self.run_program(user=user))
        log = self.log_lines()
        self.assertEqual('Error: Failed to open the report file "%s".' % report, log[4])
        self.assertIn("Permission denied", log[5])
        self.assertEqual(before, digest(report))
        self.assertEqual([], self.leftovers(reports))


if __name__ == "__main__":
    unittest.main(verbosity=2)
