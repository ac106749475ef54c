// The boards page: a card per board and per group, drawn from the service's
// JSON API, kept live by its event stream. Plain DOM, no framework: the
// page must work on a LAN without internet.
import { applyKey, formatLine, lineTakes, typedRefusal } from "/lines.js";
import { History } from "/history.js";
import { forgetLists, Later, showSchedules } from "/later.js";
import { AddCard, SetupCard } from "/setup.js";

const LINE_COUNT = 6;
// The "Update in" list as the dialog has it.
const UPDATE_TIMES = ["Now"];
for (let hour = 1; hour <= 24; ++hour) UPDATE_TIMES.push(`${String(hour % 24).padStart(2, "0")}:00`);
const LEVELS = ["0", "1", "2", "3", "4", "5", "6", "7"];
// The dialog's own words for a send the board took.
const SENT = "Sent successfully!";
// A send the service stored but whose exchanges outlasted their time-outs.
const PENDING = "Stored; the board has not answered yet. The change goes out when it answers.";

const page = {
  role: null,
  login: false,
  names: false, // the login asks for a name (the service has a users file)
  boards: new Map(), // name -> BoardCard
  groups: new Map(), // name -> GroupCard
  setup: new Map(), // name -> SetupCard (an admin's)
  events: null,
};

export const $ = (id) => document.getElementById(id);

// An element with attributes ("on..." adds a listener) and children.
export function h(tag, attributes = {}, ...children) {
  const element = document.createElement(tag);
  for (const [name, value] of Object.entries(attributes)) {
    if (value === undefined || value === null || value === false) continue;
    if (name.startsWith("on")) element.addEventListener(name.slice(2), value);
    else element.setAttribute(name, value === true ? "" : String(value));
  }
  element.append(...children.flat().filter((c) => c !== null && c !== undefined && c !== false));
  return element;
}

// A name usable in an element id.
export const idPart = (name) => name.replace(/[^A-Za-z0-9_-]/g, "_");

// One request to the service's API: {status, body}; status 0 when the
// service did not answer. A 401 outside the login means the session ended.
export async function api(method, path, body) {
  const request = { method, headers: {}, credentials: "same-origin" };
  if (body !== undefined) {
    request.headers["Content-Type"] = "application/json";
    request.body = JSON.stringify(body);
  }
  let response;
  try {
    response = await fetch(path, request);
  } catch {
    return { status: 0, body: { error: "the service did not answer" }, headers: new Headers() };
  }
  const text = await response.text();
  let data = null;
  try {
    data = text ? JSON.parse(text) : null;
  } catch {
    data = { error: text.trim() || response.statusText };
  }
  if (response.status === 401 && path !== "/api/login") {
    // The session's 401 says whether the login asks for a name.
    if (typeof data?.names === "boolean") page.names = data.names;
    showLogin();
  }
  return { status: response.status, body: data, headers: response.headers };
}

// --- what a result says ---------------------------------------------------

// What each command carries, as a result names it, and whether the words
// are plural ("the lines are", "the time is").
const CARRIES = {
  content: ["the lines", true],
  brightness: ["the brightness", false],
  clock: ["the time", false],
  init: ["the initialization", false],
};

export const capital = (text) => text.charAt(0).toUpperCase() + text.slice(1);

// "1", "1 and 3", "'-', 'e' and the space".
function listWords(items) {
  return items.length < 2 ? items.join("") : `${items.slice(0, -1).join(", ")} and ${items.at(-1)}`;
}

// " at 03:31" in the page's local time, or "" without a time.
function atTime(at) {
  const time = clockTime(at);
  return time ? ` at ${time}` : "";
}

// "03:31" in the page's local time; "" without a time.
function clockTime(at) {
  const time = at ? new Date(at) : null;
  if (!time || Number.isNaN(time.getTime())) return "";
  return time.toLocaleTimeString([], { hour: "2-digit", minute: "2-digit", hourCycle: "h23" });
}

// One exchange's result in plain words; `at` is " at 03:31" or "". The
// lines and the brightness a board did not take stay stored and go out
// again (the service retries them until the board takes them); the clock
// and the initialisation go out once.
function statusSentence(status, at = "") {
  const [what, plural] = CARRIES[status.command] ?? ["the command", false];
  const [are, were, go] = plural ? ["are", "were", "go"] : ["is", "was", "goes"];
  const retried = status.command === "content" || status.command === "brightness";
  const reason = status.detail ? ` (${status.detail})` : "";
  switch (status.result) {
    case "accepted":
      return `The board took ${what}${at}.`;
    case "broadcast sent":
      return `${capital(what)} went out${at} as a broadcast (bus address 0), which no board answers.`;
    case "rejected":
      return `The board did not take ${what}${at}; ${what} ${are} ` +
        (retried ? "stored and will be sent again." : "not sent again.");
    case "no answer":
      return `The board did not answer${at}; ${what} ${are} ` +
        (retried ? "stored and will be sent when it answers." : "not sent again.");
    case "link failed":
      return `The link to the board failed${at}${reason}; ${what} ${are} ` +
        (retried ? "stored and will be sent when the board answers." : "not sent again.");
    case "locked":
      return `${capital(what)} could not be stored${at}: another program holds the board's settings ` +
        "file. The service tries again.";
    case "not sent":
      return `${capital(what)} ${were} not sent${at}: the service was stopping. ${capital(what)} ${are} ` +
        `stored and ${go} out when it starts again.`;
    case "refused":
      return `A change was refused${at}${reason}; nothing was stored.`;
    default:
      return `${capital(what)}: ${status.result}${at}.`;
  }
}

