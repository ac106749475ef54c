#!/usr/bin/python3
"""The HTTP door attacked as a hostile client on the same network would
attack it, on loopback: every attack bounded in count and time. The door
must stop cleanly with streams open, keep serving real users while clients
hold every connection they may, throttle password guesses however they are
spread over roles, and refuse what could smuggle a request or weaken TLS.

    test_http_abuse.py BRIDGE_EXE SIM_EXE [unittest arguments]
"""

import base64
import http.client
import json
import os
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time
import unittest

from http_fixture import (PROGRAMS, Bridge, Sim, board_settings, free_port, password_line, start_login_flood,
                          use, write_secret)

# This suite's board and the addresses its clients come from; see
# tests/support/addresses.h.
BOARD = "127.0.4.1"
SILENT_BOARD = "127.0.4.2"  # no controller answers there
OPERATOR_PASSWORD = "pump-4711"
ADMIN_PASSWORD = "back office!"


def client(n):
    return f"127.0.4.{n}"


def basic(user, password):
    return {"Authorization": "Basic " + base64.b64encode(f"{user}:{password}".encode()).decode()}


def ask(port, method, path, body=None, headers=None, source=None, timeout=30):
    """(status, headers, parsed JSON or raw body) of one request on a new connection."""
    connection = http.client.HTTPConnection("127.0.0.1", port, timeout=timeout,
                                            source_address=(source, 0) if source else None)
    sent = dict(headers or {})
    data = None
    if body is not None:
        data = json.dumps(body).encode()
        sent["Content-Type"] = "application/json"
    try:
        connection.request(method, path, body=data, headers=sent)
        response = connection.getresponse()
        raw = response.read()
        parsed = json.loads(raw) if response.headers.get("Content-Type", "").startswith("application/json") else raw
        return response.status, response.headers, parsed
    finally:
        connection.close()


def raw_exchange(port, request, source=None, seconds=5):
    """Everything the door sends back for raw request bytes, until it closes."""
    with socket.create_connection(("127.0.0.1", port), timeout=seconds,
                                  source_address=(source, 0) if source else None) as s:
        s.sendall(request)
        received = b""
        end = time.monotonic() + seconds
        while time.monotonic() < end:
            try:
                chunk = s.recv(65536)
            except (ConnectionResetError, socket.timeout):
                break
            if not chunk:
                return received, True
            received += chunk
        return received, False


def open_stream(port, headers=None, source=None, timeout=10):
    connection = http.client.HTTPConnection("127.0.0.1", port, timeout=timeout,
                                            source_address=(source, 0) if source else None)
    connection.request("GET", "/api/events", headers=headers or {})
    return connection, connection.getresponse()


