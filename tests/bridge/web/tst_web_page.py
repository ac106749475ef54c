#!/usr/bin/python3
"""The web page end to end: headless Chromium against the real
lumidex-bridge and lumidex-sim boards on loopback.

    tst_web_page.py LUMIDEX_BRIDGE LUMIDEX_SIM LINE_RULES_ORACLE [unittest options]

Exits 77 (skipped) when Chromium, its driver or Selenium is missing."""

import json
import os
import random
import subprocess
import sys
import time
import unittest

import web_fixture as fx

BRIDGE, SIM, ORACLE = (sys.argv[1:4] + [None] * 3)[:3]
HALL_LINE_1 = ("hall", "TextData", "TD1")


def select_all(element):
    element.click()
    element.send_keys(fx.Keys.CONTROL, "a")


def paste(page, element, text):
    """Pastes `text` into `element` with Ctrl+V, as copied from another program."""
    origin = page.driver.execute_script("return location.origin")
    page.driver.execute_cdp_cmd("Browser.grantPermissions", {
        "origin": origin, "permissions": ["clipboardReadWrite", "clipboardSanitizedWrite"]})
    copied = page.run("navigator.clipboard.writeText(arguments[0]).then(() => arguments[1](true), "
                      "(e) => arguments[1](String(e)))", text)
    assert copied is True, copied
    element.send_keys(fx.Keys.CONTROL, "v")


def said_beside(test, page, editor):
    """The words beside a line editor: its note, which the editor names as
    its description and which stands right under it."""
    note = page.by_id(editor.get_attribute("id") + "-note")
    test.assertIn(note.get_attribute("id"), editor.get_attribute("aria-describedby").split())
    gap = note.rect["y"] - (editor.rect["y"] + editor.rect["height"])
    test.assertTrue(0 <= gap < 24, f"the note stands {gap} px under its line")
    return note.text


# Every control a finger reaches, with the box it answers in (a check box's
# is its label): [name, width, height].
TARGETS = """
return [...document.querySelectorAll("input, button, select")].filter((c) => c.checkVisibility())
  .map((c) => {
    const box = ((c.type === "checkbox" && c.closest("label")) || c).getBoundingClientRect();
    return [c.id || c.getAttribute("aria-label") || c.textContent, box.width, box.height];
  });
"""


class PageTest(unittest.TestCase):
    """Each test has a service of its own (its boards fresh from their
    files). The tests of a class take turns in one browser, which takes
    seconds to start; a second one is a browser of its own."""

    passwords = False
    hall_keys = ()
    users = ()

    @classmethod
    def setUpClass(cls):
        cls.browser = fx.Browser()

    @classmethod
    def tearDownClass(cls):
        cls.browser.close()

    def setUp(self):
        self.service = fx.Service(BRIDGE, SIM, passwords=self.passwords, hall_keys=self.hall_keys,
                                  users=self.users)
        self.addCleanup(self.service.close)
        self.browser.policy_violations()  # what an earlier test left
        # The page does whatever a test makes it do within its own policy.
        self.addCleanup(lambda: self.assertEqual(self.browser.policy_violations(), []))

    def open(self, width=1280):
        return self.browser.load(self.service.url, width)

    def open_another(self, width=1280):
        browser = fx.Browser()
        self.addCleanup(browser.close)
        return browser.load(self.service.url, width)

    def save_shot(self, page, name, width=None):
        """A screenshot of the page where the focus is, into the folder
        LUMIDEX_PAGE_SHOTS names (none without it); at `width`, then back."""
        folder = os.environ.get("LUMIDEX_PAGE_SHOTS")
        if not folder:
            return
        os.makedirs(folder, exist_ok=True)
        metrics = lambda w, h: page.driver.execute_cdp_cmd("Emulation.setDeviceMetricsOverride", {
            "width": w, "height": h, "deviceScaleFactor": 1, "mobile": w < 500})
        if width:
            metrics(width, 900)
        page.driver.execute_script("document.activeElement.scrollIntoView({block: 'center'})")
        page.driver.save_screenshot(os.path.join(folder, f"{name}.png"))
        if width:
            metrics(360, 900)


