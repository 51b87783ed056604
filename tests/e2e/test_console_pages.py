#!/usr/bin/python3
"""The console's pages in a real browser against the real server and batch
program: one headless Chromium walks the story of a runner, a viewer and an
admin, with the accessibility check, the browser's console and the layout
at phone width and at 200 % zoom looked at on every page."""
import glob
import os
import re
import shutil
import sqlite3
import subprocess
import tempfile
import time
import unittest

import docx

import console_browser as browser
from console_browser import By, Keys, Select, accessibility_violations, text_of, wait
from report_folder import ROOT
from test_console import PASSWORD, ConsoleCase

# Markup that must show as text and never run.
TRAP = "<img src=x onerror=window.__trapped=1>"
# The network errors the story provokes on purpose: the session probe before
# sign-in and the wrong password (401), the viewer's refused run (403), the
# schedule with a calendar that never fires (400).
EXPECTED_CONSOLE = re.compile(r"Failed to load resource: the server responded with a status of "
                              r"(401|403|400)")


@unittest.skipIf(browser.missing(), browser.missing())
class ConsolePagesTest(ConsoleCase):
    def setUp(self):
        super().setUp()
        self.add_report("finance/echo", "@Var=1;Echo\nSELECT '&Text'\n",
                        "Name1=&Text\nDesc1=Any_text_" + "x" * 80 + "\nDefault1=hello\n"
                        "Pattern1=.*\n")
        with open(os.path.join(self.reports, "finance", "echo.ini"), "a") as f:
            f.write("[Console]\nTitle=Echo " + TRAP + "\n")
        self.add_report("finance/broken", "SELECT * FROM no_such_table\n", "")
        self.downloads = tempfile.mkdtemp(dir=self.root)
        self.driver = browser.start_browser(self.downloads)
        self.addCleanup(self.driver.quit)
        self.base = "http://127.0.0.1:%d/" % self.port
        self.checked = []

    # What every page is held to ------------------------------------------

    def page_holds(self, name):
        """No accessibility violation, no console error, no script from data,
        and no sideways scrolling at phone width or at 200 % zoom."""
        d = self.driver
        self.assertEqual([], accessibility_violations(d), name)
        errors = [entry["message"] for entry in d.get_log("browser")
                  if entry["level"] == "SEVERE" and not EXPECTED_CONSOLE.search(entry["message"])]
        self.assertEqual([], errors, name)
        self.assertIsNone(d.execute_script("return window.__trapped"), name)
        for width, height in ((390, 844), (640, 400)):
            browser.viewport(d, width, height)
            wider = d.execute_script(
                "const width = document.documentElement.clientWidth;"
                "return [...document.querySelectorAll('body *')].filter(e => "
                "e.getBoundingClientRect().right > width + 1).map(e => e.tagName + '.' + "
                "e.className + ' ' + e.getBoundingClientRect().right);")
            self.assertEqual([], wider, "%s is wider than %d pixels" % (name, width))
            self.assertLessEqual(d.execute_script(
                "return document.documentElement.scrollWidth - document.documentElement.clientWidth"),
                0, "%s scrolls sideways at %d pixels" % (name, width))
        d.execute_cdp_cmd("Emulation.clearDeviceMetricsOverride", {})
        self.checked.append(name)

    def find(self, css):
        return self.driver.find_element(By.CSS_SELECTOR, css)

    def find_all(self, css):
        return self.driver.find_elements(By.CSS_SELECTOR, css)

    def retype(self, css, text):
        """Replaces a field's text the way a person does, so that the page
        hears every change."""
        field = self.find(css)
        field.send_keys(Keys.CONTROL, "a")
        field.send_keys(Keys.BACKSPACE)
        field.send_keys(text)
        return field

    def sign_in(self, user, password=PASSWORD):
        wait(self.driver, lambda d: d.find_elements(By.ID, "password"))
        self.retype("#user", user)
        self.retype("#password", password + "\n")  # Enter submits

    def run_state(self):
        return text_of(self.driver, ".facts .state")

    def open_run_form(self, title):
        self.driver.get(self.base + "#/reports")
        self.driver.refresh()
        wait(self.driver, lambda d: d.find_elements(By.CSS_SELECTOR, ".card"))
        self.driver.find_element(By.CSS_SELECTOR, 'a[aria-label="Run %s"]' % title).click()
        wait(self.driver, lambda d: d.find_elements(By.CSS_SELECTOR, "form.parameters"))

    def run_to_end(self, timeout=60):
        wait(self.driver, lambda d: re.search(r"#/runs/\d+$", d.current_url), message="no run page")
        wait(self.driver, lambda d: self.run_state() in ("succeeded", "failed", "stopped"), timeout,
             "the run page never showed the end")
        return int(self.driver.current_url.rsplit("/", 1)[1])

    # The story ------------------------------------------------------------

    def test_runner_viewer_and_admin_in_a_browser(self):
        d = self.driver
        d.get(self.base)
        # Keyboard alone: the user name has the focus, Tab goes on to the
        # password and the button, and the focus ring shows where it is.
        wait(d, lambda d: d.switch_to.active_element.get_attribute("id") == "user")
        for expected in ("password", "Sign in"):
            d.switch_to.active_element.send_keys(Keys.TAB)
            focused = d.switch_to.active_element
            self.assertIn(expected, (focused.get_attribute("id"), focused.text))
            self.assertNotEqual("none", d.execute_script(
                "return getComputedStyle(document.activeElement).outlineStyle"))
        self.sign_in("alice", "wrong password")
        wait(d, lambda d: "Wrong user name or password." in text_of(d, "#sign-in-error"))
        self.page_holds("sign-in")
        self.sign_in("alice")

        # The reports: titles as text, a filter, an empty state that helps.
        wait(d, lambda d: len(d.find_elements(By.CSS_SELECTOR, ".card")) == 4)
        titles = [e.text for e in self.find_all(".card h2")]
        self.assertIn("Monthly <script>alert(1)</script>", titles)
        self.assertIn("Echo " + TRAP, titles)
        self.assertEqual("alice (runner)", text_of(d, "#who-name"))
        self.page_holds("reports")
        nothing = "nothing_like_it_" * 5
        for typed, cards, said in (("MONTHLY", 1, "1 of 4 reports."),
                                   (nothing, 0, "No report matches “%s”." % nothing)):
            self.retype("#filter", typed)
            self.assertEqual(cards, len(self.find_all(".card")))
            self.assertIn(said, text_of(d, "#filter-count"))
        self.page_holds("reports, filtered to nothing")
        self.retype("#filter", "")
        self.assertEqual(4, len(self.find_all(".card")))

        # A run with a parameter: the pattern checked as it is typed.
        self.open_run_form("Monthly <script>alert(1)</script>")
        field = self.find("#parameter-1")
        self.assertEqual(("2004-05", "&Month"), (field.get_attribute("value"),
                                                 text_of(d, "label[for=parameter-1]")))
        self.assertIn("Month of the report (YYYY-MM)", text_of(d, "#parameter-1-hint"))
        self.assertEqual(field, d.switch_to.active_element)
        for typed, error in (("2004-6", "The value must match the pattern \\d{4}-\\d{2}."),
                             ("2004-06' OR 1=1", "The value must match the pattern"),
                             ("2004-06", "")):
            self.retype("#parameter-1", typed)
            self.assertIn(error, text_of(d, "#parameter-1-error"))
            self.assertEqual("true" if error else None, field.get_attribute("aria-invalid"))
        self.page_holds("run form")
        field.send_keys("\n")
        sales = self.run_to_end()
        self.assertEqual("succeeded", self.run_state())
        log = text_of(d, "#log")
        self.assertIn("'2004-06'", log)
        self.assertRegex(text_of(d, ".facts"), r"Parameters\n&Month = 2004-06")
        # Times in the browser's zone, with the zone named.
        self.assertRegex(text_of(d, ".facts time"), r"GMT\+1|CET")
        self.page_holds("finished run")
        self.assertIn("Download report", text_of(d, ".actions"), text_of(d, "main"))
        d.find_element(By.LINK_TEXT, "Download report").click()
        wait(d, lambda d: glob.glob(os.path.join(self.downloads, "*.docx")), message="no download")
        path = glob.glob(os.path.join(self.downloads, "*.docx"))[0]
        self.assertEqual("sales_report.docx", os.path.basename(path))
        time.sleep(0.2)
        self.assertIn("Sales report for 2004-06", [p.text for p in docx.Document(path).paragraphs])

        # A long run: its log shows while it runs, and Stop stops it.
        self.open_run_form("slow")
        self.find("form.parameters button[type=submit]").click()
        wait(d, lambda d: self.run_state() == "running", 30)
        wait(d, lambda d: len(self.find_all("#log li")) >= 3, 30, "the live log stayed empty")
        self.assertEqual("The log grows as the run writes it.", text_of(d, "#log-state"))
        self.page_holds("running run")
        d.find_element(By.XPATH, "//button[text()='Stop']").click()
        self.run_to_end(60)
        self.assertEqual("stopped", self.run_state())
        self.assertEqual([], d.find_elements(By.XPATH, "//button[text()='Stop']"))

        # Markup in a parameter and so in the log: shown as text. A session
        # that ended meanwhile sends Run to the sign-in, and back.
        self.open_run_form("Echo " + TRAP)
        self.page_holds("run form with a long description")
        database = sqlite3.connect(os.path.join(self.state, "console.db"))
        database.execute("DELETE FROM sessions")
        database.commit()
        database.close()
        self.find("form.parameters button[type=submit]").click()
        wait(d, lambda d: "Your session has ended: sign in again." in text_of(d, "main"))
        self.sign_in("alice")
        wait(d, lambda d: self.find_all("#parameter-1"))
        self.retype("#parameter-1", TRAP + "\n")
        self.run_to_end()
        self.assertIn("&Text = " + TRAP, text_of(d, ".facts"))
        self.assertIn("SELECT '" + TRAP + "'", text_of(d, "#log"))
        self.page_holds("run with markup")

        # A failed run says its first error at the top; error lines stand out.
        self.open_run_form("broken")
        self.find("form.parameters button[type=submit]").click()
        self.run_to_end()
        self.assertEqual("failed", self.run_state())
        self.assertRegex(text_of(d, "[role=alert]"), r"^The run failed\. First error: Failed to execute function 0\. .*no such table")
        self.assertTrue(self.find_all("#log li.error"))
        self.page_holds("failed run")

        # History: newest first, filtered by state, each run a link.
        self.find("a[data-route=history]").click()
        wait(d, lambda d: self.find_all("tbody tr"))
        self.assertEqual(4, len(self.find_all("tbody tr")))
        self.assertEqual("#%d" % sales, self.find_all("tbody tr td a")[-1].text)
        self.page_holds("history")
        Select(self.find("#state")).select_by_value("stopped")
        self.find(".filters button").click()
        wait(d, lambda d: "state=stopped" in d.current_url and len(self.find_all("tbody tr")) == 1)

        # A viewer: no Run, no Stop, and the API refuses all the same.
        d.get(self.base + "#/reports")
        wait(d, lambda d: self.find_all("#sign-out"))
        self.find("#sign-out").click()
        wait(d, lambda d: "You have signed out." in text_of(d, "main"))
        self.sign_in("vera")
        wait(d, lambda d: len(self.find_all(".card")) == 4)
        self.assertEqual([], d.find_elements(By.LINK_TEXT, "Run"))
        self.assertEqual([], self.find_all("#nav-audit:not([hidden])"))
        d.get(self.base + "#/run/finance%2Fsales%2Freport")
        wait(d, lambda d: "You may see this report but not run it." in text_of(d, "main"))
        refused = d.execute_async_script(
            "const done = arguments[arguments.length - 1];"
            "fetch('/api/v1/session').then(r => r.json()).then(s => fetch("
            "'/api/v1/reports/finance/sales/report/runs', {method: 'POST', headers: "
            "{'Content-Type': 'application/json', 'X-CSRF-Token': s.csrf}, body: '{}'}))"
            ".then(r => done(r.status));")
        self.assertEqual(403, refused)
        d.get(self.base + "#/runs/%d" % sales)
        wait(d, lambda d: self.find_all(".facts .state"))
        self.assertEqual([], d.find_elements(By.XPATH, "//button[text()='Stop']"))

        # An admin: the audit log, paged.
        self.find("#sign-out").click()
        self.sign_in("adam")
        wait(d, lambda d: self.find_all("#nav-audit:not([hidden])"))
        self.find("a[data-route=audit]").click()
        wait(d, lambda d: self.find_all("tbody tr"))
        actions = {row.find_elements(By.TAG_NAME, "td")[3].text for row in self.find_all("tbody tr")}
        self.assertTrue({"sign-in", "sign-in failed", "run", "stop", "download"} <= actions, actions)
        self.page_holds("audit log")

        # The admin makes a schedule: the server's word on a bad calendar
        # shows at the top of the form; once saved, the list shows when it
        # fires next.
        self.find("a[data-route=schedules]").click()
        wait(d, lambda d: "No schedule yet." in text_of(d, "main"))
        d.find_element(By.LINK_TEXT, "New schedule").click()
        wait(d, lambda d: self.find_all("form.schedule"))
        self.retype("#name", "Monthly " + TRAP)
        Select(self.find("#report")).select_by_value("finance/sales/report")
        self.retype("#parameter-0", "{previous month:yyyy-mm}")
        self.retype("#calendar", "0 6 31 2 *")
        self.retype("#time_zone", "Europe/Paris")
        self.retype("#mail", "reader@example.org\nboss@example.org")
        self.find("#mail-attach-pdf").click()
        self.page_holds("schedule form")
        self.find("form.schedule button[type=submit]").click()
        wait(d, lambda d: "names a day that never comes" in text_of(d, "[role=alert]"))
        self.assertEqual(d.switch_to.active_element, self.find("[role=alert]"))
        self.retype("#calendar", "0 6 1 * *")
        self.find("form.schedule button[type=submit]").click()
        wait(d, lambda d: self.find_all("tbody tr"))
        cells = [cell.text for cell in self.find_all("tbody tr td")]
        self.assertEqual(["Monthly " + TRAP, "0 6 1 * *",
                          "mail to reader@example.org, boss@example.org", "adam"],
                         [cells[0], cells[2], cells[4], cells[5]])
        self.assertRegex(cells[3], r"1.*06:00")  # the 1st, 06:00 in Paris: Berlin's clock too
        self.page_holds("schedules")
        self.assertEqual(["reader@example.org", "boss@example.org"],
                         self.client("adam").request("GET", "/api/v1/schedules")[1][0]
                         ["deliveries"][0]["mail"])
        self.assertEqual(["sign-in", "reports", "reports, filtered to nothing", "run form", "finished run", "running run",
                          "run form with a long description", "run with markup", "failed run", "history", "audit log",
                          "schedule form", "schedules"], self.checked)


@unittest.skipIf(browser.missing(), browser.missing())
class ConsolePicturesTest(unittest.TestCase):
    def test_the_script_draws_the_pictures_the_readme_shows(self):
        out = tempfile.mkdtemp(prefix="vantrelle_pictures_")
        self.addCleanup(shutil.rmtree, out, True)
        script = subprocess.run([os.path.join(ROOT, "scripts", "console-screenshots"), out],
                                capture_output=True, text=True, timeout=300)
        self.assertEqual(0, script.returncode, script.stdout + script.stderr)
        written = sorted(os.listdir(out))
        with open(os.path.join(ROOT, "README.md"), encoding="utf-8") as f:
            shown = sorted(set(re.findall(r"docs/(console-[a-z0-9-]+\.png)", f.read())))
        self.assertEqual(shown, written)
        for name in written:
            self.assertTrue(os.path.exists(os.path.join(ROOT, "docs", name)), name)
            size = subprocess.run(["file", "-b", os.path.join(out, name)], capture_output=True,
                                  text=True).stdout
            self.assertIn("PNG image data, %d x" % (390 if "-phone" in name else 1280), size)


if __name__ == "__main__":
    unittest.main()
