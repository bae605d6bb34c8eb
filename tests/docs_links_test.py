#!/usr/bin/python3
"""docs_links_test.py SOURCE_DIR: every relative link of the Markdown pages
(README.md, docs/**/*.md and the README.md of each folder) leads to a file or
folder of the tree, and a link's #anchor to a heading of the page it names,
so that moving a page or renaming a heading cannot leave a link behind.
Links to other sites (http:, https:, mailto:) are not followed."""
import glob
import os
import re
import sys

LINK = re.compile(r"\[[^\]]*\]\(([^)\s]+)\)")
FENCE = re.compile(r"^```.*?^```", re.M | re.S)
CODE = re.compile(r"`[^`\n]*`")


def anchor(heading):
    """The anchor a heading gets on the project's web pages: lower case, the
    punctuation dropped, blanks turned into hyphens."""
    text = re.sub(r"[^\w\- ]", "", heading.strip().lower())
    return text.replace(" ", "-")


def anchors(path):
    found = set()
    for heading in re.findall(r"^#+\s+(.*)$", FENCE.sub("", open(path, encoding="utf-8").read()),
                              re.M):
        name = anchor(heading)
        number = 0
        while (name if number == 0 else "%s-%d" % (name, number)) in found:
            number += 1
        found.add(name if number == 0 else "%s-%d" % (name, number))
    return found


def pages(root):
    found = {os.path.join(root, "README.md")}
    found.update(glob.glob(os.path.join(root, "docs", "**", "*.md"), recursive=True))
    found.update(glob.glob(os.path.join(root, "*", "README.md")))
    return sorted(p for p in found if os.path.isfile(p))


def broken_links(root):
    broken = []
    for page in pages(root):
        text = CODE.sub("", FENCE.sub("", open(page, encoding="utf-8").read()))
        for target in LINK.findall(text):
            if re.match(r"[a-z]+:", target):
                continue
            path, _, fragment = target.partition("#")
            resolved = os.path.normpath(os.path.join(os.path.dirname(page), path)) if path else page
            where = "%s: (%s)" % (os.path.relpath(page, root), target)
            if not os.path.exists(resolved):
                broken.append(where + " names no file")
            elif fragment and (not resolved.endswith(".md") or fragment not in anchors(resolved)):
                broken.append(where + " names no heading of " + os.path.relpath(resolved, root))
    return broken


def main(root):
    checked = pages(root)
    if len(checked) < 10:
        print("only %d pages found: the pattern no longer matches" % len(checked))
        return 1
    broken = broken_links(root)
    for entry in broken:
        print(entry)
    return 1 if broken else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1]))
