#!/usr/bin/python3
"""Whole runs of postira-run against the real SMTP peer:

- a 1 000-line list: every mail arrives, personalised, and every line gets its send time;
- --dry-run writes the same messages without any connection and changes no file;
- a 1 000-line run killed with SIGKILL at several points and run again with --resume: every recipient has
  exactly one mail (only the mail in flight at the kill may come twice, which is reported), and every line
  of the list shows a send time.
"""

import os
import signal
import subprocess
import sys
import tempfile
import time

from postira_harness import PASSWORD, RUN, USER, Peer, body_text, stored, write
from results import Results

results = Results()
check = results.check

TEXT = "Guten Tag $Prename $Name,\r\nIhre Kundennummer steht im Betreff.\r\nGrüße aus Köln\r\n".encode()


def make_data(folder, port, count):
    os.makedirs(folder, exist_ok=True)
    write(os.path.join(folder, "postira.ini"),
          b"127.0.0.1\r\n%s\r\n%s\r\n%d\r\n" % (USER.encode(), PASSWORD.encode(), port))
    write(os.path.join(folder, "defaultmail.txt"), TEXT)
    lines = [("Müller%d;Jörg%d;kunde%d@example.test;Kunde %d;default;not send;;" % (i, i, i, i)).encode()
             for i in range(1, count + 1)]
    write(os.path.join(folder, "sendlist.csv"), b"".join(line + b"\r\n" for line in lines))


def environment(folder):
    return dict(os.environ, XDG_DATA_HOME=os.path.join(folder, "xdg"))


def list_results(folder):
    with open(os.path.join(folder, "sendlist.csv"), "rb") as f:
        return [line.split(b";")[5] for line in f.read().split(b"\r\n") if line]


def by_recipient(folder):
    """Number of mails each recipient received."""
    counts = {}
    for _raw, _message, envelope in stored_all(folder):
        for rcpt in envelope["rcpt_tos"]:
            counts[rcpt] = counts.get(rcpt, 0) + 1
    return counts


def stored_all(folder):
    # stored() keys by subject; subjects are unique per recipient here, so a repeated mail would be lost
    # from that view: count the envelopes directly.
    import json
    out = []
    for name in sorted(os.listdir(folder)):
        if name.endswith(".json"):
            with open(os.path.join(folder, name), encoding="utf-8") as f:
                out.append((None, None, json.load(f)))
    return out


def large_run_and_dry_run(tmp):
    mails = os.path.join(tmp, "large-mails")
    data = os.path.join(tmp, "large")
    with Peer(mails) as peer:
        make_data(data, peer.port, 1000)
        run = subprocess.run([RUN, "--data-dir", data, "--cc", "kopie@example.test"], capture_output=True,
                             timeout=600, env=environment(data))
    check(run.returncode == 0, "1000-line run exit code %d: %s" % (run.returncode, run.stderr[-500:]))
    received = stored(mails)
    check(len(received) == 1000, "1000 mails arrived, got %d" % len(received))
    for i in (1, 2, 500, 999, 1000):
        entry = received.get("Kunde %d" % i)
        check(entry is not None, "mail %d arrived" % i)
        if entry:
            _raw, message, envelope = entry
            check(body_text(message).startswith("Guten Tag Jörg%d Müller%d,\n" % (i, i)),
                  "mail %d personalised: %r" % (i, body_text(message)[:60]))
            check(sorted(envelope["rcpt_tos"]) == sorted(["kunde%d@example.test" % i, "kopie@example.test"]),
                  "mail %d envelope %r" % (i, envelope["rcpt_tos"]))
    check(all(result != b"not send" for result in list_results(data)), "every line has its send time")

    # The dry run: the same list again, nothing listening on the account's port.
    dry = os.path.join(tmp, "dry")
    data2 = os.path.join(tmp, "dry-data")
    make_data(data2, 9, 1000)  # port 9: if anything tried to connect, the run would fail
    with open(os.path.join(data2, "sendlist.csv"), "rb") as f:
        before = f.read()
    run = subprocess.run([RUN, "--data-dir", data2, "--cc", "kopie@example.test", "--dry-run", dry],
                         capture_output=True, timeout=600, env=environment(data2))
    check(run.returncode == 0, "dry run exit code %d: %s" % (run.returncode, run.stderr[-500:]))
    written = sorted(name for name in os.listdir(dry) if name.endswith(".eml"))
    check(len(written) == 1000 and written[0] == "0001.eml" and written[-1] == "1000.eml",
          "dry run wrote 0001.eml to 1000.eml: %s" % written[:3])
    with open(os.path.join(data2, "sendlist.csv"), "rb") as f:
        check(f.read() == before, "the dry run left the list unchanged")
    import email
    import email.policy
    for i in (1, 1000):
        with open(os.path.join(dry, "%04d.eml" % i), "rb") as f:
            dry_message = email.message_from_binary_file(f, policy=email.policy.default)
        _raw, sent_message, _envelope = received["Kunde %d" % i]
        for header in ("From", "To", "Cc", "Subject", "Content-Type"):
            check(str(dry_message[header]) == str(sent_message[header]),
                  "dry run %s of mail %d: %r vs %r" % (header, i, dry_message[header], sent_message[header]))
        check(body_text(dry_message) == body_text(sent_message), "dry run body of mail %d" % i)