// "sent" for a result the board took (or a broadcast that went out),
// "pending" for values stored that go out again, "failed" otherwise.
function statusKind(status) {
  if (status.result === "accepted" || status.result === "broadcast sent") return "sent";
  const retried = status.command === "content" || status.command === "brightness";
  return retried && status.result !== "rejected" ? "pending" : "failed";
}

// The one kind of several results: the worst of them.
function worstKind(kinds) {
  return ["failed", "refused", "pending"].find((kind) => kinds.includes(kind)) ?? "sent";
}

// The words and kind of the exchanges that carried a change: the dialog's
// "Sent successfully!" when the board took all of it, otherwise a sentence
// per exchange.
function statusesWords(statuses) {
  if (statuses.length === 0) return ["Stored.", "sent"];
  if (statuses.every((s) => s.result === "accepted")) return [SENT, "sent"];
  return [statuses.map((s) => statusSentence(s)).join(" "), worstKind(statuses.map(statusKind))];
}

// What an answer of the API means to the user: [text, kind].
export function answerWords(answer) {
  const error = answer.body?.error ?? "";
  switch (answer.status) {
    case 200:
      return statusesWords(answer.body?.statuses ?? []);
    case 202:
      return [PENDING, "pending"];
    case 0:
      return ["The service did not answer. Try again.", "failed"];
    case 401:
      return ["Not sent: please log in again.", "refused"];
    case 403:
      return [`Not allowed: ${error}`, "refused"];
    case 422:
      return [`Refused, nothing stored: ${error}`, "refused"];
    default:
      return [`Not sent: ${error || `the service answered ${answer.status}`}`, "refused"];
  }
}

export function showResult(element, text, kind) {
  element.textContent = text;
  element.dataset.kind = kind;
}

// --- line editors -----------------------------------------------------------

const plural = (count, word) => `${count} ${word}${count === 1 ? "" : "s"}`;

// A line's format in words: "4 digits, 2 after the point", "3 digits".
function formatWords({ digits, places }) {
  if (places === "No") return plural(digits, "digit");
  const decimals = Number.parseInt(places, 10) || 0;
  return `${plural(digits, "digit")}, ${decimals === 0 ? "no point" : `${decimals} after the point`}`;
}

// Why a line refused a key or a whole text (a rule as applyKey names it),
// for a format whose `subject` names the line ("this line" when absent).
function whyWords(rule, format, whole) {
  const subject = format.subject ?? "this line";
  switch (rule) {
    case "no point":
      return `${subject} shows whole numbers only`;
    case "whole":
      return whole ? `${subject} shows ${formatWords(format)}`
        : `${subject} shows ${plural(format.digits - Number(format.places), "digit")} before the point`;
    case "length":
      return `${subject} shows ${whole ? formatWords(format) : plural(format.digits, "digit")}`;
    case "leading point":
      return "a line starts with a digit, not a point";
    case "second point":
      return "a line holds one point";
    default:
      return "a line holds digits and one point";
  }
}

// A key or a text as the words name it: '3', the space, 12345.678, '-7e3 99'.
function shownAs(text) {
  if (text === " ") return "the space";
  const cut = text.length > 24 ? `${text.slice(0, 24)}…` : text;
  return /^[0-9.]{2,}$/.test(text) ? cut : `'${cut}'`;
}

function deletedWords({ text, start, end }) {
  const gone = start !== end ? text.slice(start, end) : text.slice(start - 1, start);
  return gone === "." ? "deleting the point" : `deleting ${shownAs(gone)}`;
}

// What a line's editor refused since the line was last started over or
// sent, said beside the line ("'3', '4' and '5' do not fit: this line shows
// 2 digits before the point."). While it `holds`, the card sends nothing
// until Send is pressed once more: the keys the line took make a value the
// operator did not type as a whole, and it never goes out unseen.
class Refusals {
  constructor() {
    this.said = new Map(); // the words of a reason -> {fits, why, whats}
    this.holds = false;
  }

  add({ what, rule, format, whole, deleting }) {
    const fits = (rule === "whole" || rule === "length") && !deleting;
    const why = whyWords(rule, format, whole);
    const reason = `${fits} ${why}`;
    if (!this.said.has(reason)) this.said.set(reason, { fits, why, whats: [] });
    const { whats } = this.said.get(reason);
    if (!whats.includes(what)) whats.push(what);
    this.holds = true;
  }

  clear() {
    this.said.clear();
    this.holds = false;
  }

  words() {
    return [...this.said.values()].map(({ fits, why, whats }) => {
      const many = whats.length > 1;
      const verb = fits ? (many ? "do not fit" : "does not fit") : (many ? "are not taken" : "is not taken");
      return capital(`${listWords(whats)} ${verb}: ${why}.`);
    }).join(" ");
  }
}

// A value the line cannot show at all, in words.
function misfitWords(text, format) {
  return `${capital(shownAs(text))} does not fit: ${format.subject ?? "this line"} shows ${formatWords(format)}.`;
}

