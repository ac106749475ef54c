// Changes on time in the page: "Later…" beside a card's "Send" asks for a
// date and time with the browser's own picker and schedules the change the
// Send button would post; under the card, what is scheduled for its board
// or group (when, what, note, who), each with "Cancel". The list is the
// service's, kept live by the event stream (app.js).
import { answerWords, api, h, label, showResult } from "/app.js";

// The service's schedules as it last told them ({"schedules": [...]}).
const known = { schedules: [] };
// The cards that list them: board and group cards alike.
const lists = new Set();

// Takes the whole list (GET /api/schedules, event: schedules) and redraws
// every card's.
export function showSchedules(schedules) {
  known.schedules = schedules;
  for (const list of lists) list.draw();
}

// The service's local "YYYY-MM-DD HH:MM:SS" of a datetime-local value
// ("2026-12-24T12:00" or with seconds), or null for an empty or partial one.
export function atText(value) {
  const found = /^(\d{4}-\d{2}-\d{2})T(\d{2}:\d{2})(:\d{2})?/.exec(value);
  return found ? `${found[1]} ${found[2]}${found[3] ?? ":00"}` : null;
}

// "YYYY-MM-DDTHH:MM" for the picker, `minutes` from now in the browser's time.
function pickerValue(minutes) {
  const at = new Date(Date.now() + minutes * 60000);
  const two = (n) => String(n).padStart(2, "0");
  return `${at.getFullYear()}-${two(at.getMonth() + 1)}-${two(at.getDate())}T` +
    `${two(at.getHours())}:${two(at.getMinutes())}`;
}

// When a schedule runs, in words: "2026-12-24 12:00", "every day at 06:00",
// "mon, fri at 06:00".
function whenWords(schedule) {
  if (schedule.at) return schedule.at.endsWith(":00") ? schedule.at.slice(0, 16) : schedule.at;
  const days = schedule.days ?? [];
  const every = days.length === 0 || days.length === 7 ? "every day" : days.join(", ");
  return `${every} at ${schedule.daily}`;
}

// What a schedule changes, in words: "line 1 1.799, update in 14:00".
function whatWords(schedule) {
  if (schedule.clock) return "proof time (the service's clock)";
  const set = schedule.set ?? {};
  const parts = [];
  for (const [n, text] of Object.entries(set.lines ?? {})) parts.push(`line ${n} ${text === "" ? "cleared" : text}`);
  for (const [flag, word] of [["flicker", "flicker"], ["point", "9/10"]]) {
    for (const [n, on] of Object.entries(set[flag] ?? {})) parts.push(`line ${n} ${word} ${on ? "on" : "off"}`);
  }
  if (set.update) parts.push(`update in ${set.update}`);
  for (const key of ["day", "night"]) {
    if (set.brightness?.[key] !== undefined) parts.push(`${key} brightness ${set.brightness[key]}`);
  }
  return parts.join(", ") || "nothing";
}

// "Later…" and what is scheduled, for one card. `kind` is "board" or
// "group"; `card` gives the change its Send would post (`changeToSend()`:
// the body, or null when the card says why not) and is told of a schedule
// made (`scheduled()`) or a refused line (`refusedLine(n)`).
export class Later {
  constructor(kind, name, id, card) {
    this.kind = kind;
    this.name = name;
    this.card = card;
    this.button = h("button", { type: "button", "aria-label": `Later ${name}`, "aria-expanded": "false",
      "aria-controls": `${id}-later` }, "Later…");
    this.button.addEventListener("click", () => this.toggle());
    this.at = h("input", { type: "datetime-local", id: `${id}-at`, required: true });
    this.note = h("input", { type: "text", id: `${id}-note-text`, maxlength: 200, autocomplete: "off",
      placeholder: "optional" });
    this.go = h("button", { type: "button", class: "primary", "aria-label": `Schedule ${name}` }, "Schedule");
    this.go.addEventListener("click", () => this.schedule());
    for (const input of [this.at, this.note]) {
      input.addEventListener("keydown", (event) => {
        if (event.key === "Enter") {
          event.preventDefault();
          this.schedule();
        }
      });
    }
    this.panel = h("div", { class: "later", id: `${id}-later`, hidden: true },
      h("span", { class: "field" }, label(`${id}-at`, "When", ` ${name}`), this.at),
      h("span", { class: "field" }, label(`${id}-note-text`, "Note", ` ${name}`), this.note),
      this.go);
    this.list = h("ul", { class: "schedules", "aria-label": `Scheduled for ${name}` });
    lists.add(this);
    this.draw();
  }

