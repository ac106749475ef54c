#!/usr/bin/python3
"""The HTTP door end to end: the real lumidex-bridge over two lumidex-sim
boards on loopback, asked with a plain HTTP client. Every endpoint and every
refusal once, as tables; every JSON answer checked against the OpenAPI
document the bridge itself serves.

    test_http_api.py BRIDGE_EXE SIM_EXE [unittest arguments]
"""

import base64
import csv
import http.client
import io
import json
import os
import re
import shutil
import socket
import ssl
import subprocess
import sys
import tempfile
import time
import unittest
import urllib.parse

import jsonschema

from http_fixture import Bridge, Sim, board_settings, free_port, password_line, use, write_secret

BRIDGE = SIM = None
# The boards' controllers, and the addresses clients come from (each
# throttle case its own, so a wait never spills into another case);
# tests/support/addresses.h keeps them apart from the other suites'.
BOARD_A, BOARD_B = "127.0.0.41", "127.0.0.42"
RESTART_BOARD = "127.0.5.1"
BOARD_ADDED = "127.0.5.2"  # the board an admin adds
SCHEDULED_BOARD = "127.0.6.1"  # schedules on time, and across a kill
STALE_BOARD = "127.0.6.2"  # a line that goes stale
CLIENT_ADDRESSES = iter(f"127.0.0.{n}" for n in range(45, 90))

OPERATOR_PASSWORD = "pump-4711"
ADMIN_PASSWORD = "back office!"
ADMIN_TOKEN = "a" * 8 + "0123456789abcdef"
OPERATOR_TOKEN = "o" * 8 + "0123456789abcdef"
FEED_TOKEN = "f" * 8 + "0123456789abcdef"  # an operator's token named price-feed
# People of the users file.
ALICE_PASSWORD = "alice at the pumps"  # an operator
DANA_PASSWORD = "dana in the office"  # an admin
ALLOWED_ORIGIN = "https://rates.example"


class Answer:
    def __init__(self, response):
        self.status = response.status
        self.headers = response.headers
        self.raw = response.read()
        self.json = None
        if response.headers.get("Content-Type", "").startswith("application/json") and self.raw:
            self.json = json.loads(self.raw)


