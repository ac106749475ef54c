"""The web page's test bench: a real lumidex-bridge serving its HTTP door
over boards simulated by lumidex-sim on loopback, and headless Chromium
driven by Selenium as the people who use the page."""

import configparser
import json
import os
import queue
import re
import shutil
import socket
import subprocess
import tempfile
import threading
import time

CHROMIUM = "/usr/bin/chromium"
CHROMEDRIVER = "/usr/bin/chromedriver"
SKIP = 77  # what ctest counts as skipped

try:
    from selenium import webdriver
    from selenium.webdriver.chrome.service import Service as DriverService
    from selenium.webdriver.common.by import By
    from selenium.webdriver.common.keys import Keys
    from selenium.webdriver.support.ui import Select
except ImportError:
    webdriver = By = Keys = Select = None


def missing_tools():
    """What keeps the browser tests from running here, or None."""
    if webdriver is None:
        return "python3-selenium is not installed"
    for path in (CHROMIUM, CHROMEDRIVER):
        if not os.access(path, os.X_OK):
            return f"{path} is not installed (chromium, chromium-driver)"
    return None


# Each board listens on a loopback address of its own (tests/support/addresses.h).
HALL_ADDRESS = "127.0.0.91"
DOCK_ADDRESS = "127.0.0.92"
YARD_ADDRESS = "127.0.0.93"  # no simulator: a board that does not answer
ADDED_ADDRESS = "127.0.0.94"  # a board an admin adds in the page

OPERATOR_PASSWORD = "pump-operator"
ADMIN_PASSWORD = "back-office admin"


def stored_address(dotted):
    """The controller address as the dialog stores it: the 32-bit value as a
    signed decimal."""
    a, b, c, d = (int(part) for part in dotted.split("."))
    value = (a << 24) | (b << 16) | (c << 8) | d
    return str(value - (1 << 32) if value >= 1 << 31 else value)


def board_settings(address, lines):
    """A Config.ini as the dialog writes it: `lines` holds, per line used,
    (digit count, places, caption, text); the other lines are not sent."""
    sets = ["[Set]", f"LEDIP={stored_address(address)}"]
    digit_keys = ["wsv1", "wsv2", "wsv3", "wsv4", "wsv5", "wsv22"]
    place_keys = ["wsv6", "wsv7", "wsv8", "wsv9", "wsv10", "wsv23"]
    captions, texts, chosen = ["[TextBT]"], ["[TextData]"], ["[Text]"]
    for index in range(6):
        if index < len(lines):
            digits, places, caption, text = lines[index]
            sets += [f"{digit_keys[index]}={digits}", f"{place_keys[index]}={places}"]
            captions.append(f"TB{index + 1}={caption}")
            texts.append(f"TD{index + 1}={text}")
        else:
            chosen.append(f"Text{index + 1}=No")
    return "\r\n".join(sets + chosen + captions + texts) + "\r\n"


def free_port():
    """A TCP port on 127.0.0.1 that nothing listens on now."""
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def read_setting(path, section, key):
    """A key of a settings file, or None."""
    settings = configparser.ConfigParser(strict=False, interpolation=None)
    settings.read(path, encoding="utf-8-sig")
    return settings.get(section, key, fallback=None)


# How long a test waits at most for the page, a board or the service: the
# sanitizers' build beside other suites on a busy machine takes its time.
PATIENCE = 15.0


def wait_until(condition, timeout=PATIENCE, what="the condition"):
    """Polls until `condition()` is true and returns its value, or fails."""
    deadline = time.monotonic() + timeout
    while True:
        value = condition()
        if value:
            return value
        if time.monotonic() > deadline:
            raise AssertionError(f"{what} did not happen within {timeout} s")
        time.sleep(0.05)


