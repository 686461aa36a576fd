#!/usr/bin/python3
"""Umlauts from lists and texts in Windows-1252 (as a spreadsheet program on Windows saves "CSV") and in
UTF-8, in every combination, sent by postira-run to the real SMTP peer and written by its dry run: Python's
email package must read the right subject, display name, text and attachment name from every mail, and
the list must keep its bytes but for the send times in field 6.
"""

import email
import email.policy
import os
import subprocess
import sys
import tempfile

from postira_harness import PASSWORD, RUN, USER, Peer, body_text, write
from results import Results

results = Results()
check = results.check

SUBJECT = "Angebot für Sie"
TEXT = "Sehr geehrte(r) $Prename $Name,\r\nanbei die Grüße aus Köln.\r\n"
ATTACHMENT = "Preisliste Köln.txt"  # on disk in UTF-8, as the file system names it
PEOPLE = [("Müller", "Jürgen"), ("Weiß", "Bärbel"), ("Öztürk", "Ümit")]


def make_data(folder, port, list_charset, text_charset):
    os.makedirs(folder)
    write(os.path.join(folder, "postira.ini"),
          b"127.0.0.1\r\n%s\r\n%s\r\n%d\r\n" % (USER.encode(), PASSWORD.encode(), port))
    write(os.path.join(folder, "defaultmail.txt"), TEXT.encode(text_charset))
    write(os.path.join(folder, ATTACHMENT), b"Preise\r\n")
    lines = []
    for i, (surname, first) in enumerate(PEOPLE, 1):
        attachment = os.path.join(folder, ATTACHMENT) if i == 1 else ""
        fields = [surname, first, "%s %s <kunde%d@example.test>" % (first, surname, i), SUBJECT, "default",
                  "not send", attachment]
        lines.append("".join(field + ";" for field in fields).encode(list_charset))
    listed = b"".join(line + b"\r\n" for line in lines)
    write(os.path.join(folder, "sendlist.csv"), listed)
    return listed


def check_mail(what, message, i):
    surname, first = PEOPLE[i - 1]
    check(str(message["subject"]) == SUBJECT, "%s mail %d: subject %r" % (what, i, str(message["subject"])))
    to = message["to"].addresses[0]
    check(to.display_name == "%s %s" % (first, surname), "%s mail %d: name %r" % (what, i, to.display_name))
    body = body_text(message)
    check(body == "Sehr geehrte(r) %s %s,\nanbei die Grüße aus Köln.\n" % (first, surname),
          "%s mail %d: text %r" % (what, i, body))
    names = [part.get_filename() for part in message.iter_attachments()]
    check(names == ([ATTACHMENT] if i == 1 else []), "%s mail %d: attachment %r" % (what, i, names))


def parse(path):
    with open(path, "rb") as f:
        return email.message_from_binary_file(f, policy=email.policy.default)


def fields_but_six(data):
    return [line.split(b";")[:5] + line.split(b";")[6:] for line in data.split(b"\r\n")]


def main():
    cases = [("cp1252", "cp1252"), ("utf-8", "cp1252"), ("cp1252", "utf-8"), ("utf-8", "utf-8")]
    with tempfile.TemporaryDirectory() as tmp:
        for list_charset, text_charset in cases:
            what = "list %s, text %s" % (list_charset, text_charset)
            data, mails = os.path.join(tmp, what), os.path.join(tmp, "mails " + what)
            with Peer(mails) as peer:
                listed = make_data(data, peer.port, list_charset, text_charset)
                env = dict(os.environ, XDG_DATA_HOME=os.path.join(data, "xdg"))
                dry = subprocess.run([RUN, "--data-dir", data, "--dry-run", os.path.join(data, "dry")],
                                     capture_output=True, timeout=120, env=env)
                sent = subprocess.run([RUN, "--data-dir", data], capture_output=True, timeout=120, env=env)
            check(dry.returncode == 0 and sent.returncode == 0, "%s: the runs completed: %s" % (what, sent.stderr))
            received = sorted(name for name in os.listdir(mails) if name.endswith(".eml"))
            check(len(received) == len(PEOPLE), "%s: %d mails arrived" % (what, len(received)))
            for i, name in enumerate(received, 1):
                check_mail(what, parse(os.path.join(mails, name)), i)
            for i in range(1, len(PEOPLE) + 1):
                check_mail(what + " (dry run)", parse(os.path.join(data, "dry", "%04d.eml" % i)), i)
            with open(os.path.join(data, "sendlist.csv"), "rb") as f:
                after = f.read()
            check(fields_but_six(after) == fields_but_six(listed), "%s: the list keeps its bytes but field 6" % what)
            times = [line.split(b";")[5] for line in after.split(b"\r\n") if line]
            check(len(times) == len(PEOPLE) and all(t[:1].isdigit() for t in times),
                  "%s: every line has its send time: %r" % (what, times))
    return results.finish()


if __name__ == "__main__":
    sys.exit(main())