class WithoutPasswords(PageTest):
    """On loopback without passwords the page opens as the operator."""

    def test_typed_line_is_sent_stored_and_seen_by_a_second_browser(self):
        page, watcher = self.open(), self.open_another()
        line = page.find("hall line 1")
        watched = watcher.find("hall line 1")
        self.assertEqual(line.get_attribute("value"), "18.99")
        # The line's editor rules: without a point this line takes two
        # digits, with one five characters in all.
        select_all(line)
        line.send_keys("999")
        self.assertEqual(line.get_attribute("value"), "99")
        line.send_keys(".456")
        self.assertEqual(line.get_attribute("value"), "99.45")
        select_all(line)
        line.send_keys("1.899", fx.Keys.ENTER)
        # Enter goes on to the next line with its text selected, and the line
        # left shows its text as the board will show it.
        moved_to = page.focused()
        self.assertEqual(moved_to.accessible_name, "hall line 2")
        self.assertEqual(page.driver.execute_script(
            "return [arguments[0].selectionStart, arguments[0].selectionEnd]", moved_to), [0, 5])
        self.assertEqual(line.get_attribute("value"), "1.90")
        page.find("Send hall").click()
        fx.wait_until(lambda: page.by_id("b-hall-result").text == "Sent successfully!", fx.PATIENCE, "the result")
        frame = self.service.frame("hall", "content")
        self.assertIsNotNone(frame, "hall took no frame")
        self.assertEqual(frame["lines"][0]["text"].strip(), "1.90")
        self.assertEqual(self.service.stored(*HALL_LINE_1), "1.90")
        fx.wait_until(lambda: watched.get_attribute("value") == "1.90", fx.PATIENCE, "the second browser's update")

    def test_refused_value_stores_nothing_and_phone_layout_holds(self):
        phone = self.open(360)
        line = phone.find("hall line 1")
        before = self.service.stored(*HALL_LINE_1)
        # With a point, a digit in front is a keystroke the editor takes, but
        # the line has only two whole-number places.
        select_all(line)
        line.send_keys("12.4", fx.Keys.HOME, "1", fx.Keys.TAB)
        self.assertEqual(line.get_attribute("value"), "112.4")
        self.assertEqual(line.get_attribute("aria-invalid"), "true")
        dock = phone.driver.find_element(fx.By.CSS_SELECTOR, '[aria-labelledby="b-dock-name"]')
        dock_top = dock.location["y"]
        phone.find("Send hall").click()
        result = phone.by_id("b-hall-result")
        fx.wait_until(lambda: "Refused, nothing stored" in result.text, fx.PATIENCE, "the refusal")
        self.assertIn("does not take '112.4'", result.text)
        self.assertEqual(self.service.stored(*HALL_LINE_1), before)
        self.assertIsNone(self.service.frame("hall", "content", timeout=1.0))
        self.assertEqual(dock.location["y"], dock_top, "the result moved the card below it")
        self.assertEqual(phone.horizontal_overflow(), 0)

    def test_group_send_reports_each_board(self):
        page = self.open()
        line = page.find("prices line 1")
        line.send_keys("2.5")
        page.find("Send prices").click()
        result = page.driver.find_element(fx.By.CSS_SELECTOR, '[aria-labelledby="g-prices-name"] .result')
        fx.wait_until(lambda: "yard:" in result.text, 10, "the group's result")
        self.assertEqual(result.text, "hall: Sent successfully! · yard: The board did not answer; the lines are "
                                      "stored and will be sent when it answers.")
        self.assertEqual(result.get_attribute("data-kind"), "pending")
        frame = self.service.frame("hall", "content")
        self.assertEqual(frame["lines"][0]["text"].strip(), "2.50")
        self.assertEqual(self.service.stored("yard", "TextData", "TD1"), "2.50")

    def test_refused_keys_and_pastes_are_said_beside_the_line_and_not_sent(self):
        phone = self.open(360)
        price, lpg = phone.find("hall line 1"), phone.find("hall line 3")
        # Typed: each key the line refuses is said; the editor keeps what it had.
        select_all(price)
        price.send_keys("12345.678")
        self.assertEqual(price.get_attribute("value"), "12.67")
        self.assertEqual(said_beside(self, phone, price),
                         "'3', '4' and '5' do not fit: this line shows 2 digits before the point. "
                         "'8' does not fit: this line shows 4 digits.")
        select_all(lpg)
        lpg.send_keys("-7e3 99")
        self.assertEqual(lpg.get_attribute("value"), "739")
        self.assertEqual(said_beside(self, phone, lpg),
                         "'-', 'e' and the space are not taken: a line holds digits and one point. "
                         "'9' does not fit: this line shows 3 digits.")
        # Pasted: all of it or nothing.
        select_all(price)
        paste(phone, price, "12345.678")
        self.assertEqual(price.get_attribute("value"), "12.67")
        self.assertEqual(said_beside(self, phone, price),
                         "12345.678 does not fit: this line shows 4 digits, 2 after the point.")
        # What the lines took is no value typed as a whole: Send says so first.
        phone.find("Send hall").click()
        result = phone.by_id("b-hall-result")
        fx.wait_until(lambda: result.text.startswith("Not sent"), fx.PATIENCE, "the refusal")
        self.assertEqual(result.text, "Not sent: lines 1 and 3 did not take everything typed (said beside them). "
                                      "Check, then press Send again.")
        self.assertIsNone(self.service.frame("hall", "content", timeout=1.0))
        self.assertEqual(self.service.stored(*HALL_LINE_1), "18.99")
        # Pressed again, it sends what the lines show.
        phone.find("Send hall").click()
        fx.wait_until(lambda: result.text == "Sent successfully!", fx.PATIENCE, "the result")
        frame = self.service.frame("hall", "content")
        self.assertEqual([line["text"].strip() for line in frame["lines"][:3]], ["12.67", "16.59", "739"])

    def test_group_line_says_what_it_refused_and_sends_none_of_it(self):
        phone = self.open(360)
        line = phone.find("prices line 1")
        line.send_keys("abc123.456")
        self.assertEqual(line.get_attribute("value"), "12.45")
        self.assertEqual(said_beside(self, phone, line),
                         "'a', 'b' and 'c' are not taken: a line holds digits and one point. "
                         "'3' does not fit: this line shows 2 digits before the point. "
                         "'6' does not fit: this line shows 4 digits.")
        phone.find("Send prices").click()
        result = phone.driver.find_element(fx.By.CSS_SELECTOR, '[aria-labelledby="g-prices-name"] .result')
        fx.wait_until(lambda: result.text.startswith("Not sent"), fx.PATIENCE, "the refusal")
        select_all(line)
        paste(phone, line, "abc123.456")
        self.assertEqual(line.get_attribute("value"), "12.45")
        self.assertEqual(said_beside(self, phone, line),
                         "'abc123.456' is not taken: a line holds digits and one point.")
        phone.find("Send prices").click()
        fx.wait_until(lambda: result.text.startswith("Not sent: line 1 did not take"), fx.PATIENCE, "the refusal")
        self.assertIsNone(self.service.frame("hall", "content", timeout=1.0))
        self.assertEqual(self.service.stored("yard", "TextData", "TD1"), "18.99")

    def test_a_board_that_does_not_answer_is_said_in_plain_words(self):
        phone = self.open(360)
        line = phone.find("yard line 1")
        select_all(line)
        line.send_keys("17.49")
        minutes = {time.strftime("%H:%M")}
        phone.find("Send yard").click()
        result = phone.by_id("b-yard-result")
        fx.wait_until(lambda: result.text not in ("", "Sending…"), 10, "the result")
        self.assertEqual(result.text, "The board did not answer; the lines are stored and will be sent when it "
                                      "answers.")
        self.assertEqual(self.service.stored("yard", "TextData", "TD1"), "17.49")
        last = phone.driver.find_element(fx.By.CSS_SELECTOR, '[aria-labelledby="b-yard-name"] .last')
        fx.wait_until(lambda: last.text, fx.PATIENCE, "the board's last result")
        minutes.add(time.strftime("%H:%M"))
        self.assertIn(last.text, [f"The board did not answer at {minute}; the lines are stored and will be sent "
                                  "when it answers." for minute in minutes])

    def test_page_line_rules_are_the_engines(self):
        """The page's copy of the line rules against the engine's, over random
        keystrokes, texts and line formats."""
        page = self.open()
        page.find("hall line 1")
        rng = random.Random(23)
        formats = [(d, p) for d in range(3, 9) for p in ["No", "0", "1", "2", "3", "4"]
                   if p == "No" or d > int(p)]
        questions, cases = [], []
        for digits, places in formats:
            questions.append(f"pattern\t{digits}\t{places}")
            cases.append(("pattern", digits, places))
        def value_questions(digits, places, typed):
            for question in ("format", "fits"):
                questions.append(f"{question}\t{digits}\t{places}\t{typed}")
                cases.append((question, digits, places, typed))

        for _ in range(3000):
            digits, places = rng.choice(formats)
            text = "".join(rng.choice("0123456789.") for _ in range(rng.randint(0, digits + 2)))
            start = rng.randint(0, len(text))
            end = rng.randint(start, len(text))
            key = rng.choice(["0", "5", "9", ".", "BS", "a", "-", " "])
            questions.append(f"key\t{digits}\t{places}\t{text}\t{start}\t{end}\t{key}")
            cases.append(("key", digits, places, text, start, end, key))
            value_questions(digits, places,
                            "".join(rng.choice("0123456789" * 3 + ".") for _ in range(rng.randint(0, 10))))
        # Nines, where rounding carries into a place the line may not have.
        for digits, places in formats:
            for whole in range(1, digits + 1):
                for decimals in range(0, 6):
                    value_questions(digits, places, "9" * whole + ("." + "9" * decimals if decimals else ""))
        engine = subprocess.run([ORACLE], input="\n".join(questions) + "\n", capture_output=True, text=True,
                                check=True).stdout.split("\n")
        patterns = {(c[1], c[2]): engine[i] for i, c in enumerate(cases) if c[0] == "pattern"}
        answers = page.run("""
            const [cases, patterns, done] = arguments;
            import("/lines.js").then((rules) => done(cases.map((c) => {
              const [question, digits, places] = c;
              if (question === "pattern") return patterns[`${digits} ${places}`];
              if (question === "key") {
                const [, , , text, start, end, key] = c;
                const o = rules.applyKey({text, start, end}, key === "BS" ? "Backspace" : key, digits, places);
                return `${o.verdict}\\t${o.editor.text}\\t${o.editor.start}\\t${o.editor.end}`;
              }
              const typed = c[3];
              if (question === "format") return rules.formatLine(typed, digits, places) ?? "none";
              return rules.lineTakes(typed, digits, places, patterns[`${digits} ${places}`]) ? "1" : "0";
            })), (e) => done(String(e)));
        """, cases, {f"{d} {p}": v for (d, p), v in patterns.items()})
        self.assertIsInstance(answers, list, answers)
        self.assertGreaterEqual(len(engine), len(cases), "the engine answered too few questions")
        wrong = [(case, answer, expected) for case, answer, expected in zip(cases, answers, engine)
                 if answer != expected]
        self.assertEqual(wrong[:5], [], f"{len(wrong)} of {len(cases)} answers differ")