class HttpDoorTest(unittest.TestCase):
    maxDiff = None

    @classmethod
    def setUpClass(cls):
        cls.dir = tempfile.mkdtemp(prefix="lumidex-http-")
        cls.addClassCleanup(shutil.rmtree, cls.dir)
        cls.sims = {"hall": Sim(BOARD_A), "dock": Sim(BOARD_B)}
        for sim in cls.sims.values():
            cls.addClassCleanup(sim.stop)
        for name, address in (("hall", BOARD_A), ("dock", BOARD_B)):
            for folder in ("open", "closed"):
                os.makedirs(os.path.join(cls.dir, folder), exist_ok=True)
                with open(os.path.join(cls.dir, folder, name + ".ini"), "w", newline="") as f:
                    f.write(board_settings(address))
        closed = os.path.join(cls.dir, "closed")
        # The bridge takes secrets only its own user may read.
        for role, password in (("operator", OPERATOR_PASSWORD), ("admin", ADMIN_PASSWORD)):
            write_secret(os.path.join(closed, role + ".pass"), password_line(password))
        write_secret(os.path.join(closed, "tokens"), f"# scripts\nadmin {ADMIN_TOKEN}\noperator {OPERATOR_TOKEN}\n"
                                                     f"operator {FEED_TOKEN} price-feed\n")
        write_secret(os.path.join(closed, "users"), f"# people\nalice operator {password_line(ALICE_PASSWORD)}"
                                                    f"dana admin {password_line(DANA_PASSWORD)}")
        cls.open = Bridge(os.path.join(cls.dir, "open"), "")
        cls.addClassCleanup(cls.open.stop)
        cls.closed = Bridge(closed, "operator-password-file=operator.pass\n"
                                    "admin-password-file=admin.pass\nusers-file=users\ntokens-file=tokens\n"
                                    f"allow-origin={ALLOWED_ORIGIN}\n")
        cls.addClassCleanup(cls.closed.stop)
        cls.document = cls.request_on(cls.open, "GET", "/api/openapi.json").json
        cls.answered = set()

    def folder_of_boards(self, name, address):
        """A folder of its own whose hall and dock are the controller at `address`."""
        folder = os.path.join(self.dir, name)
        os.makedirs(folder, exist_ok=True)
        for board in ("hall", "dock"):
            with open(os.path.join(folder, board + ".ini"), "w", newline="") as f:
                f.write(board_settings(address))
        return folder

    @staticmethod
    def request_on(bridge, method, path, body=None, headers=None, source=None, raw_body=None):
        connection = http.client.HTTPConnection("127.0.0.1", bridge.port, timeout=15,
                                                source_address=(source, 0) if source else None)
        sent = dict(headers or {})
        data = raw_body
        if body is not None:
            data = json.dumps(body).encode()
            sent.setdefault("Content-Type", "application/json")
        connection.request(method, path, body=data, headers=sent)
        answer = Answer(connection.getresponse())
        connection.close()
        return answer

    def request(self, bridge, method, path, body=None, headers=None, source=None, raw_body=None):
        answer = self.request_on(bridge, method, path, body, headers, source, raw_body)
        self.check_against_document(method, path, answer)
        return answer

    # The OpenAPI document against what the server answers.

    def operation(self, method, path):
        path = path.split("?")[0]
        for template, item in self.document["paths"].items():
            pattern = "^" + re.sub(r"\{[^}]+\}", "[^/]+", template) + "$"
            if re.match(pattern, path) and method.lower() in item:
                return template, item[method.lower()]
        if not path.startswith("/api/"):
            return "/", self.document["paths"]["/"]["get"]
        return None, None

    def check_against_document(self, method, path, answer):
        if method == "OPTIONS":
            return  # a CORS preflight is no operation of the API
        template, operation = self.operation(method, path)
        if operation is None:
            self.assertIn(answer.status, (404, 405), f"{method} {path} is not in the document")
            return
        described = operation["responses"].get(str(answer.status))
        if described is None and answer.status >= 400:
            described = operation["responses"].get("default")
        self.assertIsNotNone(described, f"{method} {path} answered {answer.status}, which the "
                                        "document does not list")
        self.answered.add((template, method.lower(), answer.status))
        if "$ref" in described:
            described = self.resolve(described["$ref"])
        content = described.get("content", {}).get("application/json")
        if content is None or answer.json is None:
            return
        resolver = jsonschema.RefResolver.from_schema(self.document)
        jsonschema.Draft202012Validator(content["schema"], resolver=resolver).validate(answer.json)

    def resolve(self, reference):
        node = self.document
        for part in reference.lstrip("#/").split("/"):
            node = node[part]
        return node

    def test_the_document_describes_paths_the_server_has(self):
        self.assertEqual(self.document["openapi"], "3.1.0")
        for name, schema in self.document["components"]["schemas"].items():
            with self.subTest(schema=name):
                jsonschema.Draft202012Validator.check_schema(schema)
        for template, item in self.document["paths"].items():
            for method in item:
                if method == "parameters" or template == "/api/events":
                    continue  # the event stream has a test of its own
                with self.subTest(f"{method} {template}"):
                    concrete = template.replace("{board}", "hall").replace("{group}", "prices")
                    if "{id}" in concrete:
                        made = self.request(self.open, "POST", "/api/schedules", {
                            "board": "dock", "at": later(days=400), "set": {"update": "Now"}})
                        concrete = concrete.replace("{id}", made.json["id"])
                    answer = self.request(self.open, method.upper(), concrete,
                                          body={} if method == "post" else None)
                    self.assertNotIn(answer.status, (404, 405), answer.raw)

    # Reading.

    def test_boards_read_as_the_boards_file_orders_them(self):
        answer = self.request(self.open, "GET", "/api/boards")
        self.assertEqual(answer.status, 200)
        self.assertEqual([b["name"] for b in answer.json["boards"]], ["hall", "dock"])
        hall = self.request(self.open, "GET", "/api/boards/hall").json
        line = hall["lines"][0]
        self.assertEqual((line["number"], line["caption"], line["digits"], line["places"]),
                         (1, "Super", 4, "2"))
        self.assertEqual(hall["lines"][1]["places"], "No")
        self.assertEqual([l["chosen"] for l in hall["lines"]], [True, True] + [False] * 4)
        self.assertEqual(hall["groups"], ["prices"])

    # Changing: every refusal once, as a table.

    def test_refusals(self):
        json_type = {"Content-Type": "application/json"}
        cases = [
            # name, method, path, body, headers, status, field, error part
            ("unknown board", "GET", "/api/boards/nowhere", None, {}, 404, None, "no board nowhere"),
            ("unknown board, posted", "POST", "/api/boards/nowhere", {"lines": {"1": "1"}}, {}, 404, None, "no board"),
            ("unknown group", "POST", "/api/groups/nowhere", {"lines": {"1": "1"}}, {}, 404, None, "no group"),
            ("unknown path", "GET", "/api/nothing", None, {}, 404, None, "no such API path"),
            ("unknown command", "POST", "/api/boards/hall/reboot", {}, {}, 404, None, "no such API path"),
            ("unknown page file", "GET", "/nothing.js", None, {}, 404, None, "no such page"),
            ("wrong method", "PUT", "/api/boards/hall", None, {}, 405, None, "GET, POST or DELETE"),
            ("GET on a change", "GET", "/api/groups/prices", None, {}, 405, None, "POST"),
            ("not JSON", "POST", "/api/boards/hall", None, {"Content-Type": "text/plain"}, 415, None, "application/json"),
            ("no JSON body", "POST", "/api/boards/hall", None, json_type, 400, None, "no JSON"),
            ("not an object", "POST", "/api/boards/hall", [1], {}, 422, None, "object"),
            ("empty change", "POST", "/api/boards/hall", {}, {}, 422, None, "nothing to change"),
            ("unknown field", "POST", "/api/boards/hall", {"lines": {"1": "1"}, "colour": "red"}, {}, 422, "colour", "no such field"),
            ("line too long", "POST", "/api/boards/hall", {"lines": {"1": "123.4"}}, {}, 422, "lines.1", "does not take '123.4'"),
            ("rounding carries", "POST", "/api/boards/hall", {"lines": {"1": "99.999"}}, {}, 422, "lines.1", "does not take"),
            ("line 7", "POST", "/api/boards/hall", {"lines": {"7": "1"}}, {}, 422, "lines.7", "1 to 6"),
            ("a number, not a text", "POST", "/api/boards/hall", {"lines": {"1": 1.5}}, {}, 422, "lines.1", "string"),
            ("letters", "POST", "/api/boards/hall", {"lines": {"2": "1a"}}, {}, 422, "lines.2", "does not take"),
            ("update time", "POST", "/api/boards/hall", {"update": "14:30"}, {}, 422, "update", "HH:00"),
            ("operator's flicker", "POST", "/api/boards/hall", {"flicker": {"1": True}}, {}, 403, "flicker", "admin"),
            ("operator's brightness", "POST", "/api/boards/hall", {"brightness": {"day": 3}}, {}, 403, "brightness", "admin"),
            ("operator's clock", "POST", "/api/boards/hall/clock", {}, {}, 403, None, "admin"),
            ("operator's init", "POST", "/api/groups/prices/init", {"confirm": "INITIALIZE"}, {}, 403, None, "admin"),
            ("group refusal names the board", "POST", "/api/groups/prices", {"lines": {"1": "123"}}, {}, 422, "hall.lines.1", "does not take"),
            ("foreign Host", "GET", "/api/boards", None, {"Host": "rebound.example:80"}, 403, None, "Host"),
            ("Host on another port", "GET", "/api/boards", None, {"Host": "127.0.0.1:1"}, 403, None, "Host"),
            ("foreign Origin", "POST", "/api/boards/hall", {"lines": {"1": "1"}}, {"Origin": "http://evil.example"}, 403, None, "origin"),
            ("preflight from another origin", "OPTIONS", "/api/boards/hall", None, {"Origin": "http://evil.example"}, 403, None, "origin"),
            ("login without passwords", "POST", "/api/login", {"password": "x"}, {}, 400, None, "no passwords"),
        ]
        before = open(os.path.join(self.dir, "open", "hall.ini"), "rb").read()
        for name, method, path, body, headers, status, field, error in cases:
            with self.subTest(name):
                answer = self.request(self.open, method, path, body, headers)
                self.assertEqual(answer.status, status, answer.raw)
                self.assertIn(error.lower(), answer.json["error"].lower())
                self.assertNotIn("\n", answer.json["error"])
                self.assertEqual(answer.json.get("field"), field)
        self.assertEqual(open(os.path.join(self.dir, "open", "hall.ini"), "rb").read(), before,
                         "a refused request stored something")

    def test_a_change_reaches_the_board_and_its_file(self):
        self.sims["hall"].drain()
        answer = self.request(self.open, "POST", "/api/boards/hall",
                              {"lines": {"1": "1.899", "2": "7"}, "update": "14:00"},
                              {"Origin": f"http://127.0.0.1:{self.open.port}"})
        self.assertEqual(answer.status, 200, answer.raw)
        self.assertEqual([s["result"] for s in answer.json["statuses"]], ["accepted"])
        board = answer.json["board"]
        self.assertEqual((board["lines"][0]["text"], board["lines"][0]["shown"]), ("1.90", "1.90"))
        self.assertEqual(board["update"], "14:00")
        frame = self.sims["hall"].next_frame()
        while frame and frame["hex"] != answer.json["statuses"][0]["frame"]:
            frame = self.sims["hall"].next_frame()
        self.assertIsNotNone(frame, "the board never took the frame the status names")
        self.assertEqual(frame["lines"][0]["text"].strip(), "1.90")
        with open(os.path.join(self.dir, "open", "hall.ini"), newline="") as f:
            self.assertIn("TD1=1.90", f.read())

    # Setting boards up (admin only).

    def test_an_admin_adds_sets_up_and_removes_a_board(self):
        admin = {"Authorization": "Bearer " + ADMIN_TOKEN}
        operator = {"Authorization": "Bearer " + OPERATOR_TOKEN}
        folder = os.path.join(self.dir, "closed")
        hall_before = open(os.path.join(folder, "hall.ini"), "rb").read()
        refusals = [
            # name, method, path, body, headers, status, field
            ("operator reads settings", "GET", "/api/boards/hall/settings", None, operator, 403, None),
            ("operator changes settings", "POST", "/api/boards/hall/settings", {"bus": 2}, operator, 403, None),
            ("operator adds", "POST", "/api/boards", {"name": "gate"}, operator, 403, None),
            ("operator removes", "DELETE", "/api/boards/hall", None, operator, 403, None),
            ("digits", "POST", "/api/boards/hall/settings", {"bus": 2, "lines": {"2": {"digits": 9}}}, admin, 422, "lines.2.digits"),
            ("places over digits", "POST", "/api/boards/hall/settings", {"lines": {"2": {"places": "3"}}}, admin, 422, "lines.2.places"),
            ("a number for an address", "POST", "/api/boards/hall/settings", {"address": 3232235826}, admin, 422, "address"),
            ("unknown field", "POST", "/api/boards/hall/settings", {"colour": "red"}, admin, 422, "colour"),
            ("serial without a port", "POST", "/api/boards/hall/settings", {"link": "serial"}, admin, 422, "port"),
            ("a name topics cannot carry", "POST", "/api/boards", {"name": "a/b"}, admin, 422, "name"),
            ("a name taken", "POST", "/api/boards", {"name": "HALL", "settings": {"address": BOARD_ADDED}}, admin, 409, "name"),
            ("a UDP board without an address", "POST", "/api/boards", {"name": "gate"}, admin, 422, "settings.address"),
            ("no such board", "DELETE", "/api/boards/nowhere", None, admin, 404, None),
        ]
        for name, method, path, body, headers, status, field in refusals:
            with self.subTest(name):
                answer = self.request(self.closed, method, path, body, headers)
                self.assertEqual(answer.status, status, answer.raw)
                self.assertEqual(answer.json.get("field"), field)
        self.assertEqual(open(os.path.join(folder, "hall.ini"), "rb").read(), hall_before,
                         "a refused set-up stored something")
        self.assertFalse(os.path.exists(os.path.join(folder, "gate.ini")))

        sim = Sim(BOARD_ADDED)
        self.addCleanup(sim.stop)
        added = self.request(self.closed, "POST", "/api/boards", {
            "name": "gate", "settings": {"address": BOARD_ADDED, "groups": ["gates"],
                                         "lines": {"1": {"caption": "Gate", "digits": 4, "places": "1"},
                                                   "2": {"chosen": False}}}}, admin)
        self.assertEqual(added.status, 201, added.raw)
        self.assertEqual((added.json["name"], added.json["groups"]), ("gate", ["gates"]))
        self.assertEqual(added.json["lines"][0]["caption"], "Gate")
        with open(self.closed.boards) as f:
            self.assertIn("[gate]\nsettings=gate.ini\nlink=udp\ngroups=gates\n", f.read())
        names = [b["name"] for b in self.request(self.closed, "GET", "/api/boards", headers=admin).json["boards"]]
        self.assertEqual(names, ["hall", "dock", "gate"])

        sent = self.request(self.closed, "POST", "/api/boards/gate", {"lines": {"1": "12.5"}}, admin)
        self.assertEqual(sent.status, 200, sent.raw)
        self.assertEqual([s["result"] for s in sent.json["statuses"]], ["accepted"])
        frame = sim.next_frame()  # an added board is re-asserted at once, as at a start
        while frame and frame["hex"] != sent.json["statuses"][0]["frame"]:
            frame = sim.next_frame()
        self.assertIsNotNone(frame, "the added board never got its frame")
        self.assertEqual(frame["lines"][0]["text"].strip(), "12.5")

        changed = self.request(self.closed, "POST", "/api/boards/gate/settings",
                               {"bus": 7, "lines": {"1": {"digits": 5, "places": "2"}}}, admin)
        self.assertEqual(changed.status, 200, changed.raw)
        self.assertEqual(changed.json["bus"], 7)
        self.assertEqual(changed.json["address"], BOARD_ADDED)
        self.assertEqual(changed.json["lines"]["1"], {"caption": "Gate", "chosen": True, "digits": 5, "places": "2"})
        self.assertEqual(self.request(self.closed, "GET", "/api/boards/gate/settings", headers=admin).json,
                         changed.json)
        # Re-asserted at once in the new format, to the new bus address.
        frame = sim.next_frame()
        while frame and (frame.get("command") != "content" or frame["address"] != 7):
            frame = sim.next_frame()
        self.assertIsNotNone(frame, "the board was not re-asserted with its new set-up")
        self.assertEqual((frame["address"], frame["lines"][0]["text"].strip()), (7, "12.50"))

        removed = self.request(self.closed, "DELETE", "/api/boards/gate", headers=admin)
        self.assertEqual(removed.status, 204, removed.raw)
        self.assertEqual(self.request(self.closed, "GET", "/api/boards/gate", headers=admin).status, 404)
        with open(self.closed.boards) as f:
            self.assertNotIn("gate", f.read())
        self.assertTrue(os.path.exists(os.path.join(folder, "gate.ini")), "a removed board's Config.ini stays")

    def test_a_group_change_goes_to_every_board(self):
        answer = self.request(self.open, "POST", "/api/groups/prices", {"lines": {"2": "42"}})
        self.assertEqual(answer.status, 200, answer.raw)
        self.assertEqual([r["board"] for r in answer.json["results"]], ["hall", "dock"])
        for result in answer.json["results"]:
            self.assertEqual(result["statuses"][0]["result"], "accepted")

    def test_a_board_that_does_not_answer_is_pending_not_waited_for(self):
        # Nothing listens on 127.0.0.43: the exchanges time out, the answer
        # comes when they have, with their statuses.
        folder = os.path.join(self.dir, "silent")
        os.makedirs(folder, exist_ok=True)
        for name in ("hall", "dock"):
            with open(os.path.join(folder, name + ".ini"), "w", newline="") as f:
                f.write(board_settings("127.0.0.43"))
        bridge = Bridge(folder, "")
        try:
            answer = self.request(bridge, "POST", "/api/boards/dock", {"lines": {"1": "3"}})
            self.assertIn(answer.status, (200, 202), answer.raw)
            if answer.status == 200:
                self.assertIn(answer.json["statuses"][0]["result"], ("no answer", "link failed"))
            else:
                self.assertTrue(answer.json["pending"])
        finally:
            bridge.stop()

    def test_a_restart_keeps_logins_and_what_boards_show(self):
        # The board takes 12.45, then stops answering and is given 3.21:
        # after a restart it still shows 12.45 and owes 3.21, and the
        # admin's session goes on; one ended by logging out stays ended.
        folder = os.path.join(self.dir, "restart")
        os.makedirs(folder, exist_ok=True)
        for role, password in (("operator", OPERATOR_PASSWORD), ("admin", ADMIN_PASSWORD)):
            write_secret(os.path.join(folder, role + ".pass"), password_line(password))
        for name in ("hall", "dock"):
            with open(os.path.join(folder, name + ".ini"), "w", newline="") as f:
                f.write(board_settings(RESTART_BOARD))
        # Alice and Carol log in by name; Carol leaves the users file while
        # the service is down, and her session ends with it.
        alice_line, carol_line = (f"alice operator {password_line(ALICE_PASSWORD)}",
                                  f"carol admin {password_line(DANA_PASSWORD)}")
        write_secret(os.path.join(folder, "users"), alice_line + carol_line)
        passwords = "operator-password-file=operator.pass\nadmin-password-file=admin.pass\nusers-file=users\n"
        sim = Sim(RESTART_BOARD)
        self.addCleanup(sim.stop)
        bridge = Bridge(folder, passwords)
        try:
            def log_in(password, **name):
                answer = self.request(bridge, "POST", "/api/login", {"password": password, **name})
                self.assertEqual(answer.status, 200, answer.raw)
                return {"Cookie": answer.headers["Set-Cookie"].split(";")[0]}
            admin, ended = log_in(ADMIN_PASSWORD), log_in(OPERATOR_PASSWORD)
            alice, carol = log_in(ALICE_PASSWORD, name="alice"), log_in(DANA_PASSWORD, name="carol")
            self.assertEqual(self.request(bridge, "POST", "/api/boards/hall", {"lines": {"1": "12.45"}},
                                          admin).status, 200)
            sim.stop()
            self.request(bridge, "POST", "/api/boards/hall", {"lines": {"1": "3.21"}}, admin)
            self.assertEqual(self.request(bridge, "POST", "/api/logout", {}, ended).status, 204)
            kept = os.path.join(folder, ".boards.ini.sessions")
            self.assertEqual(os.stat(kept).st_mode & 0o777, 0o600)
            with open(kept) as f:
                self.assertNotIn(admin["Cookie"].split("=", 1)[1], f.read())
        finally:
            bridge.stop()
        write_secret(os.path.join(folder, "users"), alice_line)
        bridge = Bridge(folder, passwords)
        try:
            for cookie, role, name in ((admin, "admin", "admin"), (alice, "operator", "alice")):
                session = self.request(bridge, "GET", "/api/session", headers=cookie)
                self.assertEqual((session.status, session.json),
                                 (200, {"role": role, "name": name, "login": True, "names": True}))
            self.assertEqual(self.request(bridge, "GET", "/api/session", headers=ended).status, 401)
            self.assertEqual(self.request(bridge, "GET", "/api/session", headers=carol).status, 401,
                             "a session of someone no longer in the users file outlived a restart")
            line = self.request(bridge, "GET", "/api/boards/hall", headers=admin).json["lines"][0]
            self.assertEqual((line["text"], line["shown"]), ("3.21", "12.45"))
        finally:
            bridge.stop()

    # Changes on time.

    def test_schedules_are_made_read_refused_and_cancelled(self):
        admin = {"Authorization": "Bearer " + ADMIN_TOKEN}
        operator = {"Authorization": "Bearer " + OPERATOR_TOKEN}
        at = later(days=30)
        made = self.request(self.closed, "POST", "/api/schedules", {
            "board": "hall", "at": at, "set": {"brightness": {"day": 3}}, "note": "dimmer at night"}, admin)
        self.assertEqual(made.status, 201, made.raw)
        schedule = made.json
        self.assertEqual({k: schedule[k] for k in ("board", "at", "set", "note", "created_by", "last_run")},
                         {"board": "hall", "at": at, "set": {"brightness": {"day": 3}}, "note": "dimmer at night",
                          "created_by": "admin", "last_run": None})
        self.assertTrue(schedule["next"].startswith(at.replace(" ", "T")), schedule["next"])
        path = f"/api/schedules/{schedule['id']}"
        self.assertEqual(self.request(self.closed, "GET", path, headers=operator).json, schedule)
        listed = self.request(self.closed, "GET", "/api/schedules", headers=operator).json["schedules"]
        self.assertIn(schedule, listed)
        refusals = [
            # name, body, headers, status, field
            ("a one-off in the past", {"board": "hall", "at": "2020-01-01 00:00:00", "set": {"update": "Now"}},
             admin, 422, "at"),
            ("an operator's brightness", {"board": "hall", "at": at, "set": {"brightness": {"day": 3}}},
             operator, 403, "set.brightness"),
            ("a line its board cannot show", {"board": "hall", "at": at, "set": {"lines": {"1": "123.4"}}},
             admin, 422, "set.lines.1"),
            ("a group's member named", {"group": "prices", "at": at, "set": {"lines": {"1": "123"}}},
             admin, 422, "hall.set.lines.1"),
        ]
        for name, body, headers, status, field in refusals:
            with self.subTest(name):
                answer = self.request(self.closed, "POST", "/api/schedules", body, headers)
                self.assertEqual(answer.status, status, answer.raw)
                self.assertEqual(answer.json.get("field"), field)
        self.assertEqual(self.request(self.closed, "DELETE", path, headers=operator).status, 403)
        self.assertEqual(self.request(self.closed, "DELETE", path, headers=admin).status, 204)
        self.assertEqual(self.request(self.closed, "GET", path, headers=admin).status, 404)
        self.assertEqual(self.request(self.closed, "DELETE", path, headers=admin).status, 404)
        self.assertNotIn(schedule["id"], [s["id"] for s in self.request(
            self.closed, "GET", "/api/schedules", headers=admin).json["schedules"]])

    def test_a_schedule_reaches_the_board_on_time_even_across_a_kill(self):
        folder = self.folder_of_boards("scheduled", SCHEDULED_BOARD)
        sim = Sim(SCHEDULED_BOARD)
        self.addCleanup(sim.stop)
        bridge = Bridge(folder, "", bridge_section="refresh=0\n")
        try:
            due = time.time() + 2.5
            made = self.request(bridge, "POST", "/api/schedules",
                                {"board": "hall", "at": local_text(due), "set": {"lines": {"1": "4.44"}}})
            self.assertEqual(made.status, 201, made.raw)
            arrived = frame_with_line(sim, "4.44", 10)
            self.assertIsNotNone(arrived, "the schedule never reached the board")
            # "at" names whole seconds: due at the second the text names.
            self.assertTrue(-0.3 <= arrived - int(due) <= 1.5, f"ran {arrived - int(due):.2f} s from due")
            self.assertEqual(self.request(bridge, "GET", "/api/schedules").json, {"schedules": []},
                             "a one-off that ran stays in the list")
            # Killed before it is due, started after: it runs at the start.
            due = time.time() + 2
            self.assertEqual(self.request(bridge, "POST", "/api/schedules", {
                "board": "hall", "at": local_text(due), "set": {"lines": {"1": "5.55"}}}).status, 201)
        finally:
            bridge.kill()
        time.sleep(max(0.0, int(due) + 1.5 - time.time()))
        self.assertIsNone(frame_with_line(sim, "5.55", 0.3), "the killed bridge sent it")
        bridge = Bridge(folder, "", bridge_section="refresh=0\n")
        try:
            self.assertIsNotNone(frame_with_line(sim, "5.55", 10), "the schedule missed while down never ran")
            line = self.request(bridge, "GET", "/api/boards/hall").json["lines"][0]
            self.assertEqual((line["text"], line["shown"]), ("5.55", "5.55"))
            self.assertEqual(self.request(bridge, "GET", "/api/schedules").json, {"schedules": []})
        finally:
            bridge.stop()

    def test_a_line_without_new_values_goes_blank_and_comes_back(self):
        folder = self.folder_of_boards("stale", STALE_BOARD)
        sim = Sim(STALE_BOARD)
        self.addCleanup(sim.stop)
        # Hall alone is guarded: dock shares its controller, and its frames
        # would blank line 1 on its own time.
        bridge = Bridge(folder, "", bridge_section="refresh=0\n",
                        hall_section="stale-after=2\nstale-lines=1\nline-1-min=1\nline-1-max=9.5\n")
        try:
            # Its bounds: shown with the line, and a value beyond them refused
            # now and in a schedule alike.
            line = self.request(bridge, "GET", "/api/boards/hall").json["lines"][0]
            self.assertEqual((line["min"], line["max"]), ("1", "9.5"))
            self.assertNotIn("min", self.request(bridge, "GET", "/api/boards/dock").json["lines"][0])
            for path, body, field in (("/api/boards/hall", {"lines": {"1": "9.51"}}, "lines.1"),
                                      ("/api/schedules", {"board": "hall", "at": later(days=1),
                                                          "set": {"lines": {"1": "0.99"}}}, "set.lines.1")):
                refused = self.request(bridge, "POST", path, body)
                self.assertEqual((refused.status, refused.json.get("field")), (422, field), refused.raw)
                self.assertIn("1 to 9.5", refused.json["error"])
            self.assertEqual(self.request(bridge, "POST", "/api/boards/hall", {"lines": {"1": "3.30"}}).status, 200)
            given = frame_with_line(sim, "3.30", 5)
            self.assertIsNotNone(given)
            blank = frame_with_line(sim, "", 6)
            self.assertIsNotNone(blank, "the stale line was never sent blank")
            # Never early; late by less than the second the service counts in
            # (and the exchange that carried the value).
            self.assertTrue(1.9 <= blank - given <= 3.5, f"went stale {blank - given:.2f} s after its value")
            line = self.request(bridge, "GET", "/api/boards/hall").json["lines"][0]
            self.assertTrue(line["stale"])
            self.assertIsNotNone(line["stale_since"])
            self.assertEqual(line["text"], "3.30", "a stale line keeps its value stored")
            with open(os.path.join(folder, "hall.ini"), newline="") as f:
                self.assertIn("TD1=3.30", f.read())
            self.assertEqual(self.request(bridge, "POST", "/api/boards/hall", {"lines": {"1": "3.40"}}).status, 200)
            self.assertIsNotNone(frame_with_line(sim, "3.40", 5))
            line = self.request(bridge, "GET", "/api/boards/hall").json["lines"][0]
            self.assertEqual((line["stale"], line["stale_since"]), (False, None))
            self.assertIsNotNone(line["fresh_at"])
        finally:
            bridge.stop()

    # Logging in and roles.

    def test_roles_and_logins(self):
        closed = self.closed
        basic = lambda user, password: {"Authorization": "Basic " + base64.b64encode(
            f"{user}:{password}".encode()).decode()}
        source = next(CLIENT_ADDRESSES)
        login = self.request(closed, "POST", "/api/login", {"password": OPERATOR_PASSWORD}, source=source)
        self.assertEqual((login.status, login.json), (200, {"role": "operator", "name": "operator"}))
        cookie_header = login.headers["Set-Cookie"]
        for part in ("HttpOnly", "SameSite=Strict", "Path=/", "Max-Age=43200"):
            self.assertIn(part, cookie_header)
        operator = {"Cookie": cookie_header.split(";")[0]}
        admin_login = self.request(closed, "POST", "/api/login", {"password": ADMIN_PASSWORD}, source=source)
        admin = {"Cookie": admin_login.headers["Set-Cookie"].split(";")[0]}
        flicker = {"flicker": {"1": False}}
        cases = [
            # name, method, path, body, headers, status
            ("no login", "GET", "/api/boards", None, {}, 401),
            ("no login, session", "GET", "/api/session", None, {}, 401),
            ("no login, events", "GET", "/api/events", None, {}, 401),
            ("the page needs none", "GET", "/", None, {}, 200),
            ("the document needs none", "GET", "/api/openapi.json", None, {}, 200),
            ("operator's session", "GET", "/api/session", None, operator, 200),
            ("operator's line", "POST", "/api/boards/hall", {"lines": {"1": "2"}}, operator, 200),
            ("operator's flicker", "POST", "/api/boards/hall", flicker, operator, 403),
            ("admin's flicker", "POST", "/api/boards/hall", flicker, admin, 200),
            ("admin's brightness", "POST", "/api/boards/hall", {"brightness": {"day": 6, "night": 1}}, admin, 200),
            ("admin's clock", "POST", "/api/boards/hall/clock", {"time": "2026-12-08 10:00:00"}, admin, 200),
            ("admin's clock, bad time", "POST", "/api/boards/hall/clock", {"time": "2026-02-30 10:00:00"}, admin, 422),
            ("admin's clock, now", "POST", "/api/groups/prices/clock", {}, admin, 200),
            ("admin's init unconfirmed", "POST", "/api/boards/hall/init", {"confirm": "yes"}, admin, 422),
            ("admin's init", "POST", "/api/boards/hall/init", {"confirm": "INITIALIZE"}, admin, 200),
            ("Basic operator", "POST", "/api/boards/dock", {"update": "Now"}, basic("operator", OPERATOR_PASSWORD), 200),
            ("Basic operator's point", "POST", "/api/boards/dock", {"point": {"2": True}}, basic("operator", OPERATOR_PASSWORD), 403),
            ("Basic admin", "POST", "/api/boards/dock", {"point": {"2": False}}, basic("admin", ADMIN_PASSWORD), 200),
            ("Basic with the other role's password", "GET", "/api/boards", None, basic("operator", ADMIN_PASSWORD), 401),
            ("bearer admin", "POST", "/api/groups/prices/init", {"confirm": "INITIALIZE"}, {"Authorization": "Bearer " + ADMIN_TOKEN}, 200),
            ("bearer operator", "POST", "/api/boards/hall", {"brightness": {"day": 1}}, {"Authorization": "Bearer " + OPERATOR_TOKEN}, 403),
            ("unknown bearer", "GET", "/api/boards", None, {"Authorization": "Bearer " + "x" * 24}, 401),
            ("CORS for the allowed origin", "GET", "/api/boards", None, {"Origin": ALLOWED_ORIGIN, **admin}, 200),
            ("POST from the allowed origin", "POST", "/api/boards/dock", {"update": "Now"}, {"Origin": ALLOWED_ORIGIN, **admin}, 200),
        ]
        for name, method, path, body, headers, status in cases:
            with self.subTest(name):
                answer = self.request(closed, method, path, body, headers, source=source)
                self.assertEqual(answer.status, status, answer.raw)
                if status == 200 and path == "/api/session":
                    self.assertEqual(answer.json, {"role": "operator", "name": "operator", "login": True,
                                                   "names": True})
                if headers.get("Origin") == ALLOWED_ORIGIN:
                    self.assertEqual(answer.headers["Access-Control-Allow-Origin"], ALLOWED_ORIGIN)
        preflight = self.request(closed, "OPTIONS", "/api/boards/hall", headers={"Origin": ALLOWED_ORIGIN})
        self.assertEqual(preflight.status, 204)
        self.assertIn("Authorization", preflight.headers["Access-Control-Allow-Headers"])
        no_cors = self.request(closed, "GET", "/api/boards", headers={"Origin": "http://other.example", **admin})
        self.assertIsNone(no_cors.headers.get("Access-Control-Allow-Origin"))
        logout = self.request(closed, "POST", "/api/logout", {}, admin)
        self.assertEqual(logout.status, 204)
        self.assertIn("Max-Age=0", logout.headers["Set-Cookie"])
        self.assertEqual(self.request(closed, "GET", "/api/boards", headers=admin).status, 401)
        session = self.request(self.open, "GET", "/api/session")
        self.assertEqual(session.json, {"role": "operator", "name": "operator", "login": False, "names": False})

    def test_five_wrong_passwords_make_an_address_wait(self):
        source = next(CLIENT_ADDRESSES)
        for attempt in range(5):
            wrong = self.request(self.closed, "POST", "/api/login", {"password": f"guess {attempt}"}, source=source)
            self.assertEqual((wrong.status, wrong.json["error"]), (401, "wrong password"))
        for password in ("guess 6", ADMIN_PASSWORD):
            waiting = self.request(self.closed, "POST", "/api/login", {"password": password}, source=source)
            self.assertEqual(waiting.status, 429, password)
            self.assertTrue(1 <= int(waiting.headers["Retry-After"]) <= 30)
        basic = "Basic " + base64.b64encode(f"admin:{ADMIN_PASSWORD}".encode()).decode()
        self.assertEqual(self.request(self.closed, "GET", "/api/boards", headers={"Authorization": basic},
                                      source=source).status, 429)
        other = self.request(self.closed, "POST", "/api/login", {"password": ADMIN_PASSWORD},
                             source=next(CLIENT_ADDRESSES))
        self.assertEqual(other.status, 200, "another address does not wait")

    def test_people_and_named_tokens_act_under_their_names(self):
        basic = lambda user, password: {"Authorization": "Basic " + base64.b64encode(
            f"{user}:{password}".encode()).decode()}
        source = next(CLIENT_ADDRESSES)
        self.assertEqual(self.request(self.closed, "GET", "/api/session", source=source).json,
                         {"error": "log in first", "names": True}, "the page is not told to ask for a name")
        login = self.request(self.closed, "POST", "/api/login", {"name": "alice", "password": ALICE_PASSWORD},
                             source=source)
        self.assertEqual((login.status, login.json), (200, {"role": "operator", "name": "alice"}), login.raw)
        callers = [
            # headers, role, name
            ({"Cookie": login.headers["Set-Cookie"].split(";")[0]}, "operator", "alice"),
            (basic("dana", DANA_PASSWORD), "admin", "dana"),
            ({"Authorization": "Bearer " + FEED_TOKEN}, "operator", "price-feed"),
            ({"Authorization": "Bearer " + OPERATOR_TOKEN}, "operator", "operator"),
            (basic("admin", ADMIN_PASSWORD), "admin", "admin"),
        ]
        admin = {"Authorization": "Bearer " + ADMIN_TOKEN}
        for headers, role, name in callers:
            with self.subTest(name):
                session = self.request(self.closed, "GET", "/api/session", headers=headers, source=source)
                self.assertEqual(session.json, {"role": role, "name": name, "login": True, "names": True})
                made = self.request(self.closed, "POST", "/api/schedules", {
                    "board": "dock", "at": later(days=300), "set": {"update": "Now"}}, headers, source=source)
                self.assertEqual((made.status, made.json["created_by"]), (201, name), made.raw)
                self.request(self.closed, "DELETE", f"/api/schedules/{made.json['id']}", headers=admin)
        for body in ({"name": "dana", "password": ALICE_PASSWORD}, {"name": "nobody", "password": ALICE_PASSWORD}):
            refused = self.request(self.closed, "POST", "/api/login", body, source=next(CLIENT_ADDRESSES))
            self.assertEqual((refused.status, refused.json["error"]), (401, "wrong name or password"), body)

    def test_the_record_says_who_changed_what_and_when_the_board_showed_it(self):
        basic = lambda user, password: {"Authorization": "Basic " + base64.b64encode(
            f"{user}:{password}".encode()).decode()}
        alice, dana = basic("alice", ALICE_PASSWORD), basic("dana", DANA_PASSWORD)
        feed = {"Authorization": "Bearer " + FEED_TOKEN}
        since = time.strftime("%Y-%m-%dT%H:%M:%SZ", time.gmtime())
        before = self.request(self.closed, "GET", "/api/boards/hall", headers=alice).json["lines"][0]["text"]
        values = [(alice, "alice", "1.11"), (dana, "dana", "2.22"), (feed, "price-feed", "3.33")]
        for headers, _, value in values:
            answer = self.request(self.closed, "POST", "/api/boards/hall", {"lines": {"1": value}}, headers)
            self.assertEqual(answer.status, 200, answer.raw)
        group = self.request(self.closed, "POST", "/api/groups/prices", {"lines": {"2": "8.25"}}, dana)
        self.assertEqual(group.status, 200, group.raw)
        query = "/api/record?" + urllib.parse.urlencode({"since": since})

        def recorded():
            entries = self.request(self.closed, "GET", query, headers=alice).json["entries"]
            ours = [e for e in entries if (e["board"], e["field"]) == ("hall", "lines.1") and
                    e["new"] in ("1.11", "2.22", "3.33")] + \
                   [e for e in entries if e["field"] == "lines.2" and "8.25" in e["request"]]
            return ours if len(ours) == 5 and all(e["applied_at"] for e in ours) else None
        entries = wait_for(recorded, 10, "the record of the changes, each shown")
        olds = [before, "1.11", "2.22"]
        for entry, (_, who, value), old in zip(entries, values, olds):
            self.assertEqual({k: entry[k] for k in ("old", "new", "who", "via", "request", "result")},
                             {"old": old, "new": value, "who": who, "via": "http", "result": "accepted",
                              "request": f'POST /api/boards/hall {{"lines":{{"1":"{value}"}}}}'})
            self.assertRegex(entry["applied_at"], r"^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ$")
            self.assertGreaterEqual(entry["applied_at"], entry["at"])
        # A group's change: each board's entry, the value as the line stores it.
        self.assertEqual(sorted((e["board"], e["new"], e["who"], e["request"]) for e in entries[3:]),
                         [(board, "8.2", "dana", 'POST /api/groups/prices {"lines":{"2":"8.25"}}')
                          for board in ("dock", "hall")])
        table = self.request(self.closed, "GET", query + "&format=csv", headers=alice)
        self.assertEqual((table.status, table.headers["Content-Type"], table.headers["Content-Disposition"]),
                         (200, "text/csv; charset=utf-8", 'attachment; filename="record.csv"'))
        rows = list(csv.reader(io.StringIO(table.raw.decode("utf-8"), newline="")))
        self.assertEqual(rows[0], ["seq", "at", "board", "field", "old", "new", "who", "via", "request",
                                   "applied_at", "result"])
        by_seq = {row[0]: row for row in rows[1:]}
        for entry in entries:
            self.assertEqual(by_seq[str(entry["seq"])], ["" if entry[c] is None else str(entry[c])
                                                         for c in rows[0]])
        cases = [
            # name, method, query, headers, status, field
            ("a day without a time", "GET", "since=2026-12-01", alice, 400, "since"),
            ("a limit of none", "GET", "limit=0", alice, 400, "limit"),
            ("a parameter not known", "GET", "board=hall&colour=red", alice, 400, "colour"),
            ("no such board", "GET", "board=nowhere", alice, 404, None),
            ("no login", "GET", "", {}, 401, None),
            ("no deleting", "DELETE", "", dana, 405, None),
        ]
        for name, method, query, headers, status, field in cases:
            with self.subTest(name):
                answer = self.request(self.closed, method, "/api/record?" + query, headers=headers)
                self.assertEqual(answer.status, status, answer.raw)
                self.assertEqual(answer.json.get("field"), field)

    def test_wrong_passwords_for_one_name_leave_the_others_alone(self):
        source = next(CLIENT_ADDRESSES)
        for attempt in range(5):
            wrong = self.request(self.closed, "POST", "/api/login", {"name": "alice", "password": f"guess {attempt}"},
                                 source=source)
            self.assertEqual((wrong.status, wrong.json["error"]), (401, "wrong name or password"))
        alice_basic = "Basic " + base64.b64encode(f"alice:{ALICE_PASSWORD}".encode()).decode()
        cases = [
            # name, body (a login) or headers (a read), status
            ("alice's own password waits", {"name": "alice", "password": ALICE_PASSWORD}, None, 429),
            ("alice by Basic waits too", None, {"Authorization": alice_basic}, 429),
            ("dana may log in", {"name": "dana", "password": DANA_PASSWORD}, None, 200),
            ("the operator's password file", {"password": OPERATOR_PASSWORD}, None, 200),
        ]
        for name, body, headers, status in cases:
            with self.subTest(name):
                if body is not None:
                    answer = self.request(self.closed, "POST", "/api/login", body, source=source)
                else:
                    answer = self.request(self.closed, "GET", "/api/boards", headers=headers, source=source)
                self.assertEqual(answer.status, status, answer.raw)

    # Live changes.

    def test_event_streams_see_every_change(self):
        connection = http.client.HTTPConnection("127.0.0.1", self.open.port, timeout=10)
        connection.request("GET", "/api/events")
        response = connection.getresponse()
        self.assertEqual((response.status, response.headers["Content-Type"]), (200, "text/event-stream"))
        self.answered.add(("/api/events", "get", 200))
        self.assertEqual(response.readline(), b"retry: 2000\n")
        self.request(self.open, "POST", "/api/boards/dock", {"lines": {"1": "5.5"}})
        events = {}
        while not {"state", "status"} <= events.keys():
            line = response.readline().decode()
            if line.startswith("event: "):
                name = line[7:].strip()
                data = response.readline().decode()
                self.assertTrue(data.startswith("data: "))
                events.setdefault(name, json.loads(data[6:]))
        self.assertEqual(events["state"]["name"], "dock")
        self.assertEqual(events["state"]["lines"][0]["text"], "5.50")
        self.assertEqual((events["status"]["board"], events["status"]["result"]), ("dock", "accepted"))
        made = self.request(self.open, "POST", "/api/schedules",
                            {"board": "dock", "at": later(days=2), "set": {"lines": {"1": "6"}}}).json
        while "schedules" not in events:
            line = response.readline().decode()
            if line == "event: schedules\n":
                events["schedules"] = json.loads(response.readline().decode()[6:])
        self.assertIn(made, events["schedules"]["schedules"])
        self.request(self.open, "DELETE", f"/api/schedules/{made['id']}")
        resolver = jsonschema.RefResolver.from_schema(self.document)
        for name, schema in (("state", "Board"), ("status", "Status"), ("schedules", "Schedules")):
            jsonschema.Draft202012Validator({"$ref": f"#/components/schemas/{schema}"},
                                            resolver=resolver).validate(events[name])
        connection.close()

    # Limits.

    def test_limits(self):
        big = self.request(self.open, "POST", "/api/boards/hall", raw_body=b"{" + b" " * 17000 + b"}",
                           headers={"Content-Type": "application/json"})
        self.assertEqual(big.status, 413)
        headers = self.request(self.open, "GET", "/api/boards", headers={"X-Filler": "x" * 9000})
        self.assertEqual(headers.status, 431)
        garbage = socket.create_connection(("127.0.0.1", self.open.port))
        garbage.sendall(b"\x16\x03\x01 not HTTP at all\r\n\r\n")
        self.assertIn(b" 400 ", garbage.recv(4096))
        garbage.close()
        # A client that sends half a request is cut off.
        slow = socket.create_connection(("127.0.0.1", self.open.port))
        slow.sendall(b"GET /api/boards HTTP/1.1\r\nHost: 127.0.0.1\r\n")
        slow.settimeout(20)
        try:
            self.assertEqual(slow.recv(4096), b"", "the slow client was not cut off")
        except ConnectionResetError:
            pass
        slow.close()

    def test_the_page_and_its_font_are_built_in(self):
        for path, content_type in (("/", "text/html; charset=utf-8"), ("/index.html", "text/html; charset=utf-8"),
                                   ("/dseg7.ttf", "font/ttf")):
            with self.subTest(path):
                answer = self.request(self.open, "GET", path)
                self.assertEqual((answer.status, answer.headers["Content-Type"]), (200, content_type))
                self.assertEqual(answer.headers["X-Content-Type-Options"], "nosniff")
                policy = answer.headers["Content-Security-Policy"]
                for directive in ("default-src 'self'", "frame-ancestors 'none'", "object-src 'none'"):
                    self.assertIn(directive, policy)
                self.assertNotIn("unsafe", policy)
        for path in ("/api/boards", "/api/nothing", "/api/openapi.json"):
            with self.subTest(path):
                self.assertEqual(self.request(self.open, "GET", path).headers["X-Content-Type-Options"],
                                 "nosniff")
        font = self.request(self.open, "GET", "/dseg7.ttf").raw
        self.assertEqual(font[:4], b"\x00\x01\x00\x00")

    # Starting.

    def test_starts_closed_by_default(self):
        folder = os.path.join(self.dir, "open")
        cases = [
            # name, extra arguments, http section, message part
            ("beyond loopback without passwords", ["--http", "0.0.0.0:1"], "", "both passwords"),
            ("beyond loopback with one password", ["--http", "0.0.0.0:1"], "admin-password-file=../closed/admin.pass\n", "both passwords"),
            ("a listen address that is a name", ["--http", "example.org:80"], "", "ADDRESS:PORT"),
            ("a password file without a hash", [], "admin-password-file=../closed/tokens\n", "--hash-password"),
            ("a password file every user may read", [], "admin-password-file=readable.pass\n", "read by every user"),
            ("tokens without passwords", [], "tokens-file=../closed/tokens\n", "needs the passwords"),
            ("a certificate without its key", ["--tls-cert", "hall.ini"], "", "tls-key"),
            ("an origin that is no origin", [], "allow-origin=rates.example\n", "allow-origin"),
            ("a users file that names one twice", [], "users-file=twice-users\n",
             "twice-users: line 3: alice is named twice (first on line 1)"),
            ("a users file every user may read", [], "users-file=readable-users\n", "read by every user"),
            ("a tokens file every user may read", [],
             "operator-password-file=../closed/operator.pass\n"
             "admin-password-file=../closed/admin.pass\ntokens-file=readable-tokens\n",
             "read by every user"),
        ]
        with open(os.path.join(self.dir, "closed", "users")) as f:
            people = f.read().splitlines()[1:]
        write_secret(os.path.join(folder, "twice-users"), f"{people[0]}\n\n{people[0]}\n")
        for source, copy in (("tokens", "readable-tokens"), ("admin.pass", "readable.pass"),
                             ("users", "readable-users")):
            shutil.copy(os.path.join(self.dir, "closed", source), os.path.join(folder, copy))
            os.chmod(os.path.join(folder, copy), 0o644)
        for name, extra, section, message in cases:
            with self.subTest(name):
                with open(os.path.join(folder, "refused.ini"), "w") as f:
                    f.write(f"[http]\nlisten=127.0.0.1:{free_port()}\n{section}[hall]\nsettings=hall.ini\n")
                run = subprocess.run([BRIDGE, "--boards", os.path.join(folder, "refused.ini"), *extra],
                                     capture_output=True, text=True, timeout=10)
                self.assertEqual(run.returncode, 2, run.stderr)
                self.assertIn(message, run.stderr)
                self.assertEqual(run.stderr.count("\n"), 1, run.stderr)

    def test_https_with_a_certificate(self):
        folder = os.path.join(self.dir, "tls")
        os.makedirs(folder, exist_ok=True)
        for name, address in (("hall", BOARD_A), ("dock", BOARD_B)):
            with open(os.path.join(folder, name + ".ini"), "w", newline="") as f:
                f.write(board_settings(address))
        subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2",
                        "-subj", "/CN=127.0.0.1", "-addext", "subjectAltName=IP:127.0.0.1",
                        "-keyout", os.path.join(folder, "key.pem"), "-out", os.path.join(folder, "cert.pem")],
                       check=True, capture_output=True)
        shutil.copy(os.path.join(self.dir, "closed", "admin.pass"), folder)
        bridge = Bridge(folder, "tls-cert=cert.pem\ntls-key=key.pem\nadmin-password-file=admin.pass\n")
        try:
            context = ssl.create_default_context(cafile=os.path.join(folder, "cert.pem"))
            connection = http.client.HTTPSConnection("127.0.0.1", bridge.port, context=context, timeout=10)
            connection.request("POST", "/api/login", body=json.dumps({"password": ADMIN_PASSWORD}),
                               headers={"Content-Type": "application/json"})
            response = connection.getresponse()
            self.assertEqual(response.status, 200)
            self.assertIn("; Secure", response.headers["Set-Cookie"])
            self.assertEqual(response.headers["Strict-Transport-Security"], "max-age=31536000")
            response.read()
            connection.request("GET", "/api/boards", headers={"Cookie": response.headers["Set-Cookie"].split(";")[0]})
            self.assertEqual(connection.getresponse().status, 200)
        finally:
            bridge.stop()

    def test_hash_password_lines(self):
        run = subprocess.run([BRIDGE, "--hash-password"], input="", capture_output=True, text=True)
        self.assertEqual(run.returncode, 2)
        lines = [subprocess.run([BRIDGE, "--hash-password"], input="same\n", capture_output=True,
                                text=True, check=True).stdout for _ in range(2)]
        for line in lines:
            self.assertRegex(line, r"^pbkdf2-sha256\$[0-9]+\$[A-Za-z0-9+/=]{24}\$[A-Za-z0-9+/=]{44}\n$")
        self.assertNotEqual(lines[0], lines[1], "each line has a salt of its own")

    def test_zz_every_operation_in_the_document_was_answered(self):
        # Named to run last: the other cases made the answers.
        seen = {(t, m) for t, m, _ in self.answered}
        for template, item in self.document["paths"].items():
            for method in item:
                if method != "parameters":
                    self.assertIn((template, method), seen, f"{method.upper()} {template} never answered")


def local_text(moment):
    """A moment as the service's local "YYYY-MM-DD HH:MM:SS" (this process
    and the bridge share the system's zone)."""
    return time.strftime("%Y-%m-%d %H:%M:%S", time.localtime(moment))


def later(days):
    return local_text(time.time() + days * 86400)


def wait_for(condition, seconds, what):
    """The first true value of `condition()` within `seconds`, or a failure."""
    end = time.monotonic() + seconds
    while not (value := condition()):
        if time.monotonic() > end:
            raise AssertionError(f"{what} did not come within {seconds} s")
        time.sleep(0.1)
    return value


def frame_with_line(sim, text, seconds):
    """When (time.time()) the board took a content frame whose line 1 shows
    `text` ("" for a blank line), within `seconds`; None if it did not."""
    end = time.monotonic() + seconds
    while True:
        frame = sim.next_frame(max(0.0, end - time.monotonic()))
        if frame is None:
            return None
        if frame.get("command") == "content" and frame["lines"][0]["text"].strip() == text:
            return time.time()


if __name__ == "__main__":
    BRIDGE, SIM = sys.argv[1], sys.argv[2]
    use(BRIDGE, SIM)
    unittest.main(argv=[sys.argv[0], *sys.argv[3:]], verbosity=2)
