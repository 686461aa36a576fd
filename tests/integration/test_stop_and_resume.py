#!/usr/bin/python3
"""Runs of postira-run against the real SMTP peer that end before the end of their list, as a user ends
them: stopped with SIGINT (Ctrl+C) or SIGTERM, or ended by a line whose address cannot be parsed. Each one
writes its send times into the list and keeps its records, so a plain start is refused, and after the line
is mended --resume sends the rest: every recipient gets the mail exactly once. A list reached through a
symbolic link is the same list as its target: a run through the link and one through the target exclude
each other, and the link stays a link.
"""

import json
import os
import signal
import subprocess
import sys
import tempfile
import time

from postira_harness import PASSWORD, RUN, USER, Peer, write
from results import Results

results = Results()
check = results.check

COUNT = 120
BAD_LINE = 40


def make_data(folder, port, list_folder=None):
    os.makedirs(folder, exist_ok=True)
    write(os.path.join(folder, "postira.ini"),
          b"127.0.0.1\r\n%s\r\n%s\r\n%d\r\n" % (USER.encode(), PASSWORD.encode(), port))
    write(os.path.join(folder, "defaultmail.txt"), "Guten Tag $Prename $Name,\r\nGrüße aus Köln\r\n".encode())
    lines = [("Müller%d;Jörg%d;kunde%d@example.test;Kunde %d;default;not send;;" % (i, i, i, i)).encode()
             for i in range(1, COUNT + 1)]
    target = os.path.join(list_folder or folder, "sendlist.csv")
    write(target, b"".join(line + b"\r\n" for line in lines))
    return target


def start(data, *options):
    return subprocess.Popen([RUN, "--data-dir", data, *options], stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                            env=dict(os.environ, XDG_DATA_HOME=os.path.join(data, "xdg")))


def run(data, *options):
    process = start(data, *options)
    out, err = process.communicate(timeout=300)
    return process.returncode, out.decode(), err.decode()


def mails_at(folder):
    return sum(1 for name in os.listdir(folder) if name.endswith(".json"))


def recipients(folder):
    """How often each recipient's mail arrived."""
    counts = {}
    for name in os.listdir(folder):
        if name.endswith(".json"):
            with open(os.path.join(folder, name), encoding="utf-8") as f:
                for address in json.load(f)["rcpt_tos"]:
                    counts[address] = counts.get(address, 0) + 1
    return counts


def wait_for_mails(mails, process, count):
    deadline = time.monotonic() + 120
    while time.monotonic() < deadline and process.poll() is None and mails_at(mails) < count:
        time.sleep(0.005)
    return process.poll() is None


def each_once(mails, what):
    counts = recipients(mails)
    expected = {"kunde%d@example.test" % i for i in range(1, COUNT + 1)}
    check(set(counts) == expected, "%s: every recipient got the mail (%d of %d)" % (what, len(counts), COUNT))
    twice = sorted(address for address, n in counts.items() if n > 1)
    check(not twice, "%s: nobody got it twice: %s" % (what, twice[:5]))


def list_lines(path):
    with open(path, "rb") as f:
        return [line for line in f.read().split(b"\r\n") if line]