# The killed runs: long enough that the run is still going when the test, polling the peer's folder on a
# busy machine, sees the mail it waits for; with 500 lines a fast run could finish in that time.
KILLED_RUN_LINES = 1000


def killed_and_resumed(tmp, kill_after):
    mails = os.path.join(tmp, "kill-%d-mails" % kill_after)
    data = os.path.join(tmp, "kill-%d" % kill_after)
    with Peer(mails) as peer:
        make_data(data, peer.port, KILLED_RUN_LINES)
        run = subprocess.Popen([RUN, "--data-dir", data], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                               env=environment(data))
        deadline = time.monotonic() + 300
        while time.monotonic() < deadline and run.poll() is None:
            if sum(1 for name in os.listdir(mails) if name.endswith(".json")) >= kill_after:
                break
            time.sleep(0.002)
        killed = run.poll() is None
        if killed:
            run.send_signal(signal.SIGKILL)
        run.wait()
        check(killed, "the run was still going after %d mails" % kill_after)
        check(os.path.exists(os.path.join(data, "sendlist.csv.journal")), "a killed run leaves its journal")

        refused = subprocess.run([RUN, "--data-dir", data], capture_output=True, timeout=60, env=environment(data))
        check(refused.returncode == 2, "an interrupted list needs --resume or --no-resume (exit %d)" % refused.returncode)

        again = subprocess.run([RUN, "--data-dir", data, "--resume"], capture_output=True, timeout=600,
                               env=environment(data))
        check(again.returncode == 0, "the resumed run completed: %s" % again.stderr[-300:])
    counts = by_recipient(mails)
    missing = [i for i in range(1, KILLED_RUN_LINES + 1) if counts.get("kunde%d@example.test" % i, 0) == 0]
    twice = [rcpt for rcpt, n in counts.items() if n == 2]
    more = [rcpt for rcpt, n in counts.items() if n > 2]
    check(not missing, "every recipient got a mail; missing: %s" % missing[:5])
    check(not more and len(twice) <= 1, "at most the mail in flight came twice: %s" % twice)
    if twice:
        print("note: the mail in flight at the kill after %d mails came twice: %s" % (kill_after, twice[0]))
    check(all(result != b"not send" for result in list_results(data)), "every line shows a send time")
    check(not os.path.exists(os.path.join(data, "sendlist.csv.journal")), "the journal is gone after the run")


def main():
    with tempfile.TemporaryDirectory() as tmp:
        large_run_and_dry_run(tmp)
        # From the second mail on: once the peer holds mail k, mail k - 1 is in the journal (the next mail
        # starts only after the record of the last), so the killed run always has something to resume.
        # After the first mail alone the kill may land before its record: then there is nothing to resume
        # and only that mail in flight comes again.
        for kill_after in (2, 137, 420):
            killed_and_resumed(tmp, kill_after)
    return results.finish()


if __name__ == "__main__":
    sys.exit(main())
