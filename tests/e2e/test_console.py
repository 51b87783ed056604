#!/usr/bin/python3
"""The report console end to end: the real vantrelle-server on loopback, the
real batch program for every run, a plain HTTP client.

Sign-in, the reports a user may see, a run with a parameter from start to
downloaded report, the live log, stop and queue, a server killed or stopped
during a run, and the attacks a server on a network meets.
"""
import http.client
import json
import os
import shutil
import signal
import socket
import ssl
import sqlite3
import stat
import subprocess
import tempfile
import time
import unittest

import docx

from report_folder import ENDLESS, EXE, ROOT, as_user

SERVER = os.environ.get("VANTRELLE_SERVER_EXE",
                        os.path.join(os.path.dirname(EXE), "vantrelle-server"))
PASSWORD = "correct horse battery"
USERS = [("alice", "runner"), ("vera", "viewer"), ("adam", "admin"), ("bob", "runner")]


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class Client:
    """One browser: its cookie and CSRF token."""

    def __init__(self, port, tls=False):
        self.port = port
        self.tls = tls
        self.cookie = ""
        self.csrf = ""

    def request(self, method, path, body=None, headers=None, raw=False):
        if self.tls:
            connection = http.client.HTTPSConnection(
                "127.0.0.1", self.port, timeout=60, context=ssl._create_unverified_context())
        else:
            connection = http.client.HTTPConnection("127.0.0.1", self.port, timeout=60)
        sent = dict(headers or {})
        if self.cookie:
            sent.setdefault("Cookie", self.cookie)
        if self.csrf and method != "GET":
            sent.setdefault("X-CSRF-Token", self.csrf)
        data = body if isinstance(body, (bytes, str)) or body is None else json.dumps(body)
        connection.request(method, path, body=data, headers=sent)
        response = connection.getresponse()
        payload = response.read()
        connection.close()
        cookie = response.getheader("Set-Cookie")
        if cookie:
            self.cookie = cookie.split(";")[0]
        if raw:
            return response.status, payload, response
        try:
            return response.status, json.loads(payload)
        except ValueError:
            return response.status, payload.decode("utf-8", "replace")

    def sign_in(self, user, password=PASSWORD):
        status, body = self.request("POST", "/api/v1/session", {"user": user, "password": password})
        if status == 200:
            self.csrf = body["csrf"]
        return status, body


