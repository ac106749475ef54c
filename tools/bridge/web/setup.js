// An admin's set-up of the boards, as the dialog's password panel has it:
// per board its controller address, bus address, link, serial port and
// baud, groups, and per line its caption, whether it is sent, its digit
// count and decimal places; boards added and removed. What the service
// refuses is said beside the field it names. Cards of boards added or
// removed come and go with the event stream (app.js), on every open page.
import { $, answerWords, api, capital, h, idPart, label, options, showResult } from "/app.js";

const LINE_COUNT = 6;
const PLACES = ["No", "0", "1", "2", "3", "4"];
const LINKS = [["udp", "UDP"], ["serial", "Serial"]];
const BAUDS = ["9600", "57600"];
const SETTINGS_KEYS = ["address", "bus", "link", "port", "baud", "groups"];

// What a board added with nothing else said gets: the dialog's defaults, as
// the service makes its settings file (every line sent, 3 digits, no
// point), with no address yet.
const DEFAULTS = {
  address: "",
  bus: 1,
  link: "udp",
  port: "",
  baud: 9600,
  groups: [],
  lines: Object.fromEntries(Array.from({ length: LINE_COUNT }, (_, i) =>
    [String(i + 1), { caption: "", chosen: true, digits: 3, places: "No" }])),
};

// A count as typed: a number when it is one, else the text itself, which
// the service refuses in its own words.
const count = (text) => (/^\d+$/.test(text.trim()) ? Number(text) : text);

// The parts of `now` (Settings) that differ from `before`, or null.
function changes(now, before) {
  const body = {};
  for (const key of SETTINGS_KEYS) {
    if (JSON.stringify(now[key]) !== JSON.stringify(before[key])) body[key] = now[key];
  }
  for (const [n, line] of Object.entries(now.lines)) {
    for (const [key, value] of Object.entries(line)) {
      if (value !== before.lines[n]?.[key]) ((body.lines ??= {})[n] ??= {})[key] = value;
    }
  }
  return Object.keys(body).length > 0 ? body : null;
}

// A refusal in plain words: [text, kind].
function refusedWords(answer) {
  const error = answer.body?.error;
  if (!error || [0, 401, 403].includes(answer.status)) return answerWords(answer);
  return [`Refused, nothing changed: ${error}.`, "refused"];
}

const textInput = (attributes = {}) =>
  h("input", { type: "text", autocomplete: "off", spellcheck: "false", ...attributes });

// The set-up fields of one board; `id` starts the element ids, `who` ends
// each control's name ("Address hall", "Digits hall line 1"). Each field is
// kept under the API's name for it ("address", "lines.2.digits") with the
// note that says what the service refused in it.
class SettingsForm {
  constructor(id, who, named) {
    this.id = id;
    this.fields = new Map();
    const top = [];
    const field = (path, words, control) => {
      const note = h("span", { class: "note", id: `${id}-${path}-note`, "aria-live": "polite" });
      top.push(h("div", { class: "field" }, this.labelled(path, words, ` ${who}`, control, note), note));
    };
    if (named) field("name", "Name", textInput({ maxlength: 64 }));
    field("address", "Address", textInput({ inputmode: "decimal", placeholder: "192.168.1.50" }));
    field("bus", "Bus address", textInput({ inputmode: "numeric" }));
    field("link", "Link", h("select", {}, options(LINKS)));
    field("port", "Serial port", textInput({ placeholder: "/dev/ttyUSB0" }));
    field("baud", "Baud", h("select", {}, options(BAUDS)));
    field("groups", "Groups", textInput({ placeholder: "prices, night" }));
    const lines = [];
    for (let n = 1; n <= LINE_COUNT; ++n) {
      const at = `lines.${n}`;
      const suffix = ` ${who} line ${n}`;
      const note = h("span", { class: "note", id: `${id}-l${n}-note`, "aria-live": "polite" });
      const sent = h("input", { type: "checkbox", id: `${id}-l${n}-chosen`, "aria-label": `Sent${suffix}`,
        "aria-describedby": note.id });
      this.fields.set(`${at}.chosen`, { control: sent, note });
      lines.push(h("fieldset", { class: "line-setup" }, h("legend", {}, `Line ${n}`),
        h("span", { class: "part caption" },
          this.labelled(`${at}.caption`, "Caption", suffix, textInput({ maxlength: 29 }), note)),
        h("label", { class: "flag" }, sent, "Sent"),
        h("span", { class: "part digits" },
          this.labelled(`${at}.digits`, "Digits", suffix, textInput({ inputmode: "numeric", maxlength: 2 }), note)),
        h("span", { class: "part" },
          this.labelled(`${at}.places`, "Places", suffix, h("select", {}, options(PLACES)), note)),
        note));
    }
    this.element = h("div", {}, h("div", { class: "setup-fields" }, top), lines);
  }