// Why a card sends nothing yet: lines that refused what was typed.
function heldWords(numbers) {
  const one = numbers.length === 1;
  return `Not sent: ${one ? "line" : "lines"} ${listWords(numbers)} did not take everything typed ` +
    `(said beside ${one ? "it" : "them"}). Check, then press Send again.`;
}

// Makes `input` a line editor: it takes only the keystrokes every format of
// `formats()` takes (a group's line is every member's line), as the dialog's
// editor does. Typed keys and pastes go through the keystroke rule, a paste
// whole (all of it or nothing); other edits (delete, cut, an input method)
// must leave a text the editor would take typed. What is refused changes
// nothing and goes to `refused` ({what, rule, format, whole, deleting}) to
// be said; every change calls `edited()`. Typing over the whole text (or
// into an empty line) starts a new value: `started()` comes first, once,
// however many keys are refused before one is taken.
function keepLineRules(input, formats, { edited, refused, started }) {
  let before = null;
  let refusedAt = null; // the editor as the last refusal left it
  const same = (a, b) => a && b && a.text === b.text && a.start === b.start && a.end === b.end;
  input.addEventListener("beforeinput", (event) => {
    before = { text: input.value, start: input.selectionStart, end: input.selectionEnd };
    const overEverything = before.start === 0 && before.end === before.text.length;
    let keys;
    let whole = "";
    if (event.inputType === "deleteContentBackward") {
      keys = ["Backspace"];
    } else if (event.inputType === "insertText" || event.inputType === "insertFromPaste") {
      const text = event.data ?? event.dataTransfer?.getData("text/plain") ?? "";
      // Keyboards of some languages have a comma where the point is; a
      // copied value often brings spaces or a line break around it.
      keys = [...(text === "," ? "." : text.length > 1 ? text.trim() : text)];
      if (keys.length > 1) whole = keys.join("");
    } else {
      return;
    }
    event.preventDefault();
    if (overEverything && !same(before, refusedAt)) started();
    let editor = before;
    for (const key of keys) {
      let outcome = null;
      for (const format of formats()) {
        outcome = applyKey(editor, key, format.digits, format.places);
        if (outcome.verdict !== "accepted") {
          const what = whole ? shownAs(whole) : key === "Backspace" ? deletedWords(before) : shownAs(key);
          refusedAt = before;
          refused({ what, rule: outcome.rule, format, whole: Boolean(whole), deleting: key === "Backspace" });
          return;
        }
      }
      if (!outcome) return;
      editor = outcome.editor;
    }
    if (editor.text === input.value) return;
    refusedAt = null;
    input.value = editor.text;
    input.setSelectionRange(editor.start, editor.end);
    edited();
  });
  input.addEventListener("input", () => {
    const text = input.value;
    const refusing = before && formats().map((format) => ({ format, rule: typedRefusal(text, format.digits,
      format.places) })).find(({ rule }) => rule);
    if (refusing) {
      input.value = before.text;
      input.setSelectionRange(before.start, before.end);
      refusedAt = before;
      refused({ what: shownAs(text), rule: refusing.rule, format: refusing.format, whole: true });
    } else {
      refusedAt = null;
      edited();
    }
    before = null;
  });
}

// Enter moves to the next line of the same card (after line 6, line 1),
// with its whole text selected, as in the dialog; lines that are off are
// passed over.
function enterMovesOn(inputs) {
  inputs.forEach((input, index) => {
    input.addEventListener("keydown", (event) => {
      if (event.key !== "Enter" || event.isComposing) return;
      event.preventDefault();
      for (let step = 1; step < inputs.length; ++step) {
        const next = inputs[(index + step) % inputs.length];
        if (next.disabled || next.closest("[hidden]")) continue;
        next.focus();
        next.select();
        return;
      }
    });
  });
}

// The options of a list: values, or [value, words] pairs.
export function options(values, chosen) {
  return values.map((item) => {
    const [value, words] = Array.isArray(item) ? item : [item, item];
    return h("option", { value, selected: value === chosen }, words);
  });
}

function setSelect(select, value) {
  if (select.value !== value) select.value = value;
}

// A label: its visible words, then what only screen readers and tests read
// ("Update in" + " hall").
export function label(forId, visible, hidden) {
  return h("label", { for: forId }, visible, h("span", { class: "sr" }, hidden));
}

// A line's bounds beside its caption: " (1.00 to 9.50)", " (at least 1)",
// " (at most 9.5)", or "" for a line without.
function boundsWords({ min, max }) {
  if (min !== undefined && max !== undefined) return ` (${min} to ${max})`;
  if (min !== undefined) return ` (at least ${min})`;
  return max !== undefined ? ` (at most ${max})` : "";
}

// --- a board's card -----------------------------------------------------------