class ConsoleCase(unittest.TestCase):
    max_runs = 1
    server_extra = ""  # more [Server] keys
    server_env = {}    # more environment for the server

    def setUp(self):
        self.root = tempfile.mkdtemp(prefix="vantrelle_console_")
        os.chmod(self.root, 0o755)
        self.addCleanup(shutil.rmtree, self.root, True)
        self.state = os.path.join(self.root, "state")
        self.reports = os.path.join(self.root, "reports")
        sales = os.path.join(self.reports, "finance", "sales")
        shutil.copytree(os.path.join(ROOT, "examples/monthly"), sales)
        os.makedirs(os.path.join(sales, "out"))
        with open(os.path.join(sales, "sales.sql")) as f:
            database = sqlite3.connect(os.path.join(sales, "out", "sales.db"))
            database.executescript(f.read())
            database.close()
        with open(os.path.join(sales, "report.ini"), "a") as f:
            f.write("Pattern1=\\d{4}-\\d{2}\n[Console]\nTitle=Monthly <script>alert(1)</script>\n")
        self.add_report("finance/slow", ENDLESS, "Name1=&Note\nDesc1=A note\nDefault1=x\n")
        self.add_report("hr/staff", "@Var=3;Title\nSELECT 'staff'\n", "")
        # A configuration whose name is not UTF-8 is left out of every list,
        # never the reason the others cannot be listed or run.
        with open(os.path.join(self.reports.encode(), b"finance", b"na\xefve.ini"), "w") as f:
            f.write("[FILE]\n")
        self.port = free_port()
        self.config = os.path.join(self.root, "server.ini")
        with open(self.config, "w") as f:
            f.write("[Server]\nListen=127.0.0.1:%d\nState=%s\nMaxRuns=%d\nStopGrace=20\n"
                    "ClientTimeout=2\nProgram=%s\n%s\n"
                    "[Catalogue finance]\nFolder=%s/finance\nViewers=@viewer\nRunners=alice\n\n"
                    "[Catalogue hr]\nFolder=%s/hr\nRunners=bob\n"
                    % (self.port, self.state, self.max_runs, EXE, self.server_extra, self.reports,
                       self.reports))
        for name, role in USERS:
            self.manage("user", "add", name, "--role", role, stdin=PASSWORD)
        self.server = None
        self.start_server()

    def add_report(self, id, script, parameters):
        folder = os.path.join(self.reports, os.path.dirname(id))
        os.makedirs(folder, exist_ok=True)
        name = os.path.basename(id)
        shutil.copy(os.path.join(ROOT, "examples/monthly/template.docx"),
                    os.path.join(folder, name + ".docx"))
        with open(os.path.join(folder, name + ".sql"), "w") as f:
            f.write(script)
        with open(os.path.join(folder, name + ".ini"), "w") as f:
            f.write("[FILE]\nLogFileName=%s.log\nReportTemplateFileName=%s.docx\n"
                    "ReportFileName=%s-report.docx\n[ODBC]\nDSN=sqlite::memory:\n[SQLFILE]\n"
                    "F_MAXNUM=1\nF1=%s.sql\n[PARAMETER]\n%s" % (name, name, name, name, parameters))

    def manage(self, *words, stdin=""):
        return subprocess.run([SERVER, "--config", self.config, *words], input=stdin,
                              capture_output=True, text=True, timeout=60)

    def start_server(self):
        self.server = subprocess.Popen([SERVER, "--config", self.config],
                                       stderr=subprocess.PIPE, text=True,
                                       env=dict(os.environ, **self.server_env))
        self.addCleanup(lambda s=self.server: s.poll() is None and (s.kill(), s.wait()))
        self.addCleanup(lambda s=self.server: s.stderr.close())
        deadline = time.monotonic() + 30
        while time.monotonic() < deadline:
            try:
                socket.create_connection(("127.0.0.1", self.port), timeout=1).close()
                return
            except OSError:
                time.sleep(0.02)
        self.fail("the server did not start listening")

    def client(self, user=None):
        client = Client(self.port)
        if user:
            self.assertEqual(200, client.sign_in(user)[0])
        return client

    def run_report(self, client, report, parameters=None):
        status, run = client.request("POST", "/api/v1/reports/%s/runs" % report,
                                     {"parameters": parameters or {}})
        self.assertEqual(202, status, run)
        return run["id"]

    def wait_state(self, client, run, states, timeout=60):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            status, body = client.request("GET", "/api/v1/runs/%d" % run)
            if body["state"] in states:
                return body
            time.sleep(0.05)
        self.fail("run %d never reached %s: %s" % (run, states, body))

    def wait_log(self, client, run, text, timeout=60):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            if text in client.request("GET", "/api/v1/runs/%d/log" % run)[1]["text"]:
                return
            time.sleep(0.05)
        self.fail("the log of run %d never said %r" % (run, text))

    def children(self):
        """The batch runs of this case's reports that are going."""
        found = []
        for pid in filter(str.isdigit, os.listdir("/proc")):
            try:
                with open("/proc/%s/cmdline" % pid, "rb") as f:
                    words = f.read().split(b"\0")
            except OSError:
                continue
            if b"-C" in words and any(word.startswith(self.reports.encode()) for word in words):
                found.append(int(pid))
        return found


