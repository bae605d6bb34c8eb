#!/usr/bin/python3
"""isql's connect dialog at a pseudo-terminal (run by run_script.sh): a data
source with AConnectDialog=Yes asks for user and password; the right ones
connect, the password typed without echo; a wrong one fails with 28000; and
without a terminal the connect fails at once instead of waiting."""
import os
import pty
import select
import subprocess
import sys
import time

with open(os.environ["ODBCINI"], "a") as ini:
    ini.write("[q4dialog]\nDriver=Q4\nSERVER=127.0.0.1\nPORTNUMBER=%s\nUSER=nobody\nPASSWORD=\n"
              "ACCOUNT=main\nAConnectDialog=Yes\n" % os.environ["Q4_PORT"])
PROMPTS = ["Q4 User ID: [nobody]: ", "User Password : []: ", "Q4 Account: [main]: ",
           "Account Password: []: ", "Choose [1]: "]


def dialog(user, password):
    """isql at a pty with the dialog answered: its exit status and transcript."""
    pid, fd = pty.fork()
    if pid == 0:
        os.execvp("isql", ["isql", "-v", "q4dialog"])
    out = ""

    def wait_for(text, seconds=10):  # False once the program's terminal closed
        nonlocal out
        deadline = time.time() + seconds
        while text not in out and time.time() < deadline:
            if select.select([fd], [], [], 0.1)[0]:
                try:
                    out += os.read(fd, 1024).decode(errors="replace").replace("\r", "")
                except OSError:
                    break
        return text in out

    for prompt, answer in zip(PROMPTS, [user, password, "", "", ""]):
        if wait_for(prompt):
            os.write(fd, (answer + "\n").encode())
    if wait_for("SQL> ", 5):
        os.write(fd, b"quit\n")
    wait_for("<the end>", 5)  # read what is left
    done, status = os.waitpid(pid, os.WNOHANG)
    if done == 0:
        os.kill(pid, 9)
        status = os.waitpid(pid, 0)[1]
    os.close(fd)
    return os.waitstatus_to_exitcode(status), out


failures = []
status, out = dialog("test", "secret")
if status != 0 or "Connected!" not in out or "secret" in out or PROMPTS[1] not in out:
    failures.append("right password (typed without echo), status %d:\n%s" % (status, out))
status, out = dialog("test", "wrong")
if status == 0 or "Connected!" in out or "28000" not in out:
    failures.append("wrong password, status %d:\n%s" % (status, out))
run = subprocess.run(["setsid", "-w", "isql", "-v", "q4dialog"], stdin=subprocess.DEVNULL,
                     capture_output=True, text=True, timeout=20)
if run.returncode == 0 or "Connected!" in run.stdout or "Q4 User ID" in run.stdout + run.stderr:
    failures.append("without a terminal: %s%s" % (run.stdout, run.stderr))
print("".join("FAIL: %s\n" % f for f in failures), end="")
sys.exit(1 if failures else 0)
