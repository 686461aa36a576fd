#!/usr/bin/python3
"""Copies in the Sent folder, through a real Postfix and Dovecot on loopback (tests/support/mail_servers.py):
postira-run sends over the submission port and appends each accepted mail to "Gesendete Elemente", the folder
Dovecot marks \\Sent, over IMAP with STARTTLS.

- A run with copies: every copy holds the bytes of the delivered mail (less what the servers put in front),
  is marked \\Seen, and the login went inside TLS (the fixture's Dovecot refuses a password outside it).
- The IMAP server away: every mail goes out once, the missing copies are named, the lines keep their times.
- A run killed in the middle and resumed: every mail arrives once and has exactly one copy.

Needs root, as the fixture does; elsewhere skipped (exit code 77).
"""

import os
import signal
import subprocess
import sys
import tempfile
import time

SOURCE = os.environ.get("POSTIRA_SOURCE_DIR", os.path.join(os.path.dirname(__file__), "..", ".."))
sys.path.insert(0, os.path.join(SOURCE, "tests", "support"))

from mail_servers import MailServers, ServersUnavailable  # noqa: E402
from postira_harness import RUN  # noqa: E402
from results import Results  # noqa: E402
from test_real_servers import list_line, list_results, make_data  # noqa: E402

SKIPPED = 77
SENT = "Gesendete Elemente"

results = Results()
check = results.check


def command(folder, servers, *options):
    env = dict(os.environ, XDG_DATA_HOME=os.path.join(folder, "xdg"), SSL_CERT_FILE=servers.ca_file)
    env.pop("SSL_CERT_DIR", None)
    args = [RUN, "--data-dir", folder, "--yes", "--sent-copy", "--imap-host", servers.host,
            "--imap-port", str(servers.imap_port), *options]
    return args, env


def run(folder, servers, *options):
    args, env = command(folder, servers, *options)
    done = subprocess.run(args, capture_output=True, timeout=300, env=env)
    return done.returncode, done.stdout.decode(errors="replace") + done.stderr.decode(errors="replace")


def lines(prefix, count):
    return [list_line("Kunde%d" % i, "Jörg", "%s%d@example.test" % (prefix, i), "%s %d" % (prefix, i))
            for i in range(1, count + 1)]


def subjects(mails, prefix):
    return sorted(str(m.message["subject"]) for m in mails if str(m.message["subject"]).startswith(prefix))


def check_copies(servers, tmp):
    data = os.path.join(tmp, "kopien")
    make_data(data, servers, lines("Kopie", 3))
    code, out = run(data, servers)
    check(code == 0, "run with copies: exit %d: %s" % (code, out))
    delivered = {str(m.message["subject"]): m.raw for m in servers.wait_for_delivery(3)}
    copies = servers.fetch_all(SENT)
    check(subjects(copies, "Kopie") == ["Kopie 1", "Kopie 2", "Kopie 3"], "copies: %r" % subjects(copies, ""))
    for copy in copies:
        subject = str(copy.message["subject"])
        raw = delivered.get(subject, b"")
        # Postfix and Dovecot put their trace lines in front; the rest is the mail as it was sent.
        check(raw.endswith(copy.raw) and len(copy.raw) > 200, "%s: the copy is not the delivered mail" % subject)
        check("\\Seen" in copy.flags, "%s: copy flags %r" % (subject, copy.flags))
        check(copy.message["Message-ID"] is not None, "%s: copy without its Message-ID" % subject)


def check_imap_away(servers, tmp):
    data = os.path.join(tmp, "ohne-imap")
    make_data(data, servers, lines("Weg", 3))
    before = servers.message_count()
    servers.stop_imap()
    try:
        code, out = run(data, servers)
    finally:
        servers.start_imap()
    mails = servers.wait_for_delivery(before + 3)
    check(subjects(mails, "Weg") == ["Weg 1", "Weg 2", "Weg 3"], "IMAP away: delivered %r" % subjects(mails, "Weg"))
    check("3 Kopien fehlen im Ordner „Gesendet“" in out, "IMAP away: the missing copies are not named: %s" % out)
    check(all(result[:2].isdigit() for result in list_results(data)), "IMAP away: %r" % list_results(data))
    check(subjects(servers.fetch_all(SENT), "Weg") == [], "IMAP away: a copy appeared")


def check_kill_and_resume(servers, tmp):
    count = 12
    data = os.path.join(tmp, "abbruch")
    make_data(data, servers, lines("Abbruch", count))
    before = servers.message_count()
    # Two mails a second, so that the kill falls in the middle of the run.
    args, env = command(data, servers, "--rate", "120")
    process = subprocess.Popen(args, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, env=env)
    time.sleep(3)
    process.send_signal(signal.SIGKILL)
    process.wait()
    # A killed run writes no list: what it sent stands in its journal, and in the INBOX.
    time.sleep(1)
    sent_first = servers.message_count() - before
    code, out = run(data, servers, "--resume")
    check(code == 0, "resumed run: exit %d: %s" % (code, out))
    mails = servers.wait_for_delivery(before + count)
    expected = sorted("Abbruch %d" % i for i in range(1, count + 1))
    check(subjects(mails, "Abbruch") == expected, "kill and resume: delivered %r" % subjects(mails, "Abbruch"))
    deadline = time.monotonic() + 30
    while len(subjects(servers.fetch_all(SENT), "Abbruch")) < count and time.monotonic() < deadline:
        time.sleep(0.2)
    copies = subjects(servers.fetch_all(SENT), "Abbruch")
    check(copies == expected, "kill and resume: copies %r (first run sent %d)" % (copies, sent_first))
    check(0 < sent_first < count, "the kill did not fall in the middle of the run: %d sent" % sent_first)


def main():
    try:
        servers = MailServers()
        servers.start()
    except ServersUnavailable as reason:
        print("SKIP:", reason)
        return SKIPPED
    try:
        with tempfile.TemporaryDirectory() as tmp:
            check_copies(servers, tmp)
            check_imap_away(servers, tmp)
            check_kill_and_resume(servers, tmp)
    finally:
        servers.stop()
    return results.finish()


if __name__ == "__main__":
    sys.exit(main())
