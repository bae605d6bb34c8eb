#!/usr/bin/python3
"""docs_recipe.py PAGE: runs the recipe of one client page of the documentation
(docs/clients/*.md) against the sample database that run_script.sh serves as
the data source q4sample, and compares what it prints with the output the page
shows, so that a page cannot go stale.

A page holds one block fenced as ```LANGUAGE recipe (the program) and one
fenced as ```text output (its standard output). Exit status 77 (skipped) when
the Node.js odbc module has not been installed (scripts/node_odbc.sh)."""
import os
import re
import subprocess
import sys

# The fence's language: the file's suffix and the command that runs it.
RUN = {"sh": (".sh", ["bash"]), "python": (".py", ["/usr/bin/python3"]), "perl": (".pl", ["perl"]),
       "php": (".php", ["php"]), "javascript": (".js", ["node"]),
       # Debian 12's ruby-odbc needs unixODBC loaded first (docs/clients/ruby.md).
       "ruby": (".rb", ["env", "LD_PRELOAD=libodbc.so.2", "ruby"])}


def lines(text):
    return [line.rstrip() for line in text.rstrip("\n").split("\n")]


def main(page):
    text = open(page, encoding="utf-8").read()
    recipes, outputs = (re.findall(r"^```(\w+) %s\n(.*?)^```$" % kind, text, re.M | re.S)
                        for kind in ("recipe", "output"))
    if len(recipes) != 1 or len(outputs) != 1:
        print("%s: want one recipe and one output block, found %d and %d"
              % (page, len(recipes), len(outputs)))
        return 1
    language, program = recipes[0]
    if language == "javascript" and not os.path.isdir(os.path.join(os.environ["NODE_PATH"], "odbc")):
        print("SKIPPED: the Node.js recipe needs the odbc module (scripts/node_odbc.sh) in "
              + os.environ["NODE_PATH"])
        return 77
    suffix, command = RUN[language]
    path = os.path.join(os.environ["Q4_WORK"], "recipe" + suffix)
    with open(path, "w", encoding="utf-8") as recipe:
        recipe.write(program)
    run = subprocess.run(command + [path], cwd=os.environ["Q4_WORK"], capture_output=True,
                         text=True, timeout=120)
    if run.returncode != 0 or lines(run.stdout) != lines(outputs[0][1]):
        print("%s: the recipe exited with %d\n--- the page shows\n%s--- the recipe printed\n%s"
              "--- on standard error\n%s" % (page, run.returncode, outputs[0][1], run.stdout, run.stderr))
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1]))