class ConsoleRunTest(ConsoleCase):
    def test_a_run_from_sign_in_to_the_downloaded_report(self):
        alice = self.client("alice")
        status, reports = alice.request("GET", "/api/v1/reports")
        self.assertEqual(["finance/sales/report", "finance/slow"], [r["id"] for r in reports])
        sales = reports[0]
        # What a report holds comes back as data, whatever it looks like.
        self.assertEqual("Monthly <script>alert(1)</script>", sales["title"])
        self.assertEqual([{"name": "&Month", "description": "Month of the report (YYYY-MM)",
                           "default": "2004-05", "pattern": "\\d{4}-\\d{2}", "choices": None}],
                         sales["parameters"])
        run = self.run_report(alice, "finance/sales/report", {"&Month": "2004-06"})
        ended = self.wait_state(alice, run, ("succeeded", "failed"))
        self.assertEqual(("succeeded", 0, 0, ["report", "log"]),
                         (ended["state"], ended["exit_status"], ended["errors"], ended["files"]))
        self.assertEqual({"&Month": "2004-06"}, ended["parameters"])
        self.assertRegex(ended["started_at"], r"^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d[+-]\d\d:\d\d$")
        log = alice.request("GET", "/api/v1/runs/%d/log" % run)[1]
        self.assertIn("'2004-06'", log["text"])
        self.assertEqual("", alice.request("GET", "/api/v1/runs/%d/log?from=%d"
                                           % (run, log["next"]))[1]["text"])
        status, payload, response = alice.request("GET", "/api/v1/runs/%d/files/report" % run,
                                                  raw=True)
        self.assertEqual(200, status)
        self.assertIn("filename*=UTF-8''sales_report.docx",
                      response.getheader("Content-Disposition"))
        path = os.path.join(self.root, "downloaded.docx")
        with open(path, "wb") as f:
            f.write(payload)
        self.assertIn("Sales report for 2004-06",
                      [p.text for p in docx.Document(path).paragraphs])
        # The live events of an ended run: its log, then its state.
        status, events = alice.request("GET", "/api/v1/runs/%d/events" % run)
        self.assertIn('event: log\ndata: "', events)
        self.assertTrue(events.rstrip().endswith('"state":"succeeded","user":"alice"}'),
                        events[-300:])
        # History: newest first, paged, filtered.
        second = self.run_report(alice, "finance/sales/report", {"&Month": "2004-05"})
        self.wait_state(alice, second, ("succeeded",))
        ids = [r["id"] for r in alice.request("GET", "/api/v1/runs?limit=1")[1]]
        self.assertEqual([second], ids)
        self.assertEqual([run], [r["id"] for r in alice.request(
            "GET", "/api/v1/runs?limit=5&before=%d" % second)[1]])
        self.assertEqual([], alice.request("GET", "/api/v1/runs?state=failed")[1])
        # Every sign-in, run and download is in the audit log, for admins.
        self.assertEqual(403, alice.request("GET", "/api/v1/audit")[0])
        audit = self.client("adam").request("GET", "/api/v1/audit")[1]
        self.assertEqual({"sign-in", "run", "download"}, {entry["action"] for entry in audit})
        self.assertEqual("127.0.0.1", audit[0]["address"])
        metrics = alice.request("GET", "/metrics")[1]
        self.assertIn('vantrelle_runs{state="succeeded"} 2', metrics)

    def test_a_pattern_holds_on_the_command_line_and_in_the_check_too(self):
        folder = os.path.join(self.reports, "finance", "sales")
        bad = "2004-06' OR 1=1"
        check = subprocess.run([EXE, "--check", "-F", "report.ini", bad], cwd=folder,
                               capture_output=True, text=True, timeout=60)
        self.assertEqual(1, check.returncode)
        self.assertIn('of the parameter &Month does not match [PARAMETER] Pattern1', check.stdout)
        run = subprocess.run([EXE, "-C", "-F", "report.ini", bad], cwd=folder,
                             capture_output=True, text=True, timeout=60)
        self.assertEqual(1, run.returncode)
        log = [name for name in os.listdir(os.path.join(folder, "out")) if name.endswith(".log")]
        with open(os.path.join(folder, "out", log[0]), encoding="utf-8") as f:
            text = f.read()
        self.assertIn('Error Info: The value "%s" of the parameter &Month does not match' % bad,
                      text)
        self.assertNotIn("[SQLFILE1]", text)

    def test_stop_queue_and_the_files_of_earlier_runs(self):
        alice = self.client("alice")
        first = self.run_report(alice, "finance/sales/report")
        self.wait_state(alice, first, ("succeeded",))
        slow = self.run_report(alice, "finance/slow")
        waiting = self.run_report(alice, "finance/slow")
        self.wait_log(alice, slow, "[Slow]    WITH")
        # One run at a time here: the second waits in the queue.
        self.assertEqual("queued", alice.request("GET", "/api/v1/runs/%d" % waiting)[1]["state"])
        self.assertEqual(202, alice.request("POST", "/api/v1/runs/%d/stop" % waiting)[0])
        self.assertEqual(202, alice.request("POST", "/api/v1/runs/%d/stop" % slow)[0])
        stopped = self.wait_state(alice, slow, ("stopped",))
        self.assertEqual(1, stopped["exit_status"])
        log = alice.request("GET", "/api/v1/runs/%d/log" % slow)[1]["text"]
        self.assertIn("Error: The report run was stopped by SIGTERM.", log)
        self.assertEqual("stopped", alice.request("GET", "/api/v1/runs/%d" % waiting)[1]["state"])
        self.assertIsNone(alice.request("GET", "/api/v1/runs/%d" % waiting)[1]["started_at"])
        self.assertEqual(409, alice.request("POST", "/api/v1/runs/%d/stop" % slow)[0])
        self.assertEqual(200, alice.request("GET", "/api/v1/runs/%d/files/report" % first,
                                            raw=True)[0])

    def test_a_server_killed_or_stopped_during_a_run(self):
        alice = self.client("alice")
        run = self.run_report(alice, "finance/slow")
        self.wait_log(alice, run, "[Slow]    WITH")
        self.server.kill()
        self.server.wait(timeout=30)
        # Its run is stopped with it, not left behind.
        deadline = time.monotonic() + 20
        while self.children() and time.monotonic() < deadline:
            time.sleep(0.1)
        self.assertEqual([], self.children())
        self.start_server()
        alice = self.client("alice")
        self.assertEqual("interrupted", alice.request("GET", "/api/v1/runs/%d" % run)[1]["state"])
        run = self.run_report(alice, "finance/slow")
        self.wait_log(alice, run, "[Slow]    WITH")
        self.server.send_signal(signal.SIGTERM)
        self.assertEqual(0, self.server.wait(timeout=60))
        self.assertEqual([], self.children())
        self.start_server()
        self.assertEqual("stopped", self.client("alice").request(
            "GET", "/api/v1/runs/%d" % run)[1]["state"])