class BoardCard {
  constructor(board) {
    this.name = board.name;
    this.board = board;
    this.edits = new Map(); // field ("lines.1", "flicker.2", "update", "day") -> value
    const id = `b-${idPart(board.name)}`;
    const admin = page.role === "admin";

    this.availability = h("span", { class: "availability" });
    this.last = h("p", { class: "last" });
    this.lines = [];
    const rows = [];
    for (let n = 1; n <= LINE_COUNT; ++n) {
      const line = { number: n, refusals: new Refusals(), problem: "" };
      const lineId = `${id}-l${n}`;
      line.caption = h("span", { class: "caption", id: `${lineId}-caption` });
      line.input = h("input", {
        id: lineId,
        type: "text",
        inputmode: "decimal",
        enterkeyhint: "next",
        autocomplete: "off",
        spellcheck: "false",
        "aria-label": `${board.name} line ${n}`,
        "aria-describedby": `${lineId}-caption ${lineId}-note`,
      });
      line.ghost = h("span", { class: "ghost", "aria-hidden": "true" });
      line.tenth = h("span", { class: "tenth", "aria-hidden": "true" });
      line.display = h("div", { class: "display" }, line.ghost, line.tenth, line.input);
      line.note = h("span", { class: "note", id: `${lineId}-note`, "aria-live": "polite" });
      const flags = [];
      if (admin) {
        line.flicker = h("input", { type: "checkbox", id: `${lineId}-flicker`,
          "aria-label": `Flicker ${board.name} line ${n}` });
        line.point = h("input", { type: "checkbox", id: `${lineId}-point`,
          "aria-label": `9/10 ${board.name} line ${n}` });
        line.flicker.addEventListener("change", () => this.edit(`flicker.${n}`, line.flicker.checked,
          this.line(n).flicker));
        line.point.addEventListener("change", () => this.edit(`point.${n}`, line.point.checked,
          this.line(n).point));
        flags.push(h("span", { class: "flags" },
          h("label", { class: "flag" }, line.flicker, "Flicker"),
          h("label", { class: "flag" }, line.point, "9/10")));
      }
      keepLineRules(line.input, () => [this.format(n)], {
        edited: () => this.lineEdited(n),
        refused: (refusal) => {
          line.refusals.add(refusal);
          this.describe(n);
        },
        started: () => line.refusals.clear(),
      });
      line.input.addEventListener("blur", () => this.lineLeft(n));
      line.row = h("li", { class: "line" }, line.caption, h("div", { class: "row" }, line.display, flags),
        line.note);
      this.lines.push(line);
      rows.push(line.row);
    }
    enterMovesOn(this.lines.map((l) => l.input));

    this.update = h("select", { id: `${id}-update` }, options(UPDATE_TIMES, board.update));
    this.update.addEventListener("change", () => this.edit("update", this.update.value, this.board.update));
    const settings = [h("span", { class: "setting" }, label(`${id}-update`, "Update in", ` ${board.name}`),
      this.update)];
    if (admin) {
      for (const [key, word] of [["day", "Day"], ["night", "Night"]]) {
        const select = h("select", { id: `${id}-${key}` }, options(LEVELS, ""));
        select.addEventListener("change", () => this.edit(key, select.value, this.brightness(key)));
        this[key] = select;
        settings.push(h("span", { class: "setting" },
          label(`${id}-${key}`, `${word} brightness`, ` ${board.name}`), select));
      }
    }

    this.send = h("button", { type: "button", class: "primary", "aria-label": `Send ${board.name}` }, "Send");
    this.send.addEventListener("click", () => this.sendChanges());
    this.later = new Later("board", board.name, id, this);
    this.history = new History(board.name, id);
    const actions = [this.send, this.later.button, this.history.button];
    if (admin) {
      const clock = h("button", { type: "button", "aria-label": `Proof time ${board.name}` }, "Proof time");
      clock.addEventListener("click", () => this.command(`/api/boards/${encodeURIComponent(this.name)}/clock`, {}));
      const init = h("button", { type: "button", class: "danger", "aria-label": `Initialize ${board.name}` },
        "Initialize");
      init.addEventListener("click", () => confirmInitialize(this.name, () =>
        this.command(`/api/boards/${encodeURIComponent(this.name)}/init`, { confirm: "INITIALIZE" })));
      actions.push(clock, init);
    }
    this.result = h("p", { class: "result", role: "status", id: `${id}-result` });

    this.element = h("article", { class: "card board", "aria-labelledby": `${id}-name` },
      h("header", {}, h("h2", { id: `${id}-name` }, board.name), this.availability),
      this.groupsLine = h("p", { class: "groups" }),
      h("ol", { class: "lines" }, rows),
      this.off = h("p", { class: "off" }),
      h("div", { class: "settings" }, settings),
      h("div", { class: "actions" }, actions), this.later.panel,
      this.result, this.last, this.later.list, this.history.panel);
    this.show(board);
  }

  line(n) {
    return this.board.lines[n - 1];
  }

  format(n) {
    const { digits, places, pattern } = this.line(n);
    return { digits, places, pattern };
  }

  brightness(key) {
    return String(this.board.brightness?.[key] ?? "");
  }

  // Remembers a change the user made, or forgets it when it is back to
  // what is stored.
  edit(field, value, stored) {
    if (value === stored) this.edits.delete(field);
    else this.edits.set(field, value);
    this.markChanges();
    const line = /\.(\d)$/.exec(field);
    if (line) this.describe(Number(line[1]));
  }

  markChanges() {
    for (const line of this.lines) {
      const changed = ["lines", "flicker", "point"].some((f) => this.edits.has(`${f}.${line.number}`));
      line.row.classList.toggle("changed", changed);
    }
    this.send.classList.toggle("pending", this.edits.size > 0);
  }

  lineEdited(n) {
    const line = this.lines[n - 1];
    line.problem = "";
    this.edit(`lines.${n}`, line.input.value, this.line(n).text);
  }