class OnTime(PageTest):
    """Changes on time, the stale guard and bounds: hall's line 3 goes stale
    when no value came for 2 s; its line 1 takes 1 to 25."""

    hall_keys = ("stale-after=2", "stale-lines=3", "line-1-min=1", "line-1-max=25")

    def test_later_schedules_the_change_and_every_page_lists_it(self):
        phone, watcher = self.open(360), self.open_another()
        line = phone.find("hall line 1")
        select_all(line)
        line.send_keys("7.25", fx.Keys.TAB)
        phone.find("Later hall").click()
        when = phone.find("When hall")
        self.assertEqual(when.get_attribute("type"), "datetime-local")
        tomorrow = time.localtime(time.time() + 86400)
        phone.driver.execute_script(
            "arguments[0].value = arguments[1]; arguments[0].dispatchEvent(new Event('input'))",
            when, time.strftime("%Y-%m-%dT%H:%M", tomorrow))
        phone.find("Note hall").send_keys("evening price")
        self.assertEqual(phone.horizontal_overflow(), 0)
        self.save_shot(phone, "phone-later")
        phone.find("Schedule hall").click()
        at = time.strftime("%Y-%m-%d %H:%M", tomorrow)
        fx.wait_until(lambda: phone.by_id("b-hall-result").text == f"Scheduled for {at}.", fx.PATIENCE,
                      "the schedule's result")
        # Posted as Send would post it, for later: nothing is stored now.
        status, listed = phone.api("GET", "/api/schedules", None)
        self.assertEqual(status, 200)
        [schedule] = json.loads(listed)["schedules"]
        self.assertEqual((schedule["board"], schedule["at"], schedule["set"], schedule["note"]),
                         ("hall", at + ":00", {"lines": {"1": "7.25"}}, "evening price"))
        self.assertEqual(self.service.stored(*HALL_LINE_1), "18.99")
        self.assertEqual(line.get_attribute("value"), "18.99")
        entry = f"{at} line 1 7.25 · evening price · by operator"
        for page in (phone, watcher):
            said = lambda: [e.text for e in page.driver.find_elements(
                fx.By.CSS_SELECTOR, '[aria-label="Scheduled for hall"] li .words')]
            fx.wait_until(lambda: said() == [entry], fx.PATIENCE, "the schedule in the card's list")
            self.assertIsNotNone(page.find_now(f"Cancel hall {at}"))
        self.assertEqual(phone.horizontal_overflow(), 0)
        self.save_shot(phone, "phone-scheduled")
        self.save_shot(phone, "desktop-scheduled", width=1280)
        # Cancelled in one page, it leaves every page.
        watcher.find(f"Cancel hall {at}").click()
        for page in (phone, watcher):
            items = page.driver.find_element(fx.By.CSS_SELECTOR, '[aria-label="Scheduled for hall"]')
            fx.wait_until(lambda: not items.is_displayed(), fx.PATIENCE, "the list emptied")
        self.assertEqual(json.loads(phone.api("GET", "/api/schedules", None)[1]), {"schedules": []})

    def test_a_stale_line_says_since_when_until_a_value_comes(self):
        phone = self.open(360)
        line = phone.find("hall line 3")
        note = phone.by_id("b-hall-l3-note")
        fx.wait_until(lambda: note.text.startswith("stale since "), fx.PATIENCE, "the stale line's words")
        self.assertRegex(note.text, r"^stale since [0-2][0-9]:[0-5][0-9]: no new value came$")
        self.assertEqual(phone.by_id("b-hall-l1-caption").text, "Super 95 (1 to 25)")
        self.assertEqual(phone.horizontal_overflow(), 0)
        self.save_shot(phone, "phone-stale")
        select_all(line)
        line.send_keys("98")
        phone.find("Send hall").click()
        fx.wait_until(lambda: "stale" not in note.text, fx.PATIENCE, "the line fresh again")
        # Stale again with no further value: the event stream says so.
        fx.wait_until(lambda: note.text.startswith("stale since "), fx.PATIENCE, "the line stale again")