class Board:
    """A lumidex-sim control card on one loopback address; its frames as
    they arrive (the simulator's JSON)."""

    def __init__(self, sim_exe, address):
        self.process = subprocess.Popen([sim_exe, "--json", "--udp", f"{address}:10006"],
                                        stdout=subprocess.PIPE, text=True)
        first = self.process.stdout.readline().strip()
        if first != f"udp: {address}:10006":
            raise RuntimeError(f"lumidex-sim did not start on {address}: {first!r}")
        self.frames = queue.Queue()
        threading.Thread(target=self._read, daemon=True).start()

    def _read(self):
        for line in self.process.stdout:
            self.frames.put(json.loads(line))

    def next_frame(self, timeout=PATIENCE):
        """The next frame the board took, or None within the time-out."""
        try:
            return self.frames.get(timeout=timeout)
        except queue.Empty:
            return None

    def stop(self):
        self.process.terminate()
        self.process.wait(timeout=5)
        self.process.stdout.close()


class Service:
    """Three boards behind a lumidex-bridge with its HTTP door on loopback:
    hall and dock (simulated) and yard (no controller answers), hall and
    yard in the group "prices". With `passwords` the door asks for the
    operator's or the admin's password, and `users` ((name, role,
    password), ...) are the people of its users file; `hall_keys` are more
    keys of hall's section of the boards file ("stale-after=2")."""

    HALL = [(4, "2", "Super 95", "18.99"), (4, "2", "Diesel", "16.59"), (3, "No", "LPG", "99")]
    DOCK = [(4, "2", "Rate", "1.25"), (5, "1", "Volume", "1234.5")]
    YARD = [(4, "2", "Super 95", "18.99")]

    def __init__(self, bridge_exe, sim_exe, passwords=False, hall_keys=(), users=()):
        self.dir = tempfile.mkdtemp(prefix="lumidex-web-")
        self.boards = {}
        self.bridge = None
        try:
            self._start(bridge_exe, sim_exe, passwords, hall_keys, users)
        except BaseException:
            self.close()
            raise

    def _start(self, bridge_exe, sim_exe, passwords, hall_keys, users):
        for name, address, lines in (("hall", HALL_ADDRESS, self.HALL), ("dock", DOCK_ADDRESS, self.DOCK),
                                     ("yard", YARD_ADDRESS, self.YARD)):
            self._write(f"{name}.ini", board_settings(address, lines))
        http = ["[http]", f"listen=127.0.0.1:{free_port()}"]
        hash_line = lambda password: subprocess.run([bridge_exe, "--hash-password"], input=password + "\n",
                                                    text=True, capture_output=True, check=True).stdout
        if passwords:
            for role, password in (("operator", OPERATOR_PASSWORD), ("admin", ADMIN_PASSWORD)):
                # secrets: the service's user's alone
                self._write(f"{role}.password", hash_line(password), mode=0o600)
                http.append(f"{role}-password-file={role}.password")
        if users:
            self._write("users", "".join(f"{name} {role} {hash_line(password)}" for name, role, password in users),
                        mode=0o600)
            http.append("users-file=users")
        self._write("boards.ini", "\r\n".join(
            ["[bridge]", "refresh=0", *http,
             "[hall]", "settings=hall.ini", "groups=prices", *hall_keys,
             "[dock]", "settings=dock.ini",
             "[yard]", "settings=yard.ini", "groups=prices", ""]))
        self.boards["hall"] = Board(sim_exe, HALL_ADDRESS)
        self.boards["dock"] = Board(sim_exe, DOCK_ADDRESS)
        self.log = open(os.path.join(self.dir, "bridge.log"), "w+")
        self.bridge = subprocess.Popen([bridge_exe, "--boards", os.path.join(self.dir, "boards.ini")],
                                       stdout=self.log, stderr=subprocess.STDOUT, text=True)
        self.url = wait_until(self._announced_url, 10, "the bridge's start-up line")

    def _announced_url(self):
        if self.bridge.poll() is not None:
            raise RuntimeError(f"lumidex-bridge ended: {self.bridge_log()}")
        found = re.search(r"the page and the API at (http://\S+/)", self.bridge_log())
        return found.group(1) if found else None

    def _write(self, name, text, mode=0o644):
        path = os.path.join(self.dir, name)
        with open(os.open(path, os.O_WRONLY | os.O_CREAT | os.O_TRUNC, mode), "w", encoding="utf-8",
                  newline="") as file:
            file.write(text)

    def bridge_log(self):
        self.log.seek(0)
        return self.log.read()

    def stored(self, board, section, key):
        return read_setting(os.path.join(self.dir, f"{board}.ini"), section, key)

    def frame(self, board, command, timeout=PATIENCE):
        """The next frame of `command` ("content", "brightness", "clock",
        "init") that `board` takes; frames of other commands before it are
        passed over."""
        deadline = time.monotonic() + timeout
        while (left := deadline - time.monotonic()) > 0:
            frame = self.boards[board].next_frame(left)
            if frame and frame.get("command") == command:
                return frame
        return None

    def close(self):
        if self.bridge:
            self.bridge.terminate()
            self.bridge.wait(timeout=10)
            self.log.close()
        for board in self.boards.values():
            board.stop()
        shutil.rmtree(self.dir, ignore_errors=True)


