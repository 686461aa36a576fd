#!/usr/bin/python3
"""Runs of postira-run against the real SMTP peer that end before the end of their list, as a user ends
them: SIGINT (Ctrl+C), SIGTERM, or a line whose address cannot be parsed. Each writes its send times into
the list and keeps its records: a plain start is refused, and after the line is mended --resume sends the
rest, every recipient exactly once. A list reached through a symbolic link is the same list as its
target: runs through either exclude each other, and the link stays a link.
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
COUNT, BAD_LINE = 120, 40


def make_data(folder, port, list_folder):
    os.makedirs(folder, exist_ok=True)
    write(os.path.join(folder, "postira.ini"), b"127.0.0.1\r\n%s\r\n%s\r\n%d\r\n" % (USER.encode(), PASSWORD.encode(), port))
    write(os.path.join(folder, "defaultmail.txt"), "Guten Tag $Prename $Name,\r\nGrüße aus Köln\r\n".encode())
    path = os.path.join(list_folder, "sendlist.csv")
    write_lines(path, [("Müller%d;Jörg%d;kunde%d@example.test;Kunde %d;default;not send;;" % (i, i, i, i)).encode()
                       for i in range(1, COUNT + 1)])
    return path


def write_lines(path, lines):
    write(path, b"".join(line + b"\r\n" for line in lines))


def read_lines(path):
    with open(path, "rb") as f:
        return f.read().split(b"\r\n")[:-1]


def start(data, *options):
    return subprocess.Popen([RUN, "--data-dir", data, *options], stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                            env=dict(os.environ, XDG_DATA_HOME=os.path.join(data, "xdg")))


def finish(process):
    out, err = process.communicate(timeout=300)
    return process.returncode, out.decode(), err.decode()


def arrived(mails):
    """How often each recipient's mail arrived (the peer's .eml appears last, after its .json)."""
    counts = {}
    for name in (n for n in os.listdir(mails) if n.endswith(".eml")):
        with open(os.path.join(mails, name[:-4] + ".json"), encoding="utf-8") as f:
            for address in json.load(f)["rcpt_tos"]:
                counts[address] = counts.get(address, 0) + 1
    return counts


def still_going_after(mails, process, count):
    deadline = time.monotonic() + 120
    while time.monotonic() < deadline and process.poll() is None and len(arrived(mails)) < count:
        time.sleep(0.005)
    return process.poll() is None


def set_address(path, address):
    lines = read_lines(path)
    fields = lines[BAD_LINE - 1].split(b";")
    fields[2] = address
    lines[BAD_LINE - 1] = b";".join(fields)
    write_lines(path, lines)


def by_signal(number, after):
    def end(data, mails, _listed):
        process = start(data)
        check(still_going_after(mails, process, after), "the run was still going after %d mails" % after)
        process.send_signal(number)
        return finish(process)
    return end


def by_bad_address(data, mails, listed):
    set_address(listed, b"<kunde%d@example.test> kaputt@example.test" % BAD_LINE)  # two addresses, no comma
    ended = finish(start(data))
    check("@ Outside-Adresse" in ended[2] and len(arrived(mails)) == BAD_LINE - 1,
          "the run ended at line %d with the parser's error: %s" % (BAD_LINE, ended[2][-300:]))
    set_address(listed, b"kunde%d@example.test" % BAD_LINE)  # mended, as the error told
    return ended


def ended_early(tmp, what, end):
    mails, data = os.path.join(tmp, "mails " + what), os.path.join(tmp, "data " + what)
    with Peer(mails, PASSWORD, "--accept-delay", "0.01") as peer:
        listed = make_data(data, peer.port, data)
        code, out, err = end(data, mails, listed)
        last = out.strip().splitlines()[-1:]
        check(code == 1 and last and last[0].startswith("Mailing abgebrochen!") and "--resume" in last[0],
              "%s: exit 1, and the last line says that the run can be resumed: %d %r" % (what, code, last))
        sent = len(arrived(mails))
        check(" gesendet, " in out and " nicht versucht" in out, "%s: the summary counts the lines not tried" % what)
        check(sum(line.split(b";")[5] != b"not send" for line in read_lines(listed)) == sent,
              "%s: the list holds a send time for each of the %d mails sent" % (what, sent))
        code, out, err = finish(start(data))
        check(code == 2 and "--resume" in err and len(arrived(mails)) == sent,
              "%s: a plain start is refused and sends nothing: %d %s" % (what, code, err[-300:]))
        code, out, err = finish(start(data, "--resume"))
        check(code == 0 and out.strip().splitlines()[-1].startswith("Mailing komplett. "),
              "%s: resumed to the end: %s" % (what, err[-300:]))
    counts = arrived(mails)
    check(sorted(counts) == sorted("kunde%d@example.test" % i for i in range(1, COUNT + 1))
          and set(counts.values()) == {1}, "%s: every recipient got the mail exactly once" % what)
    check(not os.path.exists(listed + ".journal"), "%s: no journal after the end of the list" % what)


def through_a_link(tmp):
    mails, data, shared = (os.path.join(tmp, name) for name in ("mails link", "data link", "shared"))
    os.makedirs(shared)
    with Peer(mails, PASSWORD, "--accept-delay", "0.01") as peer:
        target = make_data(data, peer.port, shared)
        link = os.path.join(data, "sendlist.csv")
        os.symlink(os.path.relpath(target, data), link)
        first = start(data)
        check(still_going_after(mails, first, 10), "the run through the link was still going")
        code, _out, err = finish(start(data, "--list", target))
        check(code == 1 and "läuft gerade ein anderer Mailingdurchlauf" in err,
              "a run through the target is refused while one runs through the link: %d %s" % (code, err[-300:]))
        check(finish(first)[0] == 0, "the run through the link completed")
    check(set(arrived(mails).values()) == {1} and len(arrived(mails)) == COUNT, "link: each recipient once")
    check(os.path.islink(link), "the list is still a link")
    check(all(line.split(b";")[5] != b"not send" for line in read_lines(target)), "the target has the send times")
    left = [name for folder in (data, shared) for name in os.listdir(folder)
            if name.endswith((".journal", ".lock")) or name.startswith(".postira-")]
    check(not left, "nothing left beside the list or the link: %s" % left)


def main():
    with tempfile.TemporaryDirectory() as tmp:
        for what, end in (("SIGINT", by_signal(signal.SIGINT, 20)), ("SIGTERM", by_signal(signal.SIGTERM, 35)),
                          ("bad address", by_bad_address)):
            ended_early(tmp, what, end)
        through_a_link(tmp)
    return results.finish()


if __name__ == "__main__":
    sys.exit(main())