class WithPasswords(PageTest):
    """Beyond the loopback case the page asks for a password; the role
    decides which controls it shows and what the API takes."""

    passwords = True

    def log_in(self, password, width=1280):
        browser = self.open(width)
        browser.find("Password").send_keys(password, fx.Keys.ENTER)
        return browser

    def test_operator_sees_no_admin_controls_and_the_api_refuses_them(self):
        page = self.log_in(fx.OPERATOR_PASSWORD, 360)
        page.find("hall line 1")
        self.assertEqual(page.by_id("role").text, "operator")
        for name in ("Flicker hall line 1", "9/10 hall line 1", "Proof time hall", "Initialize hall",
                     "Day brightness hall", "Night brightness hall", "Settings hall", "Add board"):
            self.assertIsNone(page.find_now(name), name)
        for path, body in (("/api/boards/hall", {"flicker": {"1": True}}),
                           ("/api/boards/hall", {"brightness": {"day": 3}}),
                           ("/api/boards/hall/init", {"confirm": "INITIALIZE"}),
                           ("/api/groups/prices/clock", {}),
                           ("/api/boards/hall/settings", {"bus": 2}),
                           ("/api/boards", {"name": "added"})):
            status, _ = page.api("POST", path, body)
            self.assertEqual(status, 403, path)
        self.assertEqual(page.horizontal_overflow(), 0)

    def test_admin_sets_flags_and_brightness_and_initializes(self):
        page = self.log_in(fx.ADMIN_PASSWORD, 360)
        page.find("Flicker hall line 2").click()
        fx.Select(page.find("Day brightness hall")).select_by_value("3")
        self.assertEqual(page.horizontal_overflow(), 0)
        page.find("Send hall").click()
        fx.wait_until(lambda: page.by_id("b-hall-result").text == "Sent successfully!", fx.PATIENCE, "the result")
        content = self.service.frame("hall", "content")
        self.assertTrue(content["lines"][1]["flicker"])
        self.assertEqual(self.service.frame("hall", "brightness")["day"], 3)
        self.assertEqual(self.service.stored("hall", "Set", "FCC2"), "1")
        self.assertEqual(self.service.stored("hall", "LD", "LD"), "3")
        # Initialising asks for the word first.
        page.find("Initialize hall").click()
        confirm = page.by_id("confirm-init-go")
        self.assertFalse(confirm.is_enabled())
        page.find("Type INITIALIZE to confirm").send_keys("INITIALIZE")
        confirm.click()
        self.assertIsNotNone(self.service.frame("hall", "init"), "hall was not initialised")

    def test_every_control_is_a_finger_wide_on_a_phone(self):
        page = self.open(360)
        page.find("Password")
        measured = page.driver.execute_script(TARGETS)
        page.find("Password").send_keys(fx.ADMIN_PASSWORD, fx.Keys.ENTER)
        page.find("Flicker hall line 1")
        measured += page.driver.execute_script(TARGETS)
        page.find("Initialize hall").click()
        measured += page.driver.execute_script(TARGETS)
        names = {name for name, _, _ in measured}
        for name in ("password", "logout", "b-hall-l1", "b-hall-l1-flicker", "b-hall-l1-point", "b-hall-update",
                     "b-hall-day", "Send hall", "Initialize hall", "g-prices-l1", "confirm-init-word"):
            self.assertIn(name, names)
        self.assertEqual([m for m in measured if m[1] < 44 or m[2] < 44], [])

    def test_admin_adds_a_board_sends_to_it_and_removes_it(self):
        self.service.boards["added"] = fx.Board(SIM, fx.ADDED_ADDRESS)  # stopped with the service
        page = self.log_in(fx.ADMIN_PASSWORD, 360)
        page.find("Settings new board").click()
        page.find("Name new board").send_keys("added")
        page.find("Address new board").send_keys(fx.ADDED_ADDRESS)
        page.find("Caption new board line 1").send_keys("Rate")
        digits = page.find("Digits new board line 1")
        select_all(digits)
        digits.send_keys("9")
        add = page.find("Add board")
        add_top = add.rect["y"]
        add.click()
        # Refused: said beside the field, the focus there, nothing moved.
        note = page.by_id("add-l1-note")
        fx.wait_until(lambda: note.text, fx.PATIENCE, "the refusal")
        self.assertEqual(note.text, "A line has 3..8 digits.")
        self.assertEqual(digits.get_attribute("aria-describedby"), "add-l1-note")
        self.assertEqual(page.focused(), digits)
        self.assertEqual(add.rect["y"], add_top, "the refusal moved the button below it")
        self.save_shot(page, "phone-refused")
        select_all(digits)
        digits.send_keys("5")
        fx.Select(page.find("Places new board line 1")).select_by_value("2")
        add.click()
        # The board comes with the event stream, and what is typed for it reaches it.
        line = page.find("added line 1")
        self.assertEqual(note.text, "")
        self.assertEqual(self.service.stored("added", "TextBT", "TB1"), "Rate")
        select_all(line)
        line.send_keys("123.45")
        page.find("Send added").click()
        fx.wait_until(lambda: page.by_id("b-added-result").text == "Sent successfully!", fx.PATIENCE, "the result")
        sent = lambda: (frame := self.service.frame("added", "content", 1.0)) and frame["lines"][0]["text"].strip()
        fx.wait_until(lambda: sent() == "123.45", fx.PATIENCE, "the added board's frame")
        # Its set-up reads back what was added; every control is a finger wide.
        page.find("Settings added").click()
        address = page.find("Address added")
        fx.wait_until(lambda: address.get_attribute("value") == fx.ADDED_ADDRESS, fx.PATIENCE, "its settings")
        self.assertEqual(page.find("Digits added line 1").get_attribute("value"), "5")
        measured = page.driver.execute_script(TARGETS)
        names = {name for name, _, _ in measured}
        for name in ("Settings added", "s-added-address", "s-added-bus", "s-added-link", "s-added-port",
                     "s-added-baud", "s-added-groups", "s-added-lines-1-caption", "s-added-l1-chosen",
                     "s-added-lines-6-digits", "s-added-lines-6-places", "Save added", "Remove added",
                     "add-name", "Add board"):
            self.assertIn(name, names)
        self.assertEqual([m for m in measured if m[1] < 44 or m[2] < 44], [])
        self.assertEqual(page.horizontal_overflow(), 0)
        self.save_shot(page, "desktop-setup", width=1280)
        # Saved: what changed is stored, and the board's card draws the new format.
        digits = page.find("Digits added line 1")
        select_all(digits)
        digits.send_keys("6")
        page.find("Save added").click()
        fx.wait_until(lambda: page.by_id("s-added-result").text.startswith("Saved."), fx.PATIENCE, "the save")
        self.assertEqual(self.service.stored("added", "Set", "wsv1"), "6")
        ghost = page.driver.find_element(fx.By.CSS_SELECTOR, ".display:has(#b-added-l1) .ghost")
        fx.wait_until(lambda: ghost.get_attribute("textContent") == "8." * 6, fx.PATIENCE, "the card in 6 digits")
        # Removing takes a second press.
        remove = page.find("Remove added")
        remove.click()
        self.assertEqual(remove.text, "Press again to remove")
        self.save_shot(page, "phone-remove")
        self.assertEqual(page.api("GET", "/api/boards/added/settings")[0], 200)
        remove.click()
        gone = lambda: not page.driver.find_elements(fx.By.CSS_SELECTOR, "#b-added-l1, #s-added-address")
        fx.wait_until(gone, fx.PATIENCE, "the board leaving the page")
        with open(f"{self.service.dir}/boards.ini", encoding="utf-8") as boards:
            self.assertNotIn("[added]", boards.read())

    def test_logging_in_puts_the_focus_on_the_first_line(self):
        page = self.log_in(fx.OPERATOR_PASSWORD, 360)
        line = page.find("hall line 1")
        fx.wait_until(lambda: page.focused() == line, fx.PATIENCE, "the focus on hall line 1")
        # Its text is selected: what is typed replaces it.
        page.focused().send_keys("7.5")
        self.assertEqual(line.get_attribute("value"), "7.5")

    def test_wrong_passwords_are_throttled(self):
        page = self.open()
        field = page.find("Password")
        result = page.by_id("login-result")
        for attempt in range(5):
            field.send_keys(f"guess {attempt}", fx.Keys.ENTER)
            fx.wait_until(lambda: result.text == "Wrong password.", fx.PATIENCE, "the refusal")
            page.driver.execute_script("arguments[0].textContent = ''", result)
        # Five wrong ones from this address: now even the right one waits.
        field.send_keys(fx.ADMIN_PASSWORD, fx.Keys.ENTER)
        fx.wait_until(lambda: result.text.startswith("Too many wrong passwords: try again in"), fx.PATIENCE, "the wait")
        self.assertTrue(page.by_id("login").is_displayed())


