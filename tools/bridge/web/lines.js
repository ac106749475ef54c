// The rules of a board's line editor, as the dialog applies them: which
// keystrokes a line takes, how its text is shown once the editor is left,
// and which values the board takes at all. A line's format is its digit
// count (3..8) and its places: "No" for a free point, "0".."4" for fixed
// decimals. Pure functions; the page and its tests import them.

const FREE_POINT = "No";

function isDigit(c) {
  return c >= "0" && c <= "9";
}

function placesValue(places) {
  return places === FREE_POINT ? 0 : Number.parseInt(places, 10) || 0;
}

// One keystroke in a line editor. `editor` is {text, start, end} (the
// selection; start == end is the caret), `key` one character or
// "Backspace". Returns {verdict, editor, rule}: "dropped" (the character
// never reaches the editor), "refused" (the editor keeps its text and
// selection) or "accepted" (the editor as it shows afterwards). `rule` names
// what a dropped or refused key broke: "characters" (a line holds digits
// and one point), "no point" (a line without decimals), "whole" (more
// digits before the point than the line has), "length" (more digits than
// the line has), "leading point" or "second point".
export function applyKey(editor, key, digits, places) {
  const freePoint = places === FREE_POINT;
  const pointAllowed = freePoint || placesValue(places) !== 0;
  const backspace = key === "Backspace";
  if (!(backspace || isDigit(key) || (key === "." && pointAllowed))) {
    return { verdict: "dropped", editor, rule: key === "." ? "no point" : "characters" };
  }
  let { text, start, end } = editor;
  if (backspace) {
    if (start !== end) {
      text = text.slice(0, start) + text.slice(end);
    } else if (start > 0) {
      text = text.slice(0, start - 1) + text.slice(start);
      start -= 1;
    }
  } else {
    text = text.slice(0, start) + key + text.slice(end);
    start += 1;
  }
  const after = { text, start, end: start };
  const refused = (rule) => ({ verdict: "refused", editor, rule });
  const n = text.length;
  const point = text.indexOf(".");
  const decimals = freePoint ? 0 : placesValue(places);
  if (!freePoint && point === -1 && n > digits - decimals) return refused(decimals > 0 ? "whole" : "length");
  if (n > (point >= 0 && point < digits ? digits + 1 : digits)) return refused("length");
  if (text.startsWith(".")) return refused("leading point");
  if (key === "." && editor.text.includes(".")) return refused("second point");
  return { verdict: "accepted", editor: after };
}

// A number written with `decimals` places as the display's formatting
// writes it: its 17 significant digits, rounded at the last kept place
// half away from zero (2.5 -> "3", 1.125 -> "1.13", 1.005 -> "1.00").
export function formatFixed(value, decimals) {
  if (!Number.isFinite(value) || value === 0) value = 0;
  const [mantissa, exponentText] = value.toExponential(16).split("e");
  const negative = mantissa.startsWith("-");
  const digits = mantissa.replace("-", "").replace(".", "");
  const exponent = Number.parseInt(exponentText, 10);
  // digits[i] has the place value 10^(exponent - i).
  const keep = exponent + decimals + 1;
  let kept = keep > 0 ? digits.slice(0, keep).padEnd(keep, "0") : "";
  let whole = exponent + 1;
  if (keep >= 0 && keep < digits.length && digits[keep] >= "5") {
    const carried = (BigInt(kept || "0") + 1n).toString().padStart(kept.length, "0");
    if (carried.length > kept.length) whole += 1;
    kept = carried;
  }
  if (keep < 0) {
    kept = "0".repeat(decimals + 1);
    whole = 1;
  } else if (whole <= 0) {
    kept = "0".repeat(1 - whole) + kept;
    whole = 1;
  }
  let body = kept.slice(0, whole);
  if (decimals > 0) body += "." + kept.slice(whole);
  return negative ? "-" + body : body;
}

// Values from 2^52 on have no decimals left to cut.
const WHOLE_NUMBERS_FROM = 2 ** 52;

// The text a line shows once its editor is left: a trailing point gets a
// "0"; a free-point line keeps its first `digits` characters; a
// fixed-point line is read as a number (none gives 0), cut to one decimal
// more than its places, rounded to its places and keeps its last digits + 1
// characters. Null when a fixed-point line is empty (nothing to show).
export function formatLine(text, digits, places) {
  if (text.endsWith(".")) text += "0";
  if (places === FREE_POINT) return text.slice(0, digits);
  if (text === "") return null;
  const decimals = placesValue(places);
  let value = Number.parseFloat(text);
  if (!Number.isFinite(value)) value = 0;
  const scale = 10 ** (decimals + 1);
  const cut = Math.abs(value) >= WHOLE_NUMBERS_FROM ? value : Math.trunc(value * scale) / scale;
  const formatted = formatFixed(cut, decimals);
  return formatted.slice(Math.max(0, formatted.length - (digits + 1)));
}

// True when the board takes a value for a line with this `pattern` (the
// digits and point the line's editor takes): empty, or a value that
// matches and whose shown text keeps every whole-number place (99.999 on
// a line of 4 digits with 2 places would show 00.00).
export function lineTakes(text, digits, places, pattern) {
  if (text === "") return true;
  if (!new RegExp(pattern).test(text)) return false;
  const shown = Number.parseFloat(formatLine(text, digits, places) ?? "");
  return Math.abs((Number.isFinite(shown) ? shown : 0) - Number.parseFloat(text)) < 1;
}

// The rule that refuses `text` typed key by key into an empty line (as
// applyKey names it), or null when the editor takes every key.
export function typedRefusal(text, digits, places) {
  let editor = { text: "", start: 0, end: 0 };
  for (const key of text) {
    const outcome = applyKey(editor, key, digits, places);
    if (outcome.verdict !== "accepted") return outcome.rule;
    editor = outcome.editor;
  }
  return null;
}