class Browser:
    """A headless Chromium of its own (a fresh profile)."""

    def __init__(self):
        self.profile = tempfile.mkdtemp(prefix="lumidex-chromium-")
        options = webdriver.ChromeOptions()
        options.binary_location = CHROMIUM
        for argument in ("--headless", "--no-sandbox", "--disable-gpu", "--disable-background-networking",
                         "--disable-component-update", "--disable-sync", "--no-first-run",
                         "--hide-scrollbars", f"--user-data-dir={self.profile}"):
            options.add_argument(argument)
        # The console, to see whatever the page's security policy refused.
        options.set_capability("goog:loggingPrefs", {"browser": "ALL"})
        self.driver = webdriver.Chrome(service=DriverService(CHROMEDRIVER), options=options)

    def load(self, url, width=1280, height=900):
        """Opens `url` afresh (no cookies) in a window `width` pixels wide;
        under 500 it is a phone (touch, the page's viewport)."""
        self.driver.execute_cdp_cmd("Network.clearBrowserCookies", {})
        self.driver.set_window_size(width, height)
        self.driver.execute_cdp_cmd("Emulation.setDeviceMetricsOverride", {
            "width": width, "height": height, "deviceScaleFactor": 1, "mobile": width < 500})
        self.driver.get(url)
        return self

    def find(self, name, timeout=PATIENCE):
        """The control whose accessible name is `name` (waits for it)."""
        return wait_until(lambda: self.find_now(name), timeout, f"a control named {name!r}")

    def find_now(self, name):
        # The candidates are gathered in one script (a page with its set-up
        # holds hundreds of labels) and brought into sight, as a finger
        # would: a card out of sight is not laid out and names nothing. The
        # browser's own accessible name decides.
        candidates = self.driver.execute_script("""
            const name = arguments[0];
            const labelled = [...document.querySelectorAll("label[for]")]
              .filter((l) => l.textContent.replace(/\\s+/g, " ").trim() === name)
              .map((l) => document.getElementById(l.htmlFor));
            const found = [...document.querySelectorAll("[aria-label]")].filter((e) => e.ariaLabel === name)
              .concat(labelled).filter(Boolean);
            for (const element of found) element.scrollIntoView({block: "nearest"});
            return found;""", name)
        return next((element for element in candidates if element.accessible_name == name), None)

    def by_id(self, element_id):
        return self.driver.find_element(By.ID, element_id)

    def focused(self):
        return self.driver.switch_to.active_element

    def run(self, script, *arguments):
        """Runs an async script (its last argument is the callback)."""
        return self.driver.execute_async_script(script, *arguments)

    def api(self, method, path, body=None):
        """A request of the page's own (its session), as a script on it would
        make: [status, body]."""
        return self.run("""
            const [method, path, body, done] = arguments;
            const init = {method, headers: {}};
            if (body !== null) { init.headers["Content-Type"] = "application/json"; init.body = JSON.stringify(body); }
            fetch(path, init).then(async r => done([r.status, await r.text()]), e => done([0, String(e)]));
        """, method, path, body)

    def horizontal_overflow(self):
        """How many pixels the page is wider than the window."""
        return self.driver.execute_script(
            "return document.documentElement.scrollWidth - document.documentElement.clientWidth")

    def policy_violations(self):
        """What the page's Content-Security-Policy refused since last asked."""
        return [entry["message"] for entry in self.driver.get_log("browser")
                if "Content Security Policy" in entry["message"]]

    def close(self):
        self.driver.quit()
        shutil.rmtree(self.profile, ignore_errors=True)