  // Leaving a line shows its text as the board will show it; a value the
  // board would not take stays as typed, marked, and says why.
  lineLeft(n) {
    const line = this.lines[n - 1];
    const { digits, places, pattern } = this.line(n);
    const typed = line.input.value;
    if (!lineTakes(typed, digits, places, pattern)) {
      this.markRefused(n);
      return;
    }
    const shown = formatLine(typed, digits, places);
    if (shown !== null && shown !== typed) {
      line.input.value = shown;
      this.lineEdited(n);
    }
  }

  // A value the line cannot show: marked, and the line says what it shows
  // (after a send, the card's result says why in the service's words).
  markRefused(n) {
    const line = this.lines[n - 1];
    line.problem = misfitWords(line.input.value, this.format(n));
    this.describe(n);
  }

  // The words beside line n: what it cannot show or refused, else whether
  // it waits to be sent or for the board.
  describe(n) {
    const line = this.lines[n - 1];
    const stored = this.line(n);
    line.row.classList.toggle("refused", line.problem !== "");
    if (line.problem) line.input.setAttribute("aria-invalid", "true");
    else line.input.removeAttribute("aria-invalid");
    const refused = line.refusals.words();
    line.row.classList.toggle("told", refused !== "");
    let note = [line.problem, refused].filter(Boolean).join(" ");
    if (!note && line.row.classList.contains("changed")) note = "changed, not sent yet";
    // A guarded line with no new value for too long: the board shows it
    // blank or flickering until a fresh value comes; said in words, not
    // only by its colour (and what the board shows then is no news).
    if (!note && !stored.stale && stored.shown !== stored.text) {
      note = `the board shows ${stored.shown || "nothing"} yet`;
    }
    line.row.classList.toggle("stale", Boolean(stored.stale));
    if (stored.stale) {
      const since = clockTime(stored.stale_since);
      note = [`stale${since ? ` since ${since}` : ""}: no new value came`, note].filter(Boolean).join(" · ");
    }
    line.note.textContent = note;
  }

  // Draws the board as the service last told it; what the user is editing
  // stays as the user left it.
  show(board) {
    this.board = board;
    this.availability.textContent = board.availability;
    this.availability.dataset.state = board.availability;
    this.groupsLine.textContent = board.groups.length ? `Groups: ${board.groups.join(", ")}` : "";
    board.lines.forEach((stored, index) => {
      const n = index + 1;
      const line = this.lines[index];
      line.caption.textContent = (stored.caption || `Line ${n}`) + boundsWords(stored);
      line.display.style.setProperty("--digits", stored.digits);
      line.ghost.textContent = "8.".repeat(stored.digits);
      line.tenth.textContent = stored.point ? "!".repeat(stored.digits - 1) + "!." : "";
      // A line that is off is not sent, and its editor is off as in the dialog.
      line.row.hidden = !stored.chosen;
      line.input.disabled = !stored.chosen;
      line.row.classList.toggle("flicker", stored.flicker);
      if (!this.edits.has(`lines.${n}`)) line.input.value = stored.text;
      else if (line.input.value === stored.text) this.edits.delete(`lines.${n}`);
      if (line.flicker && !this.edits.has(`flicker.${n}`)) line.flicker.checked = stored.flicker;
      if (line.point && !this.edits.has(`point.${n}`)) line.point.checked = stored.point;
    });
    this.markChanges();
    this.lines.forEach((line) => this.describe(line.number));
    const off = board.lines.filter((l) => !l.chosen).map((l) => l.number);
    this.off.textContent = off.length === 0 ? "" :
      `${off.length === 1 ? "Line" : "Lines"} ${off.join(", ")} ${off.length === 1 ? "is" : "are"} off (not sent).`;
    if (!this.edits.has("update")) setSelect(this.update, board.update);
    for (const key of ["day", "night"]) {
      if (this[key] && !this.edits.has(key)) setSelect(this[key], this.brightness(key));
    }
    if (board.status) this.showLast(board.status);
  }

  showAvailability(availability) {
    this.board = { ...this.board, availability };
    this.availability.textContent = availability;
    this.availability.dataset.state = availability;
  }

  showLast(status) {
    this.last.textContent = statusSentence(status, atTime(status.at));
  }

  // The request body of the changes made: the lines, flags, "Update in"
  // and brightness that differ from what is stored. With nothing changed,
  // "Update in" alone, which sends the board its lines again.
  body() {
    const body = {};
    for (const [field, value] of this.edits) {
      const [part, key] = field.split(".");
      if (key) (body[part] ??= {})[key] = value;
      else if (part === "day" || part === "night") (body.brightness ??= {})[part] = Number(value);
      else body[part] = value;
    }
    if (Object.keys(body).length === 0) body.update = this.update.value;
    return body;
  }

  // What "Send" posts, or null when a line holds refused keys (the card
  // says so; pressed again, it goes).
  changeToSend() {
    const held = this.lines.filter((line) => line.refusals.holds && !line.input.disabled);
    if (held.length > 0) {
      for (const line of held) line.refusals.holds = false;
      showResult(this.result, heldWords(held.map((line) => line.number)), "refused");
      return null;
    }
    return this.body();
  }

  async sendChanges() {
    // A line being edited is left first, as the dialog's send button takes the focus.
    this.send.focus();
    const body = this.changeToSend();
    if (body) await this.run(`/api/boards/${encodeURIComponent(this.name)}`, body, true);
  }