  // Names `control` for `path` and returns its label and itself.
  labelled(path, words, hidden, control, note) {
    control.id = `${this.id}-${path.replaceAll(".", "-")}`;
    control.setAttribute("aria-describedby", note.id);
    this.fields.set(path, { control, note });
    return [label(control.id, words, hidden), control];
  }

  control(path) {
    return this.fields.get(path).control;
  }

  // The settings as the form holds them.
  read() {
    const value = (path) => this.control(path).value;
    const settings = {
      address: value("address").trim(),
      bus: count(value("bus")),
      link: value("link"),
      port: value("port").trim(),
      baud: Number(value("baud")),
      groups: value("groups").split(/[\s,]+/).filter(Boolean),
      lines: {},
    };
    for (let n = 1; n <= LINE_COUNT; ++n) {
      settings.lines[n] = {
        caption: value(`lines.${n}.caption`),
        chosen: this.control(`lines.${n}.chosen`).checked,
        digits: count(value(`lines.${n}.digits`)),
        places: value(`lines.${n}.places`),
      };
    }
    return settings;
  }

  fill(settings) {
    for (const key of SETTINGS_KEYS) {
      this.control(key).value = key === "groups" ? settings.groups.join(", ") : String(settings[key]);
    }
    for (const [n, line] of Object.entries(settings.lines)) {
      this.control(`lines.${n}.caption`).value = line.caption;
      this.control(`lines.${n}.chosen`).checked = line.chosen;
      this.control(`lines.${n}.digits`).value = String(line.digits);
      this.control(`lines.${n}.places`).value = line.places;
    }
  }

  // Says `error` beside the field the service named (a new board's
  // "settings.lines.2.digits" is its "lines.2.digits") and puts the focus
  // there; without a field, clears what was said.
  say(field, error) {
    for (const { control, note } of this.fields.values()) {
      control.removeAttribute("aria-invalid");
      note.textContent = "";
    }
    const named = this.fields.get((field ?? "").replace(/^settings\./, ""));
    if (!named || !error) return;
    named.note.textContent = `${capital(error)}.`;
    named.control.setAttribute("aria-invalid", "true");
    named.control.focus();
  }
}

// A card whose set-up fields open under its title with the Settings button.
class SetupPanel {
  constructor(id, title, who, named) {
    this.form = new SettingsForm(id, who, named);
    this.toggle = h("button", { type: "button", "aria-expanded": "false", "aria-controls": `${id}-panel`,
      "aria-label": `Settings ${who}` }, "Settings");
    this.toggle.addEventListener("click", () => this.openOrClose());
    this.actions = h("div", { class: "actions" });
    this.result = h("p", { class: "result", role: "status", id: `${id}-result` });
    this.panel = h("div", { id: `${id}-panel`, hidden: true }, this.form.element, this.actions, this.result);
    this.element = h("article", { class: "card", "aria-labelledby": `${id}-title` },
      h("header", {}, h("h3", { id: `${id}-title` }, title), this.toggle), this.panel);
  }

  openOrClose() {
    const opening = this.panel.hidden;
    this.panel.hidden = !opening;
    this.toggle.setAttribute("aria-expanded", String(opening));
    if (opening) this.opened();
  }
}