  // The card left the page.
  forget() {
    lists.delete(this);
  }

  toggle(open = this.panel.hidden) {
    this.panel.hidden = !open;
    this.button.setAttribute("aria-expanded", String(open));
    if (!open) return;
    if (!this.at.value) this.at.value = pickerValue(60);
    this.at.min = pickerValue(0);
    this.at.focus();
    // The browser's own date and time picker, where it has one.
    try {
      this.at.showPicker?.();
    } catch {
      // Not from this gesture, or no picker: the field takes typing.
    }
  }

  async schedule() {
    const at = atText(this.at.value);
    if (!at) {
      showResult(this.card.result, "Choose a date and time first.", "refused");
      this.at.focus();
      return;
    }
    const set = this.card.changeToSend();
    if (!set) return;
    const body = { [this.kind]: this.name, at, set };
    if (this.note.value.trim()) body.note = this.note.value.trim();
    this.go.disabled = true;
    showResult(this.card.result, "Scheduling…", "busy");
    const answer = await api("POST", "/api/schedules", body);
    this.go.disabled = false;
    if (answer.status !== 201) {
      const [text, kind] = answerWords(answer);
      showResult(this.card.result, text.replace("Refused, nothing stored", "Not scheduled"), kind);
      const line = /(?:^|\.)lines\.(\d)$/.exec(answer.body?.field ?? "");
      if (line) this.card.refusedLine(Number(line[1]));
      return;
    }
    showResult(this.card.result, `Scheduled for ${whenWords(answer.body)}.`, "sent");
    this.note.value = "";
    this.toggle(false);
    this.card.scheduled();
    // The event stream brings the list too; this card shows it at once.
    showSchedules([...known.schedules.filter((s) => s.id !== answer.body.id), answer.body]);
  }

  async cancel(schedule, button) {
    button.disabled = true;
    const answer = await api("DELETE", `/api/schedules/${encodeURIComponent(schedule.id)}`);
    if (answer.status === 204 || answer.status === 404) {
      showResult(this.card.result, `Cancelled: ${whenWords(schedule)}.`, "sent");
      showSchedules(known.schedules.filter((s) => s.id !== schedule.id));
      return;
    }
    button.disabled = false;
    const [text, kind] = answerWords(answer);
    showResult(this.card.result, text, kind);
  }

  draw() {
    const mine = known.schedules.filter((s) => s[this.kind] === this.name);
    this.list.replaceChildren(...mine.map((schedule) => {
      const when = whenWords(schedule);
      const cancel = h("button", { type: "button", "aria-label": `Cancel ${this.name} ${when}` }, "Cancel");
      cancel.addEventListener("click", () => this.cancel(schedule, cancel));
      return h("li", {},
        h("span", { class: "words" },
          h("span", { class: "when" }, when), " ",
          h("span", { class: "what" }, whatWords(schedule)),
          schedule.note ? h("span", { class: "said" }, ` · ${schedule.note}`) : null,
          h("span", { class: "who" }, ` · by ${schedule.created_by}`)),
        cancel);
    }));
    this.list.hidden = mine.length === 0;
  }
}

// Every card left the page (a logout, the boards read afresh).
export function forgetLists() {
  lists.clear();
}