  // The change went into a schedule: the card shows what is stored again.
  scheduled() {
    this.edits.clear();
    for (const line of this.lines) {
      line.refusals.clear();
      line.problem = "";
    }
    this.show(this.board);
  }

  refusedLine(n) {
    this.markRefused(n);
  }

  async command(path, body) {
    await this.run(path, body, false);
  }

  async run(path, body, changes) {
    this.send.disabled = true;
    showResult(this.result, "Sending…", "busy");
    const answer = await api("POST", path, body);
    this.send.disabled = false;
    const [text, kind] = answerWords(answer);
    showResult(this.result, text, kind);
    const field = answer.body?.field ?? "";
    const refusedLine = /^lines\.(\d)$/.exec(field);
    if (refusedLine) this.markRefused(Number(refusedLine[1]));
    if (answer.body?.board) {
      if (changes && (answer.status === 200 || answer.status === 202)) {
        this.edits.clear();
        for (const line of this.lines) line.refusals.clear();
      }
      this.show(answer.body.board);
    }
  }
}

// --- a group's card -------------------------------------------------------------

// The same change for every board of a group: the lines typed (an empty
// line is left as it is), "Update in", and for an admin the brightness,
// the clock and the initialisation.
class GroupCard {
  constructor(name) {
    this.name = name;
    const id = `g-${idPart(name)}`;
    const admin = page.role === "admin";
    this.lines = [];
    const rows = [];
    for (let n = 1; n <= LINE_COUNT; ++n) {
      const line = { number: n, refusals: new Refusals(), problem: "" };
      line.input = h("input", {
        id: `${id}-l${n}`, type: "text", inputmode: "decimal", enterkeyhint: "next", autocomplete: "off",
        spellcheck: "false", placeholder: "unchanged", "aria-label": `${name} line ${n}`,
        "aria-describedby": `${id}-l${n}-note`,
      });
      line.note = h("span", { class: "note", id: `${id}-l${n}-note`, "aria-live": "polite" });
      keepLineRules(line.input, () => this.formats(n), {
        edited: () => {
          line.problem = "";
          this.describe(n);
        },
        refused: (refusal) => {
          line.refusals.add(refusal);
          this.describe(n);
        },
        started: () => line.refusals.clear(),
      });
      line.input.addEventListener("blur", () => this.check(n));
      this.lines.push(line);
      rows.push(h("li", {}, h("span", { class: "number", "aria-hidden": "true" }, String(n)), line.input,
        line.note));
    }
    this.inputs = this.lines.map((line) => line.input);
    enterMovesOn(this.inputs);
    const keep = "unchanged";
    this.update = h("select", { id: `${id}-update` }, options([keep, ...UPDATE_TIMES], keep));
    const settings = [h("span", { class: "setting" }, label(`${id}-update`, "Update in", ` ${name}`), this.update)];
    if (admin) {
      for (const [key, word] of [["day", "Day"], ["night", "Night"]]) {
        this[key] = h("select", { id: `${id}-${key}` }, options([keep, ...LEVELS], keep));
        settings.push(h("span", { class: "setting" }, label(`${id}-${key}`, `${word} brightness`, ` ${name}`),
          this[key]));
      }
    }
    this.send = h("button", { type: "button", class: "primary", "aria-label": `Send ${name}` }, "Send");
    this.send.addEventListener("click", () => this.sendChanges());
    this.later = new Later("group", name, id, this);
    const actions = [this.send, this.later.button];
    if (admin) {
      const clock = h("button", { type: "button", "aria-label": `Proof time ${name}` }, "Proof time");
      clock.addEventListener("click", () => this.run("/clock", {}));
      const init = h("button", { type: "button", class: "danger", "aria-label": `Initialize ${name}` },
        "Initialize");
      init.addEventListener("click", () => confirmInitialize(`every board of ${name}`, () =>
        this.run("/init", { confirm: "INITIALIZE" })));
      actions.push(clock, init);
    }
    this.members = h("p", { class: "groups" });
    this.result = h("p", { class: "result", role: "status" });
    this.element = h("article", { class: "card group", "aria-labelledby": `${id}-name` },
      h("header", {}, h("h3", { id: `${id}-name` }, name)), this.members,
      h("ol", { class: "group-lines" }, rows),
      h("div", { class: "settings" }, settings),
      h("div", { class: "actions" }, actions), this.later.panel, this.result, this.later.list);
    this.refresh();
  }

  memberCards() {
    return [...page.boards.values()].filter((card) => card.board.groups.includes(this.name));
  }

  // The formats of line n on the boards that send it, each with the words
  // naming it ("this line" while they are all alike, "line 1 of yard").
  formats(n) {
    const formats = this.memberCards().filter((card) => card.line(n).chosen)
      .map((card) => ({ ...card.format(n), board: card.name }));
    const alike = formats.every((f) => f.digits === formats[0].digits && f.places === formats[0].places);
    return formats.map((f) => ({ ...f, subject: alike ? "this line" : `line ${n} of ${f.board}` }));
  }

  refresh() {
    const members = this.memberCards();
    this.members.textContent = `Boards: ${members.map((c) => c.name).join(", ")}`;
    this.inputs.forEach((input, index) => {
      const used = members.some((card) => card.line(index + 1).chosen);
      input.closest("li").hidden = !used;
      input.disabled = !used;
    });
  }

