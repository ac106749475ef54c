// A board's change record in the page: "History" beside a card's "Send"
// opens a panel of the board's last changes, newest first: when, what
// changed in words ("line 1", "brightness (day)"), the value before and
// after, who, and when the board showed it (or what else became of it).
// Read from GET /api/record; while the panel is open, the card reads it
// again whenever the event stream tells of the board (app.js).
import { api, h, showResult } from "/app.js";

// How many changes the panel lists.
const SHOWN = 20;

// A record's field in words: "line 1", "line 2 flicker", "brightness (day)".
export function fieldWords(field) {
  const [part, key] = field.split(".");
  switch (part) {
    case "lines":
      return `line ${key}`;
    case "flicker":
      return `line ${key} flicker`;
    case "point":
      return `line ${key} 9/10`;
    case "stale":
      return `line ${key} stale`;
    case "brightness":
      return `brightness (${key})`;
    case "update":
      return "update in";
    case "clock":
      return "proof time";
    case "init":
      return "initialize";
    default:
      return field;
  }
}

// A recorded value in words: flags on or off, an empty line "empty".
function valueWords(field, value) {
  if (field.startsWith("flicker.") || field.startsWith("point.")) return value === "1" ? "on" : "off";
  return value === "" ? "empty" : value;
}

// What changed: "line 1: 1.729 → 1.899"; the clock and the initialisation,
// which replace nothing, as what was sent.
function changeWords({ field, old: before, new: after }) {
  if (field === "init") return fieldWords(field);
  if (field === "clock") return `${fieldWords(field)}: ${after}`;
  return `${fieldWords(field)}: ${valueWords(field, before)} → ${valueWords(field, after)}`;
}

// "14:03" for a moment of today, "8 Dec 14:03" for one before, in the
// page's local time.
function whenWords(at) {
  const time = new Date(at);
  if (Number.isNaN(time.getTime())) return at ?? "";
  const clock = time.toLocaleTimeString([], { hour: "2-digit", minute: "2-digit", hourCycle: "h23" });
  if (time.toDateString() === new Date().toDateString()) return clock;
  return `${time.toLocaleDateString([], { day: "numeric", month: "short" })} ${clock}`;
}

// "14:03:07" in the page's local time.
function secondsWords(at) {
  return new Date(at).toLocaleTimeString([], { hour: "2-digit", minute: "2-digit", second: "2-digit",
    hourCycle: "h23" });
}

// Who asked, and through what unless the door is the page's own or names
// itself: "alice", "alice via schedule", "service via stale".
function whoWords({ who, via }) {
  const door = (via ?? "").split(":")[0];
  return door && door !== "http" && door !== who ? `${who} via ${door}` : who;
}

// What became of a change: "shown 14:03:07", "broadcast 14:03:07",
// "waiting" while nothing has, or the result ("superseded", "rejected").
function outcomeWords({ result, applied_at: applied }) {
  if (result === null || result === undefined) return ["waiting", "pending"];
  if (applied) return [`${result === "accepted" ? "shown" : result} ${secondsWords(applied)}`, "sent"];
  return [result, result === "superseded" ? "" : "failed"];
}

// "History" and its panel, for one board's card.
export class History {
  constructor(name, id) {
    this.name = name;
    this.button = h("button", { type: "button", "aria-label": `History ${name}`, "aria-expanded": "false",
      "aria-controls": `${id}-history` }, "History");
    this.button.addEventListener("click", () => this.toggle());
    this.said = h("p", { class: "said", role: "status" });
    this.list = h("ol", { class: "changes", "aria-label": `Changes of ${name}` });
    this.panel = h("div", { class: "history", id: `${id}-history`, hidden: true },
      h("h3", {}, "Last changes"), this.said, this.list);
    this.reading = false;
    this.again = false;
  }

  toggle(open = this.panel.hidden) {
    this.panel.hidden = !open;
    this.button.setAttribute("aria-expanded", String(open));
    if (open) this.read();
  }

  // The board changed (its state, an exchange's status): an open panel is
  // read again.
  changed() {
    if (!this.panel.hidden) this.read();
  }

  // One reading at a time; news during one reads once more after it.
  async read() {
    if (this.reading) {
      this.again = true;
      return;
    }
    this.reading = true;
    do {
      this.again = false;
      if (this.list.childElementCount === 0) showResult(this.said, "Reading…", "busy");
      const answer = await api("GET", `/api/record?board=${encodeURIComponent(this.name)}&limit=${SHOWN}`);
      if (!this.panel.hidden) this.draw(answer);
    } while (this.again && !this.panel.hidden);
    this.reading = false;
  }

  draw(answer) {
    if (answer.status !== 200) {
      showResult(this.said, `The history could not be read: ${answer.body?.error ??
        `the service answered ${answer.status}`}.`, "failed");
      return;
    }
    const entries = [...(answer.body?.entries ?? [])].reverse();
    showResult(this.said, entries.length ? "" : "No changes recorded yet.", "");
    this.list.replaceChildren(...entries.map((entry) => {
      const [outcome, kind] = outcomeWords(entry);
      // Two rows: when and what; who and what became of it.
      return h("li", {},
        h("span", { class: "change" }, h("span", { class: "when" }, whenWords(entry.at)), " ",
          changeWords(entry)), " ",
        h("span", { class: "by" }, whoWords(entry), " · ",
          h("span", { class: "outcome", "data-kind": kind || null }, outcome)));
    }));
  }
}
