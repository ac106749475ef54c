#!/usr/bin/python3
"""The web page's weight and first render in headless Chromium, served by a
real lumidex-bridge on loopback (no network, cache off, a fresh load each
time).

    bench/bench_page.py LUMIDEX_BRIDGE [--boards N ...] [--loads N]

Prints, per number of boards: the bytes the browser loaded (each file and
in all), and the median and slowest of: first contentful paint, and the
boards drawn (every card in the page, the seven-segment face loaded, the
next frame painted)."""

import argparse
import os
import re
import shutil
import statistics
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "bridge", "web"))
import web_fixture as fx  # noqa: E402

# Resolves with the time the boards were drawn: installed before the page's
# own scripts run.
DRAWN_PROBE = """
window.__drawn = new Promise((resolve) => {
  const drawn = () => {
    const cards = document.querySelectorAll("article.board");
    if (cards.length < %d) return false;
    document.fonts.ready.then(() => requestAnimationFrame(() => resolve(performance.now())));
    return true;
  };
  new MutationObserver((_, observer) => drawn() && observer.disconnect())
    .observe(document, { subtree: true, childList: true });
});
"""


def start_bridge(bridge_exe, boards, folder):
    sections = ["[bridge]", "refresh=0", "[http]", f"listen=127.0.0.1:{fx.free_port()}"]
    lines = [(4, "2", "Super 95", "18.99"), (4, "2", "Diesel", "16.59"), (3, "No", "LPG", "99"),
             (5, "1", "AdBlue", "1234.5"), (4, "2", "Rate", "1.25"), (8, "0", "Total", "12345678")]
    for n in range(1, boards + 1):
        # Addresses no controller answers on: only the page is measured.
        address = f"127.0.2.{n}" if n < 255 else f"127.0.3.{n - 254}"
        with open(os.path.join(folder, f"b{n}.ini"), "w", newline="") as file:
            file.write(fx.board_settings(address, lines))
        sections += [f"[board{n}]", f"settings=b{n}.ini", "groups=all"]
    with open(os.path.join(folder, "boards.ini"), "w", newline="") as file:
        file.write("\r\n".join(sections) + "\r\n")
    log = open(os.path.join(folder, "bridge.log"), "w+")
    bridge = subprocess.Popen([bridge_exe, "--boards", os.path.join(folder, "boards.ini")], stdout=log,
                              stderr=subprocess.STDOUT)

    def announced():
        log.seek(0)
        found = re.search(r"the page and the API at (http://\S+/)", log.read())
        return found.group(1) if found else None

    return bridge, log, fx.wait_until(announced, 10, "the bridge's start-up line")


def measure(url, boards, loads):
    browser = fx.Browser()
    driver = browser.driver
    driver.execute_cdp_cmd("Network.enable", {})
    driver.execute_cdp_cmd("Network.setCacheDisabled", {"cacheDisabled": True})
    driver.execute_cdp_cmd("Page.addScriptToEvaluateOnNewDocument", {"source": DRAWN_PROBE % boards})
    paints, drawn, files = [], [], {}
    try:
        for _ in range(loads):
            driver.get(url)
            drawn.append(driver.execute_async_script("window.__drawn.then(arguments[0])"))
            paints.append(driver.execute_script(
                "return performance.getEntriesByName('first-contentful-paint')[0].startTime"))
            files = dict(driver.execute_script("""
                const n = performance.getEntriesByType("navigation")[0];
                return [[new URL(n.name).pathname, n.encodedBodySize],
                        ...performance.getEntriesByType("resource")
                           .filter((r) => !r.name.includes("/api/"))
                           .map((r) => [new URL(r.name).pathname, r.encodedBodySize])];
            """))
    finally:
        browser.close()
    return files, paints, drawn


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("bridge")
    parser.add_argument("--boards", type=int, nargs="+", default=[3, 100])
    parser.add_argument("--loads", type=int, default=15)
    options = parser.parse_args()
    reason = fx.missing_tools()
    if reason:
        sys.exit(f"bench_page: {reason}")
    for boards in options.boards:
        folder = tempfile.mkdtemp(prefix="lumidex-bench-page-")
        bridge, log, url = start_bridge(options.bridge, boards, folder)
        try:
            files, paints, drawn = measure(url, boards, options.loads)
        finally:
            bridge.terminate()
            bridge.wait(timeout=10)
            log.close()
            shutil.rmtree(folder, ignore_errors=True)
        print(f"{boards} board(s), {options.loads} loads:")
        for path, size in sorted(files.items()):
            print(f"  {path:<14} {size / 1024:7.1f} KB")
        print(f"  {'in all':<14} {sum(files.values()) / 1024:7.1f} KB")
        print(f"  first contentful paint  median {statistics.median(paints):6.1f} ms, slowest {max(paints):6.1f} ms")
        print(f"  boards drawn            median {statistics.median(drawn):6.1f} ms, slowest {max(drawn):6.1f} ms")


if __name__ == "__main__":
    main()
