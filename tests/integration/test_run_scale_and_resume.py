#!/usr/bin/python3
"""Whole runs of postira-run against the real SMTP peer:

- a 1 000-line list: every mail arrives, personalised, and every line gets its send time;
- --dry-run writes the same messages without any connection and changes no file;
- runs killed with SIGKILL and resumed with --resume, killed again, the list edited between them by hand
  (as the editor saves it: blank lines dropped, fields trimmed, rows sorted, one deleted, one inserted) or
  saved by the real list editor: every line gets its mail once (only a mail in flight at a kill may come
  twice, which is reported) and the list is the same bytes but for the send times;
- a second run, a dry run and an editor save on a list that a run is sending are refused, the run unharmed.
"""

import email.parser
import email.policy
import email.utils
import os
import re
import signal
import subprocess
import sys
import tempfile
import time

from postira_harness import BUILD, PASSWORD, RUN, USER, Peer, body_text, stored, write
from results import Results

results = Results()
check = results.check

GRID_TOOL = os.path.join(BUILD, "tests", "grid_tool")
TEXT = "Guten Tag $Prename $Name,\r\nIhre Kundennummer steht im Betreff.\r\nGrüße aus Köln\r\n".encode()


def make_data(folder, port, count, lines=None):
    os.makedirs(folder, exist_ok=True)
    write(os.path.join(folder, "postira.ini"),
          b"127.0.0.1\r\n%s\r\n%s\r\n%d\r\n" % (USER.encode(), PASSWORD.encode(), port))
    write(os.path.join(folder, "defaultmail.txt"), TEXT)
    write_list(folder, lines or uniform_list(count))


def uniform_list(count):
    return [("Müller%d;Jörg%d;kunde%d@example.test;Kunde %d;default;not send;;" % (i, i, i, i)).encode()
            for i in range(1, count + 1)]


def varied_list(count):
    """Blanks around some fields and blank lines, which the editor drops, and one person with two subjects."""
    lines = []
    for i in range(1, count + 1):
        pad = " " if i % 10 == 0 else ""
        lines.append(("{0}Müller{1}{0};{0}Jörg{1}{0};{0}kunde{1}@example.test{0};{0}Kunde {1}{0};default;not send;;"
                      .format(pad, i)).encode())
        if i % 50 == 0:
            lines.append(b"")
    lines.insert(3, "Müller7;Jörg7;kunde7@example.test;Zweites Thema;default;not send;;".encode())
    return lines


def write_list(folder, lines):
    write(os.path.join(folder, "sendlist.csv"), b"".join(line + b"\r\n" for line in lines))


def read_list(folder):
    with open(os.path.join(folder, "sendlist.csv"), "rb") as f:
        return f.read().split(b"\r\n")[:-1]


def environment(folder):
    return dict(os.environ, XDG_DATA_HOME=os.path.join(folder, "xdg"))


def list_results(folder):
    with open(os.path.join(folder, "sendlist.csv"), "rb") as f:
        return [line.split(b";")[5] for line in f.read().split(b"\r\n") if line]


def subjects_sent(folder):
    """How often each subject (one per list line) arrived."""
    counts = {}
    for name in os.listdir(folder):
        if name.endswith(".eml"):
            with open(os.path.join(folder, name), "rb") as f:
                subject = str(email.parser.BytesHeaderParser().parse(f)["subject"]).strip()
            counts[subject] = counts.get(subject, 0) + 1
    return counts