class ConsoleAttackTest(ConsoleCase):
    def test_each_attack_is_refused(self):
        alice = self.client("alice")
        vera = self.client("vera")
        nobody = Client(self.port)
        report = "/api/v1/reports/finance/sales/report/runs"
        run = self.run_report(alice, "finance/sales/report")
        self.wait_state(alice, run, ("succeeded",))
        no_csrf = self.client("alice")
        no_csrf.csrf = ""
        cases = [
            ("no cookie", nobody, "GET", "/api/v1/reports", None, 401),
            ("no cookie, a run", nobody, "POST", report, {}, 401),
            ("a viewer runs", vera, "POST", report, {}, 403),
            ("a viewer stops", vera, "POST", "/api/v1/runs/%d/stop" % run, None, 403),
            ("another catalogue's report", alice, "POST", "/api/v1/reports/hr/staff/runs", {},
             404),
            ("a missing CSRF token", no_csrf, "POST", report, {}, 403),
            ("an id with ..", alice, "GET", "/api/v1/runs/%d/files/../../console.db" % run,
             None, 404),
            ("a report id with %2f", alice, "POST",
             "/api/v1/reports/finance%2f..%2f..%2fhr%2fstaff/runs", {}, 404),
            ("a file kind outside the list", alice, "GET", "/api/v1/runs/%d/files/db" % run,
             None, 404),
            ("an unknown run", alice, "GET", "/api/v1/runs/99999", None, 404),
            ("a quote without a pattern", alice, "POST", "/api/v1/reports/finance/slow/runs",
             {"parameters": {"&Note": "x'; DROP TABLE orders; --"}}, 400),
            ("a value the pattern refuses", alice, "POST", report,
             {"parameters": {"&Month": "2004-06' OR 1=1"}}, 400),
            ("a parameter the report lacks", alice, "POST", report,
             {"parameters": {"&Region": "x"}}, 400),
            ("an option as a value", alice, "POST", "/api/v1/reports/finance/slow/runs",
             {"parameters": {"&Note": "-F"}}, 400),
            ("a body over 64 KiB", alice, "POST", report, "x" * 70000, 413),
        ]
        for name, client, method, path, body, expected in cases:
            with self.subTest(name):
                status, answer = client.request(method, path, body)
                self.assertEqual(expected, status, answer)
        status, answer = alice.request("POST", "/api/v1/reports/finance/slow/runs",
                                       {"parameters": {"&Note": "it's"}})
        self.assertIn("[PARAMETER] Pattern1= or Choices1=", answer["error"])
        # Headers beyond the server's bound.
        status, _, _ = alice.request("GET", "/api/v1/reports", headers={"X-Big": "y" * 40000},
                                     raw=True)
        self.assertIn(status, (413, 431))
        # A session id planted before sign-in is never the one signed in.
        planted = Client(self.port)
        planted.cookie = "vantrelle_session=" + "a" * 64
        planted.sign_in("alice")
        self.assertNotIn("a" * 64, planted.cookie)
        attacker = Client(self.port)
        attacker.cookie = "vantrelle_session=" + "a" * 64
        self.assertEqual(401, attacker.request("GET", "/api/v1/reports")[0])
        # Sign-out ends the session on the server.
        stolen = Client(self.port)
        stolen.cookie = planted.cookie
        self.assertEqual(200, planted.request("DELETE", "/api/v1/session")[0])
        self.assertEqual(401, stolen.request("GET", "/api/v1/reports")[0])
        # Guessing: slower, then locked, and the same answer for a name that
        # does not exist.
        guesser = Client(self.port)
        statuses = [guesser.sign_in(name, "wrong")[0] for name in ["bob"] * 4 + ["ghost"]]
        self.assertEqual([401] * 5, statuses)
        started = time.monotonic()
        self.assertEqual(401, guesser.sign_in("bob", "wrong")[0])
        self.assertGreater(time.monotonic() - started, 1.0)
        # A client that stops sending is dropped, and others are served.
        slow = socket.create_connection(("127.0.0.1", self.port))
        slow.sendall(b"GET /api/v1/reports HTTP/1.1\r\nHost: x\r\n")
        self.assertEqual(200, alice.request("GET", "/healthz")[0])
        slow.settimeout(10)
        self.assertEqual(b"", slow.recv(100))
        slow.close()

    def test_locked_name_and_api_tokens(self):
        guesser = Client(self.port)
        for _ in range(10):
            guesser.sign_in("bob", "wrong")
        status, answer = guesser.sign_in("bob")
        self.assertEqual(429, status, answer)
        self.assertIn("locked", answer["error"])
        result = self.manage("token", "add", "alice")
        self.assertEqual(0, result.returncode, result.stderr)
        script = Client(self.port)
        headers = {"Authorization": "Bearer " + result.stdout.strip()}
        status, run = script.request("POST", "/api/v1/reports/finance/sales/report/runs",
                                     {"parameters": {}}, headers=headers)
        self.assertEqual(202, status, run)
        self.assertEqual(401, script.request("GET", "/api/v1/reports",
                                             headers={"Authorization": "Bearer x"})[0])
        listed = self.manage("token", "list").stdout
        self.assertIn("alice", listed)
        # A deleted token ends within the second the server keeps it.
        self.assertEqual(0, self.manage("token", "del", listed.split()[0]).returncode, listed)
        time.sleep(1.1)
        self.assertEqual(401, script.request("GET", "/api/v1/reports", headers=headers)[0])