def ended_early(tmp, what, end):
    """`end` ends a run early and says how to mend the list; then a plain start and --resume."""
    mails, data = os.path.join(tmp, "mails " + what), os.path.join(tmp, "data " + what)
    with Peer(mails, PASSWORD, "--accept-delay", "0.01") as peer:
        listed = make_data(data, peer.port)
        code, out, err = end(data, mails, listed)
        last = out.strip().splitlines()[-1] if out.strip() else ""
        check(code == 1, "%s: the run ended with 1, not %d: %s" % (what, code, err[-300:]))
        check(last.startswith("Mailing abgebrochen!") and "--resume" in last,
              "%s: the last line says that the run can be resumed: %r" % (what, last))
        check(any(line.split(" gesendet,")[0].isdigit() for line in out.splitlines()),
              "%s: the summary is printed" % what)
        check(os.path.exists(listed + ".journal"), "%s: the run kept its records" % what)
        sent = mails_at(mails)
        times = sum(1 for line in list_lines(listed) if line.split(b";")[5] != b"not send")
        check(times == sent, "%s: the list holds a send time for each of the %d mails sent, not %d"
              % (what, sent, times))

        code, out, err = run(data)
        check(code == 2 and "--resume" in err, "%s: a plain start is refused: %d %s" % (what, code, err[-300:]))
        check(mails_at(mails) == sent, "%s: the refused start sent nothing" % what)
        code, out, err = run(data, "--resume")
        check(code == 0, "%s: the resumed run completed: %d %s" % (what, code, err[-300:]))
        check(out.strip().splitlines()[-1] == "Mailing komplett.", "%s: and says so" % what)
    each_once(mails, what)
    check(not os.path.exists(listed + ".journal"), "%s: no journal after the end of the list" % what)


def by_signal(number, after):
    def end(data, mails, _listed):
        process = start(data)
        still_going = wait_for_mails(mails, process, after)
        check(still_going, "the run was still going after %d mails" % after)
        process.send_signal(number)
        out, err = process.communicate(timeout=120)
        return process.returncode, out.decode(), err.decode()
    return end


def by_bad_address(data, mails, listed):
    lines = list_lines(listed)
    fields = lines[BAD_LINE - 1].split(b";")
    good = fields[2]
    fields[2] = b"<" + good + b"> kaputt@example.test"  # a second address after the brackets: not parsed
    lines[BAD_LINE - 1] = b";".join(fields)
    write(listed, b"".join(line + b"\r\n" for line in lines))
    code, out, err = run(data)
    check("@ Outside-Adresse" in err, "the error names the cause: %s" % err[-300:])
    check(mails_at(mails) == BAD_LINE - 1, "the run ended at line %d: %d mails" % (BAD_LINE, mails_at(mails)))
    # The user mends the line, as the error told.
    lines = list_lines(listed)
    fields = lines[BAD_LINE - 1].split(b";")
    fields[2] = good
    lines[BAD_LINE - 1] = b";".join(fields)
    write(listed, b"".join(line + b"\r\n" for line in lines))
    return code, out, err


def through_a_link(tmp):
    mails, data, shared = (os.path.join(tmp, name) for name in ("mails link", "data link", "shared"))
    os.makedirs(shared)
    with Peer(mails, PASSWORD, "--accept-delay", "0.01") as peer:
        target = make_data(data, peer.port, shared)
        link = os.path.join(data, "sendlist.csv")
        os.symlink(os.path.relpath(target, data), link)
        first = start(data)
        check(wait_for_mails(mails, first, 10), "the run through the link was still going")
        code, out, err = run(data, "--list", target)
        check(code == 1 and "läuft gerade ein anderer Mailingdurchlauf" in err,
              "a run through the target is refused while one runs through the link: %d %s" % (code, err[-300:]))
        out, err = first.communicate(timeout=300)
        check(first.returncode == 0, "the run through the link completed: %s" % err.decode()[-300:])
    each_once(mails, "link")
    check(os.path.islink(link), "the list is still a link")
    check(all(line.split(b";")[5] != b"not send" for line in list_lines(target)), "the target has the send times")
    left = [name for folder in (data, shared) for name in os.listdir(folder)
            if name.endswith((".journal", ".lock")) or name.startswith(".postira-")]
    check(not left, "nothing left beside the list or the link: %s" % left)


def main():
    with tempfile.TemporaryDirectory() as tmp:
        cases = [("SIGINT", by_signal(signal.SIGINT, 20)), ("SIGTERM", by_signal(signal.SIGTERM, 35)),
                 ("bad address", by_bad_address)]
        for what, end in cases:
            ended_early(tmp, what, end)
        through_a_link(tmp)
    return results.finish()


if __name__ == "__main__":
    sys.exit(main())
