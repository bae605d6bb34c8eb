#!/usr/bin/python3
"""docs_diagnostics_test.py SOURCE_DIR: every diagnostic the driver's code
names as a pair of SQLSTATE and text ({"28000", "Logon failed..."} in a
DiagText or a table) must be in docs/troubleshooting.md, on a line that holds
the SQLSTATE in backquotes and the text in double quotes ("(empty text)" for
an empty one), so that the page a user searches cannot fall behind the code.
A %s in a text stands for any word on the page (a name filled in)."""
import glob
import os
import re
import sys

LITERAL = r'"(?:[^"\\]|\\.)*"'
PAIR = re.compile(r"\{\s*(%s|k\w+)\s*,\s*((?:%s\s*)+|k\w+)\s*\}" % (LITERAL, LITERAL))
CONSTANT = re.compile(r"\b(k\w+)(?:\[\])?\s*=\s*((?:%s\s*)+);" % LITERAL)


def text_of(literals):
    parts = re.findall(LITERAL, literals)
    return "".join(bytes(p[1:-1], "utf-8").decode("unicode_escape") for p in parts)


def main(root):
    sources = [open(path, encoding="utf-8").read()
               for path in glob.glob(os.path.join(root, "driver", "**", "*.[ch]*"), recursive=True)]
    constants = {}
    for source in sources:
        for name, literals in CONSTANT.findall(source):
            constants[name] = text_of(literals)
    pairs = set()
    for source in sources:
        for state, text in PAIR.findall(source):
            state = constants.get(state) if state.startswith("k") else text_of(state)
            text = constants.get(text) if text.startswith("k") else text_of(text)
            if state is None or text is None or not re.fullmatch(r"[0-9A-Z]{5}", state):
                continue
            pairs.add((state, text.strip()))
    page = open(os.path.join(root, "docs", "troubleshooting.md"), encoding="utf-8").read()
    lines = page.split("\n")
    missing = []
    for state, text in sorted(pairs):
        quoted = '"%s"' % text if text else "(empty text)"
        pattern = re.escape(quoted).replace(re.escape("%s"), r"[^\"]*")
        if not any("`%s`" % state in line and re.search(pattern, line) for line in lines):
            missing.append("%s %s" % (state, quoted))
    if len(pairs) < 100:
        print("only %d diagnostics found in the code: the pattern no longer matches" % len(pairs))
        return 1
    for entry in missing:
        print("docs/troubleshooting.md lacks " + entry)
    return 1 if missing else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1]))