class ConsoleHttpsProxyTest(ConsoleCase):
    """HTTPS of its own, and a reverse proxy that signs users in."""

    def setUp(self):
        self.pem = tempfile.mkdtemp(prefix="vantrelle_console_tls_")
        self.addCleanup(shutil.rmtree, self.pem, True)
        subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "1",
                        "-subj", "/CN=localhost", "-keyout", self.pem + "/key.pem", "-out",
                        self.pem + "/cert.pem"], check=True, capture_output=True, timeout=60)
        self.server_extra = ("TlsCertificate=%s/cert.pem\nTlsKey=%s/key.pem\nTrustedProxy=127.0.0.1\n"
                             "ProxyUserHeader=X-Remote-User\n" % (self.pem, self.pem))
        super().setUp()

    def test_https_and_the_proxys_user(self):
        browser = Client(self.port, tls=True)
        status, _, response = browser.request(
            "POST", "/api/v1/session", {"user": "alice", "password": PASSWORD}, raw=True)
        self.assertEqual(200, status)
        self.assertIn("; Secure", response.getheader("Set-Cookie"))
        self.assertIn("max-age=", response.getheader("Strict-Transport-Security"))
        proxy = Client(self.port, tls=True)
        named = {"X-Remote-User": "alice"}
        self.assertEqual(200, proxy.request("GET", "/api/v1/reports", headers=named)[0])
        self.assertEqual(401, proxy.request("GET", "/api/v1/reports",
                                            headers={"X-Remote-User": "ghost"})[0])
        report = "/api/v1/reports/finance/sales/report/runs"
        self.assertEqual(403, proxy.request("POST", report, {}, headers=named)[0])
        self.assertEqual(202, proxy.request("POST", report, {},
                                            headers=dict(named, **{"X-CSRF-Token": "1"}))[0])
        # Plain HTTP gets no answer from the HTTPS port.
        with self.assertRaises((http.client.HTTPException, ConnectionError)):
            Client(self.port).request("GET", "/healthz")


