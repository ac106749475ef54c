#!/usr/bin/env python3
"""Every relative link in README.md and docs/*.md leads somewhere.

A link to a file needs the file (or folder); a link with '#anchor' needs a
heading in the target Markdown file whose GitHub anchor is that anchor.
Links to the web (http:, https:, mailto:) are not followed.

    tst_doc_links.py TREE     exits 0 when every link resolves; otherwise
                              lists each broken one as FILE:LINE: LINK: WHY
                              and exits 1
"""

import re
import sys
import unicodedata
from pathlib import Path
from urllib.parse import unquote

FENCE = re.compile(r"^\s*(```|~~~)")
HEADING = re.compile(r"^ {0,3}(#{1,6})\s+(.*?)\s*#*\s*$")
# [text](target "title") and ![alt](target), the target up to a blank or ')'.
INLINE_LINK = re.compile(r"!?\[[^\]]*\]\(\s*<?([^)\s>]+)>?(?:\s+\"[^\"]*\")?\s*\)")
REFERENCE_LINK = re.compile(r"^ {0,3}\[[^\]]+\]:[ \t]*<?(\S+?)>?(?:\s|$)", re.MULTILINE)
HTML_LINK = re.compile(r"<(?:a|img)\b[^>]*?\b(?:href|src)=\"([^\"]+)\"", re.IGNORECASE)
INLINE_CODE = re.compile(r"(`+).*?\1")
EXTERNAL = re.compile(r"^[a-zA-Z][a-zA-Z0-9+.-]*:")


def github_anchor(heading):
    """The anchor GitHub gives a heading: its text as shown, lower case,
    punctuation dropped, each space a '-'."""
    text = re.sub(r"!?\[([^\]]*)\]\([^)]*\)", r"\1", heading)  # a link shows its text
    text = re.sub(r"<[^>]+>", "", text)  # so does inline HTML
    text = text.lower()
    kept = []
    for char in text:
        category = unicodedata.category(char)
        if char in " -_" or category[0] in "LN" or category == "Mn":
            kept.append(char)
    return "".join(kept).replace(" ", "-")


def outside_code(lines):
    """(line number, text) for each line outside fenced code blocks."""
    fenced = False
    for number, line in enumerate(lines, 1):
        if FENCE.match(line):
            fenced = not fenced
            continue
        if not fenced:
            yield number, line


def anchors_of(path, cache={}):
    if path not in cache:
        seen = {}
        anchors = set()
        for _, line in outside_code(path.read_text(encoding="utf-8").splitlines()):
            match = HEADING.match(line)
            if not match:
                continue
            anchor = github_anchor(match.group(2))
            # A repeated heading gets -1, -2, ... as on GitHub.
            count = seen.get(anchor, 0)
            seen[anchor] = count + 1
            anchors.add(anchor if count == 0 else f"{anchor}-{count}")
        cache[path] = anchors
    return cache[path]


def links_of(lines):
    """(line number, target) of every link outside code; a link's text may
    run over several lines."""
    kept = [""] * len(lines)
    for number, line in outside_code(lines):
        kept[number - 1] = line
    text = INLINE_CODE.sub(lambda code: re.sub(r"[^\n]", " ", code.group(0)), "\n".join(kept))
    for pattern in (REFERENCE_LINK, INLINE_LINK, HTML_LINK):
        for match in pattern.finditer(text):
            yield text.count("\n", 0, match.start()) + 1, match.group(1)


def broken_links(tree):
    pages = [tree / "README.md"] + sorted((tree / "docs").glob("*.md"))
    for page in pages:
        for number, link in links_of(page.read_text(encoding="utf-8").splitlines()):
            if EXTERNAL.match(link):
                continue
            target_text, _, anchor = link.partition("#")
            target = page if not target_text else (page.parent / unquote(target_text))
            where = f"{page.relative_to(tree)}:{number}: {link}"
            if not target.exists():
                yield f"{where}: no such file {target_text}"
                continue
            if not anchor:
                continue
            if target.suffix != ".md" or not target.is_file():
                yield f"{where}: an anchor into {target_text}, which is no Markdown page"
            elif unquote(anchor) not in anchors_of(target.resolve()):
                yield f"{where}: no heading with the anchor '{anchor}' in {target.name}"


def main():
    if len(sys.argv) != 2:
        print(__doc__.strip(), file=sys.stderr)
        return 2
    tree = Path(sys.argv[1])
    broken = list(broken_links(tree))
    for line in broken:
        print(line)
    if broken:
        print(f"FAIL: {len(broken)} broken link(s)")
        return 1
    print("PASS: every relative link and anchor resolves")
    return 0


if __name__ == "__main__":
    sys.exit(main())
