#!/usr/bin/python3
"""The change record end to end: the real lumidex-bridge over two lumidex-sim
boards on loopback, with its HTTP door and its MQTT door (a mosquitto of the
test's own). Named people, a named token and the broker change lines; then
four clients post 500 changes while the bridge is killed and started again.
Every change the door acknowledged must be in the record once, under the
right name, the month files' chains must hold, and the record must read
back as CSV.

    test_record_e2e.py BRIDGE_EXE SIM_EXE MOSQUITTO_EXE MOSQUITTO_PUB_EXE [unittest arguments]
"""

import csv
import glob
import http.client
import io
import json
import os
import pwd
import shutil
import subprocess
import sys
import tempfile
import threading
import time
import unittest
from collections import Counter

from http_fixture import PROGRAMS, Bridge, Sim, board_settings, free_port, password_line, use, write_secret

MOSQUITTO = MOSQUITTO_PUB = None
# The two boards' controllers; see tests/support/addresses.h.
BOARDS = {"hall": "127.0.7.1", "dock": "127.0.7.2"}
PREFIX = "lumidex-e2e"
PASSWORDS = {"alice": "alice at the pumps", "bob": "bob in the yard"}
TOKEN = "s" * 8 + "0123456789abcdef"  # an operator's token named script
BURST, CLIENTS, KILL_AFTER = 500, 4, 200
RECORD_COLUMNS = ["seq", "at", "board", "field", "old", "new", "who", "via", "request", "applied_at", "result"]


def burst_value(n):
    """Line 1's n-th value in the burst, as the line (4 digits, 2 places)
    stores it: 10.00 .. 14.99, none of them used before it."""
    return f"{10 + n // 100}.{n % 100:02d}"


def swallow(pipe):
    """Reads a board's frames to the end: the burst's would fill the pipe,
    and a board blocked on printing them answers nothing."""
    try:
        while os.read(pipe, 65536):
            pass
    except OSError:
        pass  # closed as the board stops


class Broker:
    """mosquitto on 127.0.0.1, anonymous, nothing kept."""

    def __init__(self, folder):
        self.port = free_port()
        config = os.path.join(folder, "mosquitto.conf")
        with open(config, "w") as f:
            # Started as root, mosquitto would change to a user that cannot
            # read the test's folder.
            f.write(f"listener {self.port} 127.0.0.1\nuser {pwd.getpwuid(os.getuid()).pw_name}\n"
                    f"allow_anonymous true\npersistence false\nlog_dest file {folder}/mosquitto.log\n")
        self.process = subprocess.Popen([MOSQUITTO, "-c", config], stdout=subprocess.DEVNULL,
                                        stderr=subprocess.DEVNULL)

    def publish(self, topic, payload):
        subprocess.run([MOSQUITTO_PUB, "-h", "127.0.0.1", "-p", str(self.port), "-t", topic, "-m", payload],
                       check=True, timeout=10)

    def stop(self):
        self.process.terminate()
        self.process.wait(10)


def ask(port, method, path, body=None, headers=None):
    """(status, headers, body bytes) of one request on a connection of its own."""
    connection = http.client.HTTPConnection("127.0.0.1", port, timeout=20)
    try:
        sent = dict(headers or {})
        data = None
        if body is not None:
            data = json.dumps(body).encode()
            sent["Content-Type"] = "application/json"
        connection.request(method, path, body=data, headers=sent)
        response = connection.getresponse()
        return response.status, response.headers, response.read()
    finally:
        connection.close()