class WithUsers(PageTest):
    """With a users file the login asks for a name; the bar then says who
    is logged in."""

    passwords = True
    users = (("alice.k", "operator", "alice at the pumps"),)

    def test_a_person_logs_in_by_name_on_a_phone(self):
        page = self.open(360)
        name = page.find("Name")
        self.assertEqual(page.focused(), name, "the login does not start at the name")
        measured = page.driver.execute_script(TARGETS)
        self.assertIn("name", [m[0] for m in measured])
        self.assertEqual([m for m in measured if m[1] < 44 or m[2] < 44], [])
        name.send_keys("alice.k")
        page.find("Password").send_keys("alice at the pumps", fx.Keys.ENTER)
        fx.wait_until(lambda: page.by_id("role").text == "alice.k (operator)", fx.PATIENCE, "the name in the bar")
        page.find("hall line 1")
        self.assertIsNone(page.find_now("Flicker hall line 1"), "an operator sees admin controls")
        self.assertEqual(json.loads(page.api("GET", "/api/session")[1])["name"], "alice.k")
        self.assertEqual(page.horizontal_overflow(), 0)
        self.save_shot(page, "phone-named")

    def test_history_lists_who_changed_a_line_and_when_the_board_showed_it(self):
        page = self.open(360)
        page.find("Name").send_keys("alice.k")
        page.find("Password").send_keys("alice at the pumps", fx.Keys.ENTER)
        history = page.find("History hall")
        history.click()
        self.assertEqual(history.get_attribute("aria-expanded"), "true")
        # Open before the change: the board's events bring it in.
        line = page.find("hall line 1")
        select_all(line)
        line.send_keys("1.899")
        page.find("Send hall").click()
        fx.wait_until(lambda: page.by_id("b-hall-result").text == "Sent successfully!", fx.PATIENCE, "the result")
        newest = lambda: page.driver.execute_script(
            "return document.querySelector('#b-hall-history li')?.textContent ?? ''")
        fx.wait_until(lambda: "shown" in newest(), fx.PATIENCE, "the change in the history, shown")
        self.assertRegex(newest(), r"^\d\d:\d\d line 1: 18\.99 → 1\.90 alice\.k · shown \d\d:\d\d:\d\d$")
        self.assertEqual(page.horizontal_overflow(), 0)
        page.driver.execute_script("arguments[0].focus()", history)
        self.save_shot(page, "phone-history")
        self.save_shot(page, "desktop-history", 1280)


if __name__ == "__main__":
    reason = fx.missing_tools()
    if reason:
        print(f"skipped: {reason}")
        sys.exit(fx.SKIP)
    unittest.main(argv=[sys.argv[0]] + sys.argv[4:], verbosity=2)