  // Leaving a line: a value one of the boards cannot show is marked and
  // says which and why.
  check(n) {
    const line = this.lines[n - 1];
    const misfit = this.formats(n).find((f) => !lineTakes(line.input.value, f.digits, f.places, f.pattern));
    line.problem = misfit ? misfitWords(line.input.value, misfit) : "";
    this.describe(n);
  }

  describe(n) {
    const line = this.lines[n - 1];
    if (line.problem) line.input.setAttribute("aria-invalid", "true");
    else line.input.removeAttribute("aria-invalid");
    line.note.textContent = [line.problem, line.refusals.words()].filter(Boolean).join(" ");
    line.input.closest("li").classList.toggle("said", line.note.textContent !== "");
  }

  body() {
    const body = {};
    this.inputs.forEach((input, index) => {
      if (input.value !== "") (body.lines ??= {})[String(index + 1)] = input.value;
    });
    if (this.update.value !== "unchanged") body.update = this.update.value;
    for (const key of ["day", "night"]) {
      if (this[key] && this[key].value !== "unchanged") (body.brightness ??= {})[key] = Number(this[key].value);
    }
    return body;
  }

  // What "Send" posts, or null when a line holds refused keys.
  changeToSend() {
    const held = this.lines.filter((line) => line.refusals.holds && !line.input.disabled);
    if (held.length > 0) {
      for (const line of held) line.refusals.holds = false;
      showResult(this.result, heldWords(held.map((line) => line.number)), "refused");
      return null;
    }
    return this.body();
  }

  async sendChanges() {
    const body = this.changeToSend();
    if (body) await this.run("", body);
  }

  // The change went into a schedule: the lines start over.
  scheduled() {
    this.clearLines();
  }

  refusedLine(n) {
    this.inputs[n - 1].setAttribute("aria-invalid", "true");
  }

  clearLines() {
    for (const line of this.lines) {
      line.input.value = "";
      line.refusals.clear();
      line.problem = "";
      this.describe(line.number);
    }
  }

  async run(path, body) {
    this.send.disabled = true;
    showResult(this.result, "Sending…", "busy");
    const answer = await api("POST", `/api/groups/${encodeURIComponent(this.name)}${path}`, body);
    this.send.disabled = false;
    if (answer.status !== 200 && answer.status !== 202) {
      showResult(this.result, ...answerWords(answer));
      const refusedLine = /\.lines\.(\d)$/.exec(answer.body?.field ?? "");
      if (refusedLine) this.inputs[Number(refusedLine[1]) - 1].setAttribute("aria-invalid", "true");
      return;
    }
    // One result per board: a board still going when the answer came is
    // stored and goes on.
    const words = (answer.body?.results ?? []).map((r) =>
      [r.board, ...(r.pending ? [PENDING, "pending"] : statusesWords(r.statuses ?? []))]);
    showResult(this.result, words.map(([board, text]) => `${board}: ${text}`).join(" · "),
      worstKind(words.map(([, , kind]) => kind)));
    if (path === "") this.clearLines();
  }
}

// --- the initialisation's confirmation ----------------------------------------

function confirmInitialize(what, go) {
  const dialog = $("confirm-init");
  const word = $("confirm-init-word");
  $("confirm-init-text").textContent =
    `This sends the initialise command to the control card of ${what}.`;
  word.value = "";
  $("confirm-init-go").disabled = true;
  dialog.onclose = () => {
    if (dialog.returnValue === "go" && word.value === "INITIALIZE") go();
  };
  dialog.returnValue = "";
  dialog.showModal();
  word.focus();
}

$("confirm-init-word").addEventListener("input", (event) => {
  $("confirm-init-go").disabled = event.target.value !== "INITIALIZE";
});

// --- the page -------------------------------------------------------------------

function showLogin() {
  page.events?.close();
  page.events = null;
  page.role = null;
  $("boards").replaceChildren();
  $("group-cards").replaceChildren();
  $("setup-cards").replaceChildren();
  page.boards.clear();
  page.groups.clear();
  page.setup.clear();
  forgetLists();
  $("groups").hidden = true;
  $("setup").hidden = true;
  $("role").textContent = "";
  $("logout").hidden = true;
  $("live").hidden = true;
  $("login").hidden = false;
  for (const element of document.querySelectorAll("#name, label[for=name]")) element.hidden = !page.names;
  (page.names ? $("name") : $("password")).focus();
}

function setLive(live) {
  $("live").hidden = false;
  $("live").textContent = live ? "live" : "reconnecting…";
  $("live").dataset.live = live;
}

async function loadBoards() {
  const answer = await api("GET", "/api/boards");
  if (answer.status !== 200) {
    if (answer.status !== 401) showResult($("page-result"), answerWords(answer)[0], "failed");
    return;
  }
  showResult($("page-result"), "", "");
  const boards = answer.body.boards;
  const same = boards.length === page.boards.size && boards.every((b) => page.boards.has(b.name));
  if (same) {
    for (const board of boards) page.boards.get(board.name).show(board);
    syncGroups();
    await loadSchedules();
    return;
  }
  page.boards.clear();
  page.groups.clear();
  page.setup.clear();
  forgetLists();
  $("boards").replaceChildren();
  $("group-cards").replaceChildren();
  $("setup-cards").replaceChildren();
  const admin = page.role === "admin";
  $("setup").hidden = !admin;
  if (admin) $("setup-cards").append(new AddCard().element);
  for (const board of boards) addBoard(board);
  await loadSchedules();
}