def masked(lines, what=None):
    """The lines with field 6 taken out; with `what`, each non-blank line must hold a send time there."""
    out = []
    for line in lines:
        fields = line.split(b";")
        if line.strip() and what:
            check(re.match(rb"^[^;]*\d{4}[^;]* \d\d:\d\d:\d\d$", fields[5]), "%s: send time in %r" % (what, line))
        out.append(b";".join(fields[:5] + [b"*"] + fields[6:]) if line.strip() else line)
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
    make_data(data2, 9, 10000)  # port 9: if anything tried to connect, the run would fail
    with open(os.path.join(data2, "sendlist.csv"), "rb") as f:
        before = f.read()
    run = subprocess.run([RUN, "--data-dir", data2, "--cc", "kopie@example.test", "--dry-run", dry],
                         capture_output=True, timeout=600, env=environment(data2))
    check(run.returncode == 0, "dry run exit code %d: %s" % (run.returncode, run.stderr[-500:]))
    written = {name for name in os.listdir(dry) if name.endswith(".eml")}
    check(written == {"%04d.eml" % i for i in range(1, 10001)}, "dry run wrote 0001.eml to 10000.eml")
    # Every message has its own Message-ID, one msg-id of the sender's domain, sent or written.
    ids = [str(email.parser.BytesHeaderParser().parse(open(os.path.join(dry, name), "rb"))["message-id"])
           for name in written] + [str(message["message-id"]) for _raw, message, _env in received.values()]
    for value in ids[:1] + ids[-1:]:
        print("note: a Message-ID:", value)
    check(len(set(ids)) == 11000, "11 000 different Message-IDs, got %d" % len(set(ids)))
    check(all(value == "<%s>" % email.utils.parseaddr(value)[1] and value.endswith("@example.org>") for value in ids),
          "each Message-ID parses as one msg-id of the sender's domain")
    with open(os.path.join(data2, "sendlist.csv"), "rb") as f:
        check(f.read() == before, "the dry run left the list unchanged")
    for i in (1, 1000):
        with open(os.path.join(dry, "%04d.eml" % i), "rb") as f:
            dry_message = email.message_from_binary_file(f, policy=email.policy.default)
        _raw, sent_message, _envelope = received["Kunde %d" % i]
        for header in ("From", "To", "Cc", "Subject", "Content-Type"):
            check(str(dry_message[header]) == str(sent_message[header]),
                  "dry run %s of mail %d: %r vs %r" % (header, i, dry_message[header], sent_message[header]))
        check(body_text(dry_message) == body_text(sent_message), "dry run body of mail %d" % i)


def mails_at(folder):
    return sum(1 for name in os.listdir(folder) if name.endswith(".json"))


def start_run(data, *options):
    return subprocess.Popen([RUN, "--data-dir", data, *options], stdout=subprocess.DEVNULL, stderr=subprocess.PIPE,
                            env=environment(data))


def kill_after(mails, data, more, what):
    run = start_run(data, "--resume")
    deadline, target = time.monotonic() + 300, mails_at(mails) + more
    while time.monotonic() < deadline and run.poll() is None and mails_at(mails) < target:
        time.sleep(0.002)
    killed = run.poll() is None
    if killed:
        os.kill(run.pid, signal.SIGKILL)
    run.wait()
    check(killed, "%s: the run was still going after %d more mails" % (what, more))
    check(os.path.exists(os.path.join(data, "sendlist.csv.journal")), "%s: a killed run leaves its journal" % what)


def edit_by_hand(data, mails):
    """The list saved as the editor saves it, one row that was sent deleted and one row inserted."""
    rows = [[field.strip() for field in line.split(b";")[:7]] for line in read_list(data) if line.strip()]
    sent = subjects_sent(mails)
    deleted = next(row for row in rows if row[3].decode() in sent)
    rows.remove(deleted)
    rows.append([b"Neu", b"Nora", b"neu@example.test", b"Kunde neu", b"default", b"not send", b""])
    rows.sort(reverse=True)
    write_list(data, [b";".join(row) + b";" for row in rows])
    return deleted[3].decode()


def editor_save(data):
    saved = subprocess.run([GRID_TOOL, data], capture_output=True, timeout=120,
                           env=dict(os.environ, QT_QPA_PLATFORM="offscreen"))
    return saved.returncode, saved.stdout.decode()