class DoorUnderAttack(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.dir = tempfile.mkdtemp(prefix="lumidex-abuse-")
        cls.addClassCleanup(shutil.rmtree, cls.dir)
        cls.sim = Sim(BOARD)
        cls.addClassCleanup(cls.sim.stop)
        for folder in ("open", "closed"):
            os.makedirs(os.path.join(cls.dir, folder))
            for name in ("hall", "dock"):
                with open(os.path.join(cls.dir, folder, name + ".ini"), "w", newline="") as f:
                    f.write(board_settings(BOARD if name == "hall" else SILENT_BOARD))
        closed = os.path.join(cls.dir, "closed")
        write_secret(os.path.join(closed, "operator.pass"), password_line(OPERATOR_PASSWORD))
        write_secret(os.path.join(closed, "admin.pass"), password_line(ADMIN_PASSWORD))
        cls.open = Bridge(os.path.join(cls.dir, "open"), "")
        cls.addClassCleanup(cls.open.stop)
        cls.closed = Bridge(closed, "operator-password-file=operator.pass\nadmin-password-file=admin.pass\n")
        cls.addClassCleanup(cls.closed.stop)

    def log_in(self, password, source):
        status, headers, _ = ask(self.closed.port, "POST", "/api/login", {"password": password}, source=source)
        self.assertEqual(status, 200)
        return {"Cookie": headers["Set-Cookie"].split(";")[0]}

    # Stopping.

    def test_a_stop_with_streams_and_requests_open_exits_cleanly(self):
        folder = os.path.join(self.dir, "stop")
        shutil.copytree(os.path.join(self.dir, "open"), folder)
        bridge = Bridge(folder, "")
        held = [open_stream(bridge.port) for _ in range(3)]
        half = socket.create_connection(("127.0.0.1", bridge.port))
        half.sendall(b"GET /api/boards HTTP/1.1\r\nHost: 127.0.0.1\r\n")
        # A change for a board that never answers: its answer waits.
        waiting = http.client.HTTPConnection("127.0.0.1", bridge.port, timeout=10)
        waiting.request("POST", "/api/boards/dock", body=json.dumps({"lines": {"1": "3"}}),
                        headers={"Content-Type": "application/json"})
        time.sleep(0.3)
        bridge.process.send_signal(signal.SIGTERM)
        self.assertEqual(bridge.process.wait(10), 0, bridge.process.stderr.read())
        errors = bridge.process.stderr.read()
        self.assertNotIn("Sanitizer", errors)
        bridge.process.stderr.close()
        for connection, response in held:
            self.assertTrue(response.read().startswith(b"retry: 2000\n\n"), "the stream ended with the door")
            connection.close()
        half.close()
        waiting.close()

    # Connections.

    def test_held_connections_leave_real_users_served(self):
        port = self.closed.port
        attackers = {}
        lock = threading.Lock()
        stop = threading.Event()

        def still_open(s):
            try:
                s.recv(4096, socket.MSG_DONTWAIT)  # the door's 503, or its close
            except BlockingIOError:
                return True
            except OSError:
                pass
            return False

        def hold(source, count):
            while not stop.is_set():
                with lock:
                    mine = attackers.setdefault(source, [])
                    for s in [s for s in mine if not still_open(s)]:
                        mine.remove(s)
                        s.close()
                    while len(mine) < count:
                        try:
                            mine.append(socket.create_connection(("127.0.0.1", port), timeout=2,
                                                                 source_address=(source, 0)))
                        except OSError:
                            break
                stop.wait(0.05)

        # One client holds every connection it may: the 17th is refused.
        one = [socket.create_connection(("127.0.0.1", port), source_address=(client(20), 0))
               for _ in range(16)]
        refused, _ = raw_exchange(port, b"", source=client(20))
        self.assertIn(b" 503 ", refused)
        cookie = self.log_in(OPERATOR_PASSWORD, client(30))
        for _ in range(10):
            self.assertEqual(ask(port, "GET", "/api/boards", headers=cookie, source=client(30))[0], 200)
            self.assertEqual(ask(port, "GET", "/", source=client(31))[0], 200)
        for s in one:
            s.close()

        # Five clients reopen every connection the door cuts, for three
        # seconds: a logged-in user and one who is not are still served.
        threads = [threading.Thread(target=hold, args=(client(40 + k), 16)) for k in range(5)]
        for t in threads:
            t.start()
        time.sleep(0.5)
        answers = []
        end = time.monotonic() + 3
        try:
            while time.monotonic() < end:
                answers.append(ask(port, "GET", "/api/boards", headers=cookie, source=client(30))[0])
                answers.append(ask(port, "GET", "/app.js", source=client(31))[0])
        finally:
            stop.set()
            for t in threads:
                t.join()
            for sockets in attackers.values():
                for s in sockets:
                    s.close()
        self.assertGreater(len(answers), 20)
        self.assertEqual(answers.count(200), len(answers), answers)

    def test_event_streams_are_limited_per_client_and_freed(self):
        port = self.open.port
        streams = []
        for k in range(4):
            for _ in range(8):
                streams.append(open_stream(port, source=client(60 + k)))
                self.assertEqual(streams[-1][1].status, 200)
        self.assertEqual(ask(port, "GET", "/api/events", source=client(64))[0], 503, "32 in all")
        for connection, response in streams[:8]:
            response.close()
            connection.close()
        deadline = time.monotonic() + 10
        status = None
        while status != 200 and time.monotonic() < deadline:
            connection, response = open_stream(port, source=client(64))
            status = response.status
            connection.close()
            if status != 200:
                time.sleep(0.1)
        self.assertEqual(status, 200, "closed streams were not freed")
        extra = [open_stream(port, source=client(61))]
        self.assertEqual(extra[0][1].status, 503, "a ninth stream of one client")
        for connection, response in streams[8:] + extra:
            connection.close()

    # Passwords.

    def test_guesses_spread_over_roles_are_throttled(self):
        port = self.closed.port
        source = client(50)
        for guess in range(5):
            self.assertEqual(ask(port, "GET", "/api/session", headers=basic("admin", f"guess {guess}"),
                                 source=source)[0], 401)
            # The operator's own right password clears nothing of the admin's count.
            self.assertEqual(ask(port, "GET", "/api/session", headers=basic("operator", OPERATOR_PASSWORD),
                                 source=source)[0], 200)
        status, headers, _ = ask(port, "GET", "/api/session", headers=basic("admin", ADMIN_PASSWORD),
                                 source=source)
        self.assertEqual(status, 429, "the admin's password is no longer checked from there")
        self.assertLessEqual(int(headers["Retry-After"]), 30)
        self.assertEqual(ask(port, "GET", "/api/session", headers=basic("operator", OPERATOR_PASSWORD),
                             source=source)[0], 200, "the operator's own logins go on")
        # The login form tries both roles: its wrong passwords count for both.
        source = client(51)
        for guess in range(5):
            self.assertEqual(ask(port, "POST", "/api/login", {"password": f"guess {guess}"}, source=source)[0], 401)
        self.assertEqual(ask(port, "POST", "/api/login", {"password": OPERATOR_PASSWORD}, source=source)[0], 429)

    def test_a_login_flood_leaves_page_files_fast(self):
        port = self.closed.port
        flood = start_login_flood(port, 3, "127.0.4.", 100)
        time.sleep(0.3)
        connection = http.client.HTTPConnection("127.0.0.1", port, timeout=10, source_address=(client(32), 0))
        times = []
        end = time.monotonic() + 2.5
        while time.monotonic() < end:
            start = time.perf_counter()
            connection.request("GET", "/app.js")
            response = connection.getresponse()
            response.read()
            times.append(time.perf_counter() - start)
            self.assertEqual(response.status, 200)
            time.sleep(0.01)
        connection.close()
        counts = json.loads(flood.communicate(timeout=20)[0])
        # What the flood left waiting is checked (or given up) before the
        # next test's logins: a check of one more wrong password comes last.
        self.assertIn(ask(port, "POST", "/api/login", {"password": "drained?"}, source=client(36),
                          timeout=60)[0], (401, 503))
        self.assertGreater(counts.get("401", 0), 0, f"no login of the flood was checked: {counts}")
        times.sort()
        p99 = times[int(len(times) * 0.99) - 1] * 1000
        if not os.environ.get("LUMIDEX_NO_TIMING"):
            self.assertLess(p99, 50, f"GET /app.js 99th percentile {p99:.1f} ms during a login flood {counts}")
        print(f"\n  GET /app.js during a login flood: {len(times)} requests, median "
              f"{times[len(times) // 2] * 1000:.2f} ms, 99th percentile {p99:.2f} ms; the flood's answers: {counts}",
              file=sys.stderr)

    def test_logins_of_one_role_never_end_anothers_session(self):
        port = self.closed.port
        admin = self.log_in(ADMIN_PASSWORD, client(33))
        connection = http.client.HTTPConnection("127.0.0.1", port, timeout=10, source_address=(client(34), 0))
        body = json.dumps({"password": OPERATOR_PASSWORD})
        for _ in range(1030):
            connection.request("POST", "/api/login", body=body, headers={"Content-Type": "application/json"})
            response = connection.getresponse()
            response.read()
            self.assertEqual(response.status, 200)
        connection.close()
        status, _, session = ask(port, "GET", "/api/session", headers=admin, source=client(33))
        self.assertEqual((status, session["role"]), (200, "admin"))

    def test_logout_ends_the_sessions_event_streams(self):
        port = self.closed.port
        cookie = self.log_in(OPERATOR_PASSWORD, client(35))
        other = self.log_in(OPERATOR_PASSWORD, client(35))
        connection, response = open_stream(port, cookie, source=client(35), timeout=5)
        # Quiet for longer than a request may take (10 s) and shorter than
        # the keep-alive comment (15 s): the other stream must stay open.
        kept, kept_response = open_stream(port, other, source=client(35), timeout=12)
        self.assertEqual((response.status, kept_response.status), (200, 200))
        for stream in (response, kept_response):
            self.assertEqual(stream.readline(), b"retry: 2000\n")
        self.assertEqual(ask(port, "POST", "/api/logout", {}, headers=cookie, source=client(35))[0], 204)
        self.assertEqual(response.read(), b"\n", "the stream ended with its session")
        # Events of the boards may come meanwhile; what must not come is the
        # stream's end.
        ended = False
        quiet_until = time.monotonic() + 11
        try:
            while not ended and time.monotonic() < quiet_until:
                ended = kept_response.readline() == b""
        except socket.timeout:
            pass
        self.assertFalse(ended, "another session's stream goes on, quiet or not")
        connection.close()
        kept.close()

    # Requests a proxy might read differently.

    def test_transfer_encodings_other_than_chunked_are_refused(self):
        port = self.open.port
        smuggled = b"GET /api/boards HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n"
        head = b"POST /api/boards/hall HTTP/1.1\r\nHost: 127.0.0.1:%d\r\nContent-Type: application/json\r\n" % port
        cases = [
            ("identity", b"Transfer-Encoding: identity\r\n"),
            ("gzip", b"Transfer-Encoding: gzip\r\n"),
            ("chunked, identity", b"Transfer-Encoding: chunked, identity\r\n"),
            ("gzip, chunked", b"Transfer-Encoding: gzip, chunked\r\n"),
            ("twice", b"Transfer-Encoding: chunked\r\nTransfer-Encoding: chunked\r\n"),
            ("with a length", b"Content-Length: 48\r\nTransfer-Encoding: chunked\r\n"),
        ]
        for name, headers in cases:
            with self.subTest(name):
                received, closed = raw_exchange(port, head + headers + b"\r\n" + smuggled)
                self.assertTrue(received.startswith(b"HTTP/1.1 400 "), received[:80])
                self.assertEqual(received.count(b"HTTP/1.1 "), 1, "the body was read as a request")
                self.assertTrue(closed)
        body = b'{"lines": {"1": "1.5"}}'
        chunked = head + b"Transfer-Encoding: Chunked\r\nConnection: close\r\n\r\n" + \
            b"%x\r\n%s\r\n0\r\n\r\n" % (len(body), body)
        received, _ = raw_exchange(port, chunked)
        self.assertTrue(received.startswith(b"HTTP/1.1 200 "), received[:200])

    # TLS.

    def test_tls_offers_only_forward_secret_authenticated_suites(self):
        folder = os.path.join(self.dir, "tls")
        shutil.copytree(os.path.join(self.dir, "open"), folder)
        subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2",
                        "-subj", "/CN=127.0.0.1", "-keyout", os.path.join(folder, "key.pem"),
                        "-out", os.path.join(folder, "cert.pem")], check=True, capture_output=True)
        os.chmod(os.path.join(folder, "key.pem"), 0o600)
        subprocess.run(["openssl", "pkey", "-in", os.path.join(folder, "key.pem"), "-aes256", "-passout",
                        "pass:secret", "-out", os.path.join(folder, "encrypted.pem")], check=True)
        os.chmod(os.path.join(folder, "encrypted.pem"), 0o600)
        with open(os.path.join(folder, "refused.ini"), "w") as f:
            f.write(f"[http]\nlisten=127.0.0.1:{free_port()}\ntls-cert=cert.pem\ntls-key=encrypted.pem\n"
                    "[hall]\nsettings=hall.ini\n")
        run = subprocess.run([PROGRAMS["bridge"], "--boards",
                              os.path.join(folder, "refused.ini")], stdin=subprocess.DEVNULL,
                             capture_output=True, text=True, timeout=10)
        self.assertEqual(run.returncode, 2, run.stderr)
        self.assertIn("pass phrase", run.stderr)
        self.assertEqual(run.stderr.count("\n"), 1, run.stderr)

        bridge = Bridge(folder, "tls-cert=cert.pem\ntls-key=key.pem\n")
        try:
            def handshake(*options):
                return subprocess.run(["openssl", "s_client", "-connect", f"127.0.0.1:{bridge.port}",
                                       *options], stdin=subprocess.DEVNULL, capture_output=True,
                                      text=True, timeout=10).returncode == 0
            for cipher in ("ECDHE-RSA-AES128-GCM-SHA256", "ECDHE-RSA-AES256-GCM-SHA384",
                           "ECDHE-RSA-CHACHA20-POLY1305"):
                with self.subTest(cipher):
                    self.assertTrue(handshake("-tls1_2", "-cipher", cipher))
            for cipher in ("AES128-SHA", "AES256-SHA", "AES128-GCM-SHA256", "AES256-SHA256",
                           "ECDHE-RSA-AES128-SHA", "ECDHE-RSA-AES256-SHA", "ECDHE-RSA-AES128-SHA256",
                           "DHE-RSA-AES128-GCM-SHA256", "ECDHE-RSA-DES-CBC3-SHA"):
                with self.subTest(cipher):
                    self.assertFalse(handshake("-tls1_2", "-cipher", cipher))
            self.assertTrue(handshake("-tls1_3"))
            for old in ("-tls1", "-tls1_1"):
                with self.subTest(old):
                    self.assertFalse(handshake(old))
        finally:
            bridge.stop()


if __name__ == "__main__":
    use(sys.argv[1], sys.argv[2])
    unittest.main(argv=[sys.argv[0], *sys.argv[3:]], verbosity=2)