// What is scheduled, for every card's list (then kept by the event stream).
async function loadSchedules() {
  const answer = await api("GET", "/api/schedules");
  if (answer.status === 200) showSchedules(answer.body.schedules);
}

// Groups as the boards name them: a card for each new one, none for a
// group no board is in any more.
function syncGroups() {
  const named = new Set([...page.boards.values()].flatMap((card) => card.board.groups));
  for (const [name, card] of page.groups) {
    if (named.has(name)) continue;
    card.element.remove();
    card.later.forget();
    page.groups.delete(name);
  }
  for (const name of named) {
    if (page.groups.has(name)) continue;
    const card = new GroupCard(name);
    page.groups.set(name, card);
    $("group-cards").append(card.element);
  }
  for (const card of page.groups.values()) card.refresh();
  $("groups").hidden = page.groups.size === 0;
}

// A board the service serves (at the start, or added by an admin): its
// card, for an admin its set-up card (before the one adding boards).
export function addBoard(board) {
  if (page.boards.has(board.name)) {
    page.boards.get(board.name).show(board);
  } else {
    const card = new BoardCard(board);
    page.boards.set(board.name, card);
    $("boards").append(card.element);
    if (page.role === "admin") {
      const setup = new SetupCard(board.name);
      page.setup.set(board.name, setup);
      $("setup-cards").lastElementChild.before(setup.element);
    }
  }
  syncGroups();
}

// A board an admin removed leaves the page.
function removeBoard(name) {
  page.boards.get(name)?.element.remove();
  page.boards.get(name)?.later.forget();
  page.boards.delete(name);
  page.setup.get(name)?.element.remove();
  page.setup.delete(name);
  syncGroups();
}

function openEvents() {
  page.events?.close();
  const events = new EventSource("/api/events");
  let dropped = false;
  page.events = events;
  events.addEventListener("open", () => {
    setLive(true);
    // Changes made while the stream was down are read at once.
    if (dropped) loadBoards();
    dropped = false;
  });
  events.addEventListener("error", () => {
    dropped = true;
    setLive(false);
    if (events.readyState === EventSource.CLOSED && page.events === events) {
      setTimeout(() => page.events === events && start(), 3000);
    }
  });
  events.addEventListener("state", (event) => {
    const board = JSON.parse(event.data);
    page.boards.get(board.name)?.show(board);
    page.boards.get(board.name)?.history.changed();
    syncGroups();
  });
  events.addEventListener("added", (event) => addBoard(JSON.parse(event.data)));
  events.addEventListener("schedules", (event) => showSchedules(JSON.parse(event.data).schedules));
  events.addEventListener("removed", (event) => removeBoard(JSON.parse(event.data).board));
  events.addEventListener("status", (event) => {
    const status = JSON.parse(event.data);
    page.boards.get(status.board)?.showLast(status);
    // What ended a change is on record before its status is told.
    page.boards.get(status.board)?.history.changed();
  });
  events.addEventListener("availability", (event) => {
    const { board, availability } = JSON.parse(event.data);
    page.boards.get(board)?.showAvailability(availability);
  });
}

// Who is logged in, as the bar says it: the person with their role, or the
// role alone when it logged in with its own password.
function whoText({ role, name, login }) {
  if (!login) return `${role} (no passwords)`;
  return name === role ? role : `${name} (${role})`;
}

// Shows the boards for a session; after a login the focus goes to the first
// line editor, as it leaves the login form for the boards.
async function enter({ role, name, login }, loggedIn = false) {
  page.role = role;
  page.login = login;
  $("login").hidden = true;
  $("role").textContent = whoText({ role, name, login });
  $("logout").hidden = !login;
  openEvents();
  await loadBoards();
  if (loggedIn) {
    const first = document.querySelector("#boards .display input:not(:disabled)");
    first?.focus();
    first?.select();
  }
}

async function start() {
  const session = await api("GET", "/api/session");
  if (session.status === 200) {
    page.names = session.body.names;
    enter(session.body);
  } else if (session.status !== 401) showResult($("page-result"), answerWords(session)[0], "failed");
}

$("login").addEventListener("submit", async (event) => {
  event.preventDefault();
  const password = $("password");
  const name = page.names ? $("name").value.trim() : "";
  const body = name ? { name, password: password.value } : { password: password.value };
  const answer = await api("POST", "/api/login", body);
  password.value = "";
  if (answer.status === 200) {
    showResult($("login-result"), "", "");
    enter({ ...answer.body, login: true }, true);
  } else if (answer.status === 429) {
    const wait = answer.headers.get("Retry-After");
    showResult($("login-result"), `Too many wrong passwords: try again${wait ? ` in ${wait} s` : " later"}.`,
      "refused");
  } else {
    const wrong = name ? "Wrong name or password." : "Wrong password.";
    showResult($("login-result"), answer.status === 401 ? wrong : answerWords(answer)[0], "refused");
  }
});

$("logout").addEventListener("click", async () => {
  await api("POST", "/api/logout", {});
  showLogin();
});

start();