def sequence(tmp, steps, lines):
    """Runs the steps ("kill N": a run killed after N more mails; "edit"; "editor"), then a run to the end."""
    what = " ".join(steps)
    mails = os.path.join(tmp, "mails %s" % what)
    data = os.path.join(tmp, "data %s" % what)
    deleted = None
    with Peer(mails) as peer:
        make_data(data, peer.port, 0, lines)
        expected = read_list(data)
        for step in steps:
            if step.startswith("kill"):
                kill_after(mails, data, int(step[5:]), what)
            elif step == "edit":
                deleted = edit_by_hand(data, mails)
            elif step == "editor":
                code, shown = editor_save(data)
                check(code == 0 and "bereits gesendete Mails wurden" in shown, "%s: editor saved: %s" % (what, shown))
            expected = read_list(data) if step in ("edit", "editor") else expected
        refused = subprocess.run([RUN, "--data-dir", data], capture_output=True, timeout=60, env=environment(data))
        check(refused.returncode == 2, "%s: an interrupted list needs --resume or --no-resume" % what)
        again = subprocess.run([RUN, "--data-dir", data, "--resume"], capture_output=True, timeout=600,
                               env=environment(data))
        check(again.returncode == 0, "%s: the resumed run completed: %s" % (what, again.stderr[-300:]))
    counts = subjects_sent(mails)
    missing = [line for line in expected if line.strip() and line.split(b";")[3].strip().decode() not in counts]
    twice = [subject for subject, n in counts.items() if n == 2]
    check(not missing, "%s: every line got its mail; missing: %s" % (what, missing[:3]))
    check(max(counts.values()) <= 2 and len(twice) <= what.count("kill"), "%s: only mails in flight came twice: %s"
          % (what, twice))
    check(deleted is None or counts.get(deleted) in (1, 2), "%s: the deleted row had its mail" % what)
    check(masked(read_list(data), what) == masked(expected), "%s: the list is the same but for send times" % what)
    for name in ("sendlist.csv.journal", "sendlist.csv.lock"):
        check(not os.path.exists(os.path.join(data, name)), "%s: no %s left after the run" % (what, name))
    if twice:
        print("note: %s: the mails in flight at the kills came twice: %s" % (what, twice))


def second_program_refused(tmp):
    mails, data = os.path.join(tmp, "busy mails"), os.path.join(tmp, "busy data")
    with Peer(mails) as peer:
        make_data(data, peer.port, 1000)
        first = start_run(data)
        while first.poll() is None and mails_at(mails) < 20:
            time.sleep(0.002)
        for options in ([], ["--dry-run", os.path.join(tmp, "busy dry")]):
            second = subprocess.run([RUN, "--data-dir", data, *options], capture_output=True, timeout=60,
                                    env=environment(data))
            check(second.returncode == 1 and "läuft gerade ein anderer Mailingdurchlauf" in second.stderr.decode(),
                  "a second run %s is refused: %s" % (options, second.stderr[-300:]))
        code, shown = editor_save(data)
        check(code == 3 and "läuft gerade ein Mailingdurchlauf" in shown and "bereits gesendete" not in shown,
              "the editor's save is refused and takes no live journal for an interrupted one: %s" % shown)
        check(first.poll() is None, "all that while the first run was sending")
        check(first.wait(600) == 0, "the first run completed: %s" % first.stderr.read()[-300:])
    check(sorted(subjects_sent(mails).values()) == [1] * 1000, "the first run sent each mail once")
    masked(read_list(data), "the first run's list")


def main():
    with tempfile.TemporaryDirectory() as tmp:
        large_run_and_dry_run(tmp)
        # From the second mail on: once the peer holds mail k, mail k - 1 is in the journal (the next mail
        # starts only after the record of the last), so the killed run always has something to resume.
        # After the first mail alone the kill may land before its record: then there is nothing to resume
        # and only that mail in flight comes again.
        for kill in (2, 137, 420):
            sequence(tmp, ["kill %d" % kill], uniform_list(1000))
        for steps in (["kill 20", "kill 25"], ["kill 20", "kill 25", "kill 30"], ["kill 30", "edit"],
                      ["kill 30", "editor", "kill 20"]):
            sequence(tmp, steps, varied_list(400))
        second_program_refused(tmp)
    return results.finish()


if __name__ == "__main__":
    sys.exit(main())
