"""What the HTTP door's suites share: lumidex-sim boards and a lumidex-bridge
over a boards file of their own, on loopback.

Call use(BRIDGE_EXE, SIM_EXE) before anything else.
"""

import json
import os
import select
import socket
import subprocess
import sys
import time

PROGRAMS = {"bridge": None, "sim": None}


def use(bridge, sim):
    PROGRAMS["bridge"], PROGRAMS["sim"] = bridge, sim


def password_line(password):
    """A password file's line, as --hash-password prints it."""
    return subprocess.run([PROGRAMS["bridge"], "--hash-password"], input=password + "\n", text=True,
                          capture_output=True, check=True).stdout


def write_secret(path, text):
    """A file only this user may read, as the bridge takes secrets."""
    with open(os.open(path, os.O_WRONLY | os.O_CREAT | os.O_TRUNC, 0o600), "w") as f:
        f.write(text)


def board_settings(address):
    """A Config.ini: line 1 with 4 digits and 2 places, line 2 with 3 digits
    and a free point, lines 3..6 not sent."""
    a, b, c, d = (int(x) for x in address.split("."))
    stored = (a << 24) | (b << 16) | (c << 8) | d
    if stored >= 1 << 31:
        stored -= 1 << 32
    return (f"[Set]\r\nwsv1=4\r\nwsv6=2\r\nwsv2=3\r\nwsv7=No\r\nLEDIP={stored}\r\n"
            "[Text]\r\nText3=No\r\nText4=No\r\nText5=No\r\nText6=No\r\n[TextBT]\r\nTB1=Super\r\n")


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def wait_for_port(port, process, seconds=20):
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        if process.poll() is not None:
            raise AssertionError(f"the bridge ended: {process.stderr.read()}")
        try:
            socket.create_connection(("127.0.0.1", port), timeout=0.2).close()
            return
        except OSError:
            time.sleep(0.05)
    raise AssertionError(f"nothing listens on port {port}")


class Sim:
    """lumidex-sim on one loopback address, printing one JSON object per frame."""

    def __init__(self, address):
        self.process = subprocess.Popen([PROGRAMS["sim"], "--udp", address, "--json"], stdout=subprocess.PIPE,
                                        stderr=subprocess.DEVNULL, text=True)
        self.pending = b""
        first = b""
        while not first.endswith(b"\n"):
            byte = os.read(self.process.stdout.fileno(), 1)
            assert byte, first
            first += byte
        assert first.startswith(b"udp:"), first

    def next_frame(self, seconds=5):
        """The next frame the board took, or None."""
        # Lines are read from the pipe by hand: a buffered reader would take
        # several at once and leave select() waiting for what it holds.
        end = time.monotonic() + seconds
        while True:
            while b"\n" in self.pending:
                line, self.pending = self.pending.split(b"\n", 1)
                if line.startswith(b"{"):
                    return json.loads(line)
            left = end - time.monotonic()
            if left <= 0:
                return None
            ready, _, _ = select.select([self.process.stdout], [], [], left)
            if not ready:
                return None
            chunk = os.read(self.process.stdout.fileno(), 65536)
            if not chunk:
                return None
            self.pending += chunk

    def drain(self):
        while self.next_frame(0.05):
            pass

    def stop(self):
        self.process.terminate()
        self.process.wait()
        self.process.stdout.close()


class Bridge:
    """lumidex-bridge over the boards file in `folder`, HTTP alone."""

    def __init__(self, folder, http_section, extra=(), bridge_section="", hall_section=""):
        self.port = free_port()
        boards = (f"[bridge]\n{bridge_section}[http]\nlisten=127.0.0.1:{self.port}\n{http_section}"
                  f"[hall]\nsettings=hall.ini\ngroups=prices\n{hall_section}"
                  "[dock]\nsettings=dock.ini\ngroups=prices\nrefresh=0\n")
        self.boards = os.path.join(folder, "boards.ini")
        with open(self.boards, "w") as f:
            f.write(boards)
        self.process = subprocess.Popen([PROGRAMS["bridge"], "--boards", self.boards, *extra],
                                        stderr=subprocess.PIPE, text=True)
        wait_for_port(self.port, self.process)

    def stop(self):
        self.process.terminate()
        assert self.process.wait(10) == 0
        self.process.stderr.close()

    def kill(self):
        """Ends the bridge as a power cut would: SIGKILL, nothing tidied up."""
        self.process.kill()
        self.process.wait(10)
        self.process.stderr.close()


# Wrong logins from 96 client addresses (PREFIX + FIRST .. FIRST + 95),
# THREADS at a time, for SECONDS; prints how often each answer came back.
_FLOOD = r"""
import http.client, json, sys, threading, time
port, seconds, prefix, first, threads = (int(sys.argv[1]), float(sys.argv[2]), sys.argv[3],
                                         int(sys.argv[4]), int(sys.argv[5]))
counts, lock, end = {}, threading.Lock(), time.monotonic() + seconds
def flood(k):
    n = 0
    while time.monotonic() < end:
        source = f"{prefix}{first + (k * 7 + n) % 96}"
        n += 1
        c = http.client.HTTPConnection("127.0.0.1", port, timeout=10, source_address=(source, 0))
        try:
            c.request("POST", "/api/login", body='{"password": "wrong"}',
                      headers={"Content-Type": "application/json"})
            status = str(c.getresponse().status)
        except OSError as e:
            status = type(e).__name__
        finally:
            c.close()
        with lock:
            counts[status] = counts.get(status, 0) + 1
workers = [threading.Thread(target=flood, args=(k,)) for k in range(threads)]
for w in workers: w.start()
for w in workers: w.join()
print(json.dumps(counts))
"""


def start_login_flood(port, seconds, address_prefix, first, threads=24):
    """A process of its own that floods the door with wrong logins; its
    standard output ends with the count of each answer (JSON)."""
    return subprocess.Popen([sys.executable, "-c", _FLOOD, str(port), str(seconds), address_prefix,
                             str(first), str(threads)], stdout=subprocess.PIPE, text=True)
