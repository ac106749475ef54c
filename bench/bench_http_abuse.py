#!/usr/bin/python3
"""What an attack on the HTTP door costs a real user: the latency of a
logged-in user's POSTs to 100 boards (each a lumidex-sim on loopback), once
alone and once while one client holds every connection it may (reopening
each one the door cuts) and another floods wrong logins from many
addresses. Target: the 99th percentile under attack within 2 x the one
without.

    bench/bench_http_abuse.py LUMIDEX_BRIDGE LUMIDEX_SIM [--boards N] [--posts N]
"""

import argparse
import http.client
import json
import os
import shutil
import socket
import statistics
import subprocess
import sys
import tempfile
import threading
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "bridge", "http"))
import http_fixture as fx  # noqa: E402

HOLDER = "127.0.5.1"
FLOOD_FIRST = 10  # the flood's addresses: 127.0.5.10 .. 127.0.5.105
USER = "127.0.5.200"
PASSWORD = "pump-4711"

def hold_connections(port, stop, held_counts):
    """One client keeps 16 connections open, opening a new one for each the
    door cuts."""
    sockets = []
    while not stop.is_set():
        alive = []
        for s in sockets:
            try:
                s.recv(4096, socket.MSG_DONTWAIT)
                s.close()  # the door's answer, or its close
            except BlockingIOError:
                alive.append(s)
            except OSError:
                s.close()
        sockets = alive
        while len(sockets) < 16:
            try:
                sockets.append(socket.create_connection(("127.0.0.1", port), timeout=2,
                                                        source_address=(HOLDER, 0)))
            except OSError:
                break
        held_counts.append(len(sockets))
        stop.wait(0.05)
    for s in sockets:
        s.close()


def posts(port, cookie, boards, count):
    """The latencies (ms) of `count` POSTs, one board after another, from one
    kept-alive connection."""
    connection = http.client.HTTPConnection("127.0.0.1", port, timeout=30, source_address=(USER, 0))
    latencies = []
    for k in range(count):
        body = json.dumps({"lines": {"1": f"{k % 100}.{k % 10}"}})
        start = time.perf_counter()
        connection.request("POST", f"/api/boards/b{k % boards}", body=body,
                           headers={"Content-Type": "application/json", "Cookie": cookie})
        response = connection.getresponse()
        response.read()
        latencies.append((time.perf_counter() - start) * 1000)
        if response.status != 200:
            raise RuntimeError(f"POST answered {response.status}")
    connection.close()
    return latencies


def summary(latencies):
    ordered = sorted(latencies)
    return statistics.median(ordered), ordered[int(len(ordered) * 0.99) - 1]


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("bridge")
    parser.add_argument("sim")
    parser.add_argument("--boards", type=int, default=100)
    parser.add_argument("--posts", type=int, default=2000)
    args = parser.parse_args()
    fx.use(args.bridge, args.sim)
    folder = tempfile.mkdtemp(prefix="lumidex-bench-abuse-")
    sims = []
    bridge = None
    try:
        for n in range(args.boards):
            address = f"127.0.1.{n + 1}"
            sims.append(subprocess.Popen([args.sim, "--udp", address], stdout=subprocess.DEVNULL,
                                         stderr=subprocess.DEVNULL))
            with open(os.path.join(folder, f"b{n}.ini"), "w", newline="") as f:
                f.write(fx.board_settings(address))
        for role in ("operator", "admin"):
            fx.write_secret(os.path.join(folder, f"{role}.pass"), fx.password_line(f"{PASSWORD}-{role}"))
        port = fx.free_port()
        with open(os.path.join(folder, "boards.ini"), "w") as f:
            f.write(f"[bridge]\nrefresh=0\n[http]\nlisten=127.0.0.1:{port}\n"
                    "operator-password-file=operator.pass\nadmin-password-file=admin.pass\n" +
                    "".join(f"[b{n}]\nsettings=b{n}.ini\n" for n in range(args.boards)))
        bridge = subprocess.Popen([args.bridge, "--boards", os.path.join(folder, "boards.ini")],
                                  stderr=subprocess.PIPE, text=True)
        fx.wait_for_port(port, bridge)
        login = http.client.HTTPConnection("127.0.0.1", port, timeout=10, source_address=(USER, 0))
        login.request("POST", "/api/login", body=json.dumps({"password": f"{PASSWORD}-operator"}),
                      headers={"Content-Type": "application/json"})
        response = login.getresponse()
        response.read()
        cookie = response.headers["Set-Cookie"].split(";")[0]
        login.close()

        posts(port, cookie, args.boards, args.boards)  # every board once, to warm up
        quiet = posts(port, cookie, args.boards, args.posts)

        stop = threading.Event()
        held = []
        holder = threading.Thread(target=hold_connections, args=(port, stop, held))
        holder.start()
        flood = fx.start_login_flood(port, 600, "127.0.5.", FLOOD_FIRST)
        time.sleep(1)
        try:
            attacked = posts(port, cookie, args.boards, args.posts)
        finally:
            flood.kill()
            flood.wait()
            stop.set()
            holder.join()
        quiet_median, quiet_p99 = summary(quiet)
        attacked_median, attacked_p99 = summary(attacked)
        print(f"{args.boards} boards, {args.posts} POSTs each run, one kept-alive connection of a logged-in user")
        print(f"alone:        median {quiet_median:.2f} ms, 99th percentile {quiet_p99:.2f} ms")
        print(f"under attack: median {attacked_median:.2f} ms, 99th percentile {attacked_p99:.2f} ms "
              f"({attacked_p99 / quiet_p99:.2f} x; target at most 2 x); the holder kept "
              f"{statistics.median(held):.0f} connections open (median)")
    finally:
        if bridge:
            bridge.terminate()
            bridge.wait()
        for sim in sims:
            sim.terminate()
            sim.wait()
        shutil.rmtree(folder, ignore_errors=True)


if __name__ == "__main__":
    main()