class RecordEndToEndTest(unittest.TestCase):
    maxDiff = None

    def test_every_acknowledged_change_is_recorded_once_across_a_kill(self):
        folder = tempfile.mkdtemp(prefix="lumidex-record-")
        self.addCleanup(shutil.rmtree, folder)
        for name, address in BOARDS.items():
            sim = Sim(address)
            self.addCleanup(sim.stop)
            threading.Thread(target=swallow, args=(sim.process.stdout.fileno(),), daemon=True).start()
            with open(os.path.join(folder, name + ".ini"), "w", newline="") as f:
                f.write(board_settings(address))
        broker = Broker(folder)
        self.addCleanup(broker.stop)
        write_secret(os.path.join(folder, "users"),
                     "".join(f"{who} operator {password_line(p)}" for who, p in PASSWORDS.items()))
        write_secret(os.path.join(folder, "tokens"), f"operator {TOKEN} script\n")

        def start():
            return Bridge(folder, "users-file=users\ntokens-file=tokens\n",
                          bridge_section=f"refresh=0\nbroker=127.0.0.1:{broker.port}\nprefix={PREFIX}\n")

        bridge = start()
        alive = [bridge]
        self.addCleanup(lambda: alive[0].process.poll() is None and alive[0].stop())
        callers = {"script": {"Authorization": "Bearer " + TOKEN}}
        for who, password in PASSWORDS.items():
            status, headers, raw = ask(bridge.port, "POST", "/api/login", {"name": who, "password": password})
            self.assertEqual(status, 200, raw)
            callers[who] = {"Cookie": headers["Set-Cookie"].split(";")[0]}

        # The named changes: one per caller over HTTP, one from the broker.
        named = {("hall", "lines.1", "21.11"): ("alice", "http"), ("dock", "lines.1", "22.22"): ("bob", "http"),
                 ("hall", "lines.2", "733"): ("script", "http"), ("dock", "lines.2", "321"): ("mqtt", "mqtt")}
        for (board, field, value), (who, via) in named.items():
            if via == "http":
                status, _, raw = ask(bridge.port, "POST", f"/api/boards/{board}",
                                     {"lines": {field[-1]: value}}, callers[who])
                self.assertEqual(status, 200, raw)
        # Published until the board holds it: the broker drops what comes
        # before the bridge subscribes, and the same value again is no change.
        topic = f"{PREFIX}/dock/line/2/set"
        end = time.monotonic() + 15
        while True:
            broker.publish(topic, "321")
            time.sleep(0.3)
            board = json.loads(ask(bridge.port, "GET", "/api/boards/dock", headers=callers["script"])[2])
            if board["lines"][1]["text"] == "321":
                break
            self.assertLess(time.monotonic(), end, "the change published to the broker never reached dock")

        # The burst: four clients, each its share of 500 values, alternating
        # the boards; the bridge is killed once 200 have been answered, and
        # a client that loses it waits for the new one.
        door = {"port": bridge.port}
        acknowledged, lock = [], threading.Lock()
        restarted = threading.Event()
        client_who = ["alice", "bob", "script", "script"]

        def post(k):
            for n in range(k, BURST, CLIENTS):
                board = ("hall", "dock")[n % 2]
                try:
                    status, _, _ = ask(door["port"], "POST", f"/api/boards/{board}",
                                       {"lines": {"1": burst_value(n)}}, callers[client_who[k]])
                except OSError:
                    restarted.wait(30)
                    continue
                if status == 200:
                    with lock:
                        acknowledged.append((board, "lines.1", burst_value(n), client_who[k]))

        clients = [threading.Thread(target=post, args=(k,)) for k in range(CLIENTS)]
        for c in clients:
            c.start()
        end = time.monotonic() + 30
        while len(acknowledged) < KILL_AFTER and time.monotonic() < end:
            time.sleep(0.005)
        bridge.kill()
        answered_before_kill = len(acknowledged)
        bridge = start()
        alive[0] = bridge
        door["port"] = bridge.port
        restarted.set()
        for c in clients:
            c.join(60)
        self.assertGreaterEqual(answered_before_kill, KILL_AFTER, "the burst was too slow to reach the kill")
        self.assertGreater(len(acknowledged), answered_before_kill, "nothing was answered after the restart")

        # The record as the month files hold it (the door reads the same).
        csv_status, csv_headers, csv_raw = ask(bridge.port, "GET", "/api/record?format=csv&limit=100000",
                                               headers=callers["script"])
        bridge.stop()
        files = sorted(glob.glob(os.path.join(folder, "boards-record", "record-*.jsonl")))
        self.assertTrue(files, "no month file in boards-record/")
        lines = []
        for path in files:
            check = subprocess.run([PROGRAMS["bridge"], "--check-record", path], capture_output=True, text=True)
            self.assertEqual(check.returncode, 0, f"{path}: {check.stdout}{check.stderr}")
            with open(path, encoding="utf-8") as f:
                lines += [json.loads(line) for line in f]
        changes = [line for line in lines if "field" in line]
        seen = Counter((c["board"], c["field"], c["new"], c["who"]) for c in changes)
        lost = [a for a in acknowledged if seen[a] != 1]
        self.assertEqual(lost, [], f"acknowledged changes not recorded exactly once (of {len(acknowledged)})")
        self.assertEqual([k for k, n in Counter((c["board"], c["field"], c["new"]) for c in changes).items()
                          if n > 1], [], "a value recorded twice")
        self.assertEqual([c for c in changes if c["via"] == "file"], [],
                         "the service's own changes, killed, came back as changes under it")
        outcomes = {line["applied"]: line["result"] for line in lines if "applied" in line}
        for (board, field, value), (who, via) in named.items():
            with self.subTest(f"{who} via {via}"):
                found = [c for c in changes if (c["board"], c["field"], c["new"]) == (board, field, value)]
                self.assertEqual([(c["who"], c["via"]) for c in found], [(who, via)])
                request = found[0]["request"]
                if via == "mqtt":
                    self.assertEqual(request, f"{topic} {value}")
                else:
                    self.assertTrue(request.startswith(f"POST /api/boards/{board} {{") and value in request, request)
                self.assertEqual(outcomes.get(found[0]["seq"]), "accepted")

        # The record read back over HTTP, as CSV: a header and one row per change.
        self.assertEqual(csv_status, 200, csv_raw[:300])
        self.assertTrue(csv_headers["Content-Type"].startswith("text/csv"), csv_headers["Content-Type"])
        rows = list(csv.reader(io.StringIO(csv_raw.decode("utf-8"), newline="")))
        self.assertEqual(rows[0], RECORD_COLUMNS)
        self.assertTrue(all(len(row) == len(RECORD_COLUMNS) for row in rows[1:]))
        self.assertEqual([(r[0], r[2], r[3], r[5], r[6], r[7]) for r in rows[1:]],
                         [(str(c["seq"]), c["board"], c["field"], c["new"], c["who"], c["via"]) for c in changes])


if __name__ == "__main__":
    _, bridge, sim, MOSQUITTO, MOSQUITTO_PUB, *rest = sys.argv
    use(bridge, sim)
    unittest.main(argv=[sys.argv[0], *rest], verbosity=2)