// A board's set-up: read when opened, saved with what changed, removed
// after a second press.
export class SetupCard extends SetupPanel {
  constructor(name) {
    const id = `s-${idPart(name)}`;
    super(id, name, name, false);
    this.name = name;
    this.stored = null;
    this.armed = false;
    this.save = h("button", { type: "button", class: "primary", "aria-label": `Save ${name}` }, "Save");
    this.save.addEventListener("click", () => this.saveChanges());
    this.remove = h("button", { type: "button", class: "danger", "aria-label": `Remove ${name}` }, "Remove");
    this.remove.addEventListener("click", () => this.removeBoard());
    this.remove.addEventListener("blur", () => this.disarm());
    this.actions.append(this.save, this.remove);
  }

  path() {
    return `/api/boards/${encodeURIComponent(this.name)}`;
  }

  // Opened, the fields show what the service holds now.
  async opened() {
    this.save.disabled = true;
    showResult(this.result, "Reading the settings…", "busy");
    const answer = await api("GET", `${this.path()}/settings`);
    if (answer.status !== 200) {
      showResult(this.result, ...refusedWords(answer));
      return;
    }
    this.show(answer.body);
    showResult(this.result, "", "");
  }

  show(settings) {
    this.stored = settings;
    this.form.fill(settings);
    this.save.disabled = false;
  }

  async saveChanges() {
    this.disarm();
    this.form.say(null);
    const body = changes(this.form.read(), this.stored);
    if (!body) {
      showResult(this.result, "Nothing changed.", "sent");
      return;
    }
    this.save.disabled = true;
    showResult(this.result, "Saving…", "busy");
    const answer = await api("POST", `${this.path()}/settings`, body);
    this.save.disabled = false;
    if (answer.status === 200) {
      this.show(answer.body);
      showResult(this.result, "Saved. The board is sent its lines in the new settings.", "sent");
    } else {
      showResult(this.result, ...refusedWords(answer));
      this.form.say(answer.body?.field, answer.body?.error);
    }
  }

  async removeBoard() {
    if (!this.armed) {
      this.armed = true;
      this.remove.textContent = "Press again to remove";
      showResult(this.result, `Press it again to take ${this.name} out of the service; its settings ` +
        "file stays on disk.", "pending");
      return;
    }
    this.disarm();
    this.remove.disabled = true;
    showResult(this.result, "Removing…", "busy");
    const answer = await api("DELETE", this.path());
    this.remove.disabled = false;
    if (answer.status !== 204) {
      showResult(this.result, ...refusedWords(answer));
      return;
    }
    // The card leaves with the service's event; the focus waits above the cards.
    showResult($("setup-result"), `${this.name} was removed; its settings file stays on disk.`, "sent");
    $("setup-title").focus();
  }

  disarm() {
    if (!this.armed) return;
    this.armed = false;
    this.remove.textContent = "Remove";
    showResult(this.result, "", "");
  }
}

// A new board: its name and settings, the defaults filled in.
export class AddCard extends SetupPanel {
  constructor() {
    super("add", "Add a board", "new board", true);
    this.add = h("button", { type: "button", class: "primary", "aria-label": "Add board" }, "Add board");
    this.add.addEventListener("click", () => this.addBoard());
    this.actions.append(this.add);
    this.form.fill(DEFAULTS);
  }

  opened() {
    this.form.control("name").focus();
  }

  async addBoard() {
    this.form.say(null);
    const name = this.form.control("name").value.trim();
    const settings = changes(this.form.read(), DEFAULTS);
    this.add.disabled = true;
    showResult(this.result, "Adding…", "busy");
    const answer = await api("POST", "/api/boards", settings ? { name, settings } : { name });
    this.add.disabled = false;
    if (answer.status !== 201) {
      showResult(this.result, ...refusedWords(answer));
      this.form.say(answer.body?.field, answer.body?.error);
      return;
    }
    // Its cards come with the service's event, on this page as on every other.
    showResult(this.result, `${name} was added: its card is with the boards, its set-up above.`, "sent");
    this.form.control("name").value = "";
    this.form.fill(DEFAULTS);
  }
}