class ConsoleSetupTest(unittest.TestCase):
    def test_a_bad_configuration_names_the_file_line_and_key(self):
        folder = tempfile.mkdtemp(prefix="vantrelle_console_config_")
        self.addCleanup(shutil.rmtree, folder, True)
        config = os.path.join(folder, "server.ini")
        password = os.path.join(folder, "smtp.password")
        with open(password, "w") as f:
            f.write("secret\n")
        os.chmod(password, 0o640)
        for text, message in [
                ("[Server]\nMaxRuns=lots\n", "server.ini:2: [Server] MaxRuns=lots is not a whole "
                                             "number from 1 to 64."),
                ("[Server]\nListen=8080\n", "server.ini:2: [Server] Listen=8080 is not an address"),
                ("[Server]\nLsten=127.0.0.1:1\n", "server.ini:2: [Server] Lsten= is no key"),
                ("[Server]\nState=relative\n", "server.ini:2: [Server] State=relative must be"),
                ("[Catalogue x]\nFolder=/srv\nOwner=me\n", "server.ini:3: [Catalogue x] Owner="),
                ("[Other]\n", "server.ini:1: [Other] is no section"),
                ("[Mail]\nServer=mail.example.org\n", "server.ini:2: [Mail] Server=mail.example.org "
                                                      "must start with smtp:// or smtps://."),
                ("[Mail]\nServer=smtp://m:587\n", "server.ini:2: [Mail] Server= needs From="),
                ("[Mail]\nFrom=a@b\nUser=me\n", "server.ini:3: [Mail] User= needs PasswordFile="),
                ("[Mail]\nPasswordFile=%s\n" % password, "may be read by other users"),
                ("[Mail]\nFrom=me\n", "server.ini:2: [Mail] From=me is no mail address."),
                ("[Mail]\nRequireTls=maybe\n", "server.ini:2: [Mail] RequireTls= is yes or no.")]:
            with self.subTest(text):
                with open(config, "w") as f:
                    f.write(text)
                result = subprocess.run([SERVER, "--config", config], capture_output=True,
                                        text=True, timeout=30)
                self.assertEqual(2, result.returncode)
                self.assertIn(message, result.stderr)

    def test_the_state_is_the_service_users_alone(self):
        if os.geteuid() != 0:
            self.skipTest("the other account's read needs root to switch users")
        folder = tempfile.mkdtemp(prefix="vantrelle_console_state_")
        os.chmod(folder, 0o755)
        self.addCleanup(shutil.rmtree, folder, True)
        config = os.path.join(folder, "server.ini")
        with open(config, "w") as f:
            f.write("[Server]\nState=%s/state\n" % folder)
        result = subprocess.run([SERVER, "--config", config, "user", "add", "carol"],
                                input=PASSWORD, capture_output=True, text=True, timeout=60)
        self.assertEqual(0, result.returncode, result.stderr)
        state = os.path.join(folder, "state")
        self.assertEqual(0o750, stat.S_IMODE(os.stat(state).st_mode))
        self.assertEqual(0o640, stat.S_IMODE(os.stat(os.path.join(state, "console.db")).st_mode))
        read = subprocess.run(as_user(65534, "cat", os.path.join(state, "console.db")),
                              capture_output=True)
        self.assertNotEqual(0, read.returncode)


if __name__ == "__main__":
    unittest.main()
