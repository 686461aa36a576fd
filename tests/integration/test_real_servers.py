#!/usr/bin/python3
"""Mails sent by postira-run through a real Postfix into a real Dovecot (tests/support/mail_servers.py): STARTTLS
and a login on the submission port, delivery over LMTP, and the mails read back over IMAP and judged by
Python's email package.

Also checks that the servers hold to what the tests rely on: no login without TLS, no mail without a login,
none for another domain, and the special-use folders in LIST.

Needs root (the postfix command is reserved for it) and the packages of scripts/setup; elsewhere it is
skipped (exit code 77). "--timing N" afterwards sends N mails in one run and prints how long it took.
"""

import imaplib
import os
import smtplib
import subprocess
import sys
import tempfile
import time

SOURCE = os.environ.get("POSTIRA_SOURCE_DIR", os.path.join(os.path.dirname(__file__), "..", ".."))
sys.path.insert(0, os.path.join(SOURCE, "tests", "support"))

from mail_servers import MailServers, ServersUnavailable  # noqa: E402
from postira_harness import RUN, body_text, write  # noqa: E402
from results import Results  # noqa: E402

SKIPPED = 77

results = Results()
check = results.check

TEXT = "Hallo $Prename $Name,\r\nGrüße aus Köln über Postfix und Dovecot.\r\n".encode()

# (surname, first name, address, subject): every address of the test domain ends in the test user's INBOX.
RECIPIENTS = [
    ("Müller", "Jürgen", "juergen.mueller@example.test", "Einladung für Jürgen"),
    ("Weiß", "Anna", "anna.weiss@example.test", "Termin am Dienstag"),
    ("Brandt", "Ole", "ole@example.test", "Rückfrage"),
]


def list_line(surname, first_name, address, subject, text="default", attachment=""):
    return ";".join([surname, first_name, address, subject, text, "", attachment, ""]).encode()


def make_data(folder, servers, lines, text=TEXT):
    """A data folder for postira-run with the servers' account: settings, standard text and list."""
    os.makedirs(folder, exist_ok=True)
    write(os.path.join(folder, "postira.ini"), b"%s\r\n%s\r\n%s\r\n%d\r\n" % (
        servers.host.encode(), servers.user.encode(), servers.password.encode(), servers.smtp_port))
    write(os.path.join(folder, "defaultmail.txt"), text)
    write(os.path.join(folder, "sendlist.csv"), b"".join(line + b"\r\n" for line in lines))


def run_mailing(folder, servers, *options, timeout=600):
    """postira-run on FOLDER; it trusts the servers' test CA through SSL_CERT_FILE."""
    env = dict(os.environ, XDG_DATA_HOME=os.path.join(folder, "xdg"), SSL_CERT_FILE=servers.ca_file)
    env.pop("SSL_CERT_DIR", None)
    return subprocess.run([RUN, "--data-dir", folder, "--yes", *options], capture_output=True, timeout=timeout,
                          env=env)


def list_results(folder):
    """Field 6 of every line of the list after a run."""
    with open(os.path.join(folder, "sendlist.csv"), "rb") as f:
        return [line.split(b";")[5].decode("utf-8", "replace") for line in f.read().split(b"\r\n") if line]


def by_subject(mails):
    return {str(mail.message["subject"]): mail for mail in mails}


def check_servers_guard_themselves(servers):
    """What later tests rely on: a password goes only inside TLS, mail only after a login and only to the
    test domain."""
    plain = imaplib.IMAP4(servers.host, servers.imap_port)
    try:
        plain.login(servers.user, servers.password)
        check(False, "IMAP took a login without TLS")
    except imaplib.IMAP4.error:
        pass
    finally:
        plain.shutdown()
    secure = imaplib.IMAP4_SSL(servers.host, servers.imaps_port, ssl_context=servers.ssl_context())
    check(secure.login(servers.user, servers.password)[0] == "OK", "no login over implicit TLS")
    secure.logout()

    with smtplib.SMTP(servers.host, servers.smtp_port) as smtp:
        smtp.ehlo()
        check(smtp.has_extn("starttls") and not smtp.has_extn("auth"), "submission offers AUTH before STARTTLS")
        refused = smtp.mail(servers.user)[0]
        check(refused == 530, "submission takes MAIL FROM before STARTTLS: %d" % refused)
    with smtplib.SMTP(servers.host, servers.smtp_port) as smtp:
        smtp.starttls(context=servers.ssl_context())
        smtp.ehlo()
        smtp.mail(servers.user)
        code, reply = smtp.rcpt("someone@" + servers.domain)
        check(code == 554, "submission takes a recipient without a login: %d %r" % (code, reply))
    with smtplib.SMTP(servers.host, servers.smtp_port) as smtp:
        smtp.starttls(context=servers.ssl_context())
        smtp.login(servers.user, servers.password)
        smtp.mail(servers.user)
        code, reply = smtp.rcpt("someone@example.org")
        check(code == 554 and b"Relay access denied" in reply, "mail for another domain taken: %d %r" % (code, reply))


def check_special_folders(servers):
    mailboxes = servers.list_mailboxes()
    check("\\Sent" in mailboxes.get("Gesendete Elemente", ()), "LIST: no \\Sent folder: %r" % mailboxes)
    check("\\Drafts" in mailboxes.get("Entwürfe", ()), "LIST: no \\Drafts folder: %r" % mailboxes)
    check("INBOX" in mailboxes, "LIST: no INBOX: %r" % mailboxes)
    # STATUS finds the folders under their names in modified UTF-7.
    check(servers.message_count("Entwürfe") == 0 and servers.message_count("Gesendete Elemente") == 0,
          "the special folders are not empty")


def check_run_delivers(servers, tmp):
    """Three personalised mails from postira-run, as they arrived in the INBOX."""
    data = os.path.join(tmp, "daten")
    make_data(data, servers, [list_line(*recipient) for recipient in RECIPIENTS])
    done = run_mailing(data, servers)
    check(done.returncode == 0, "postira-run exit code %d: %s %s" % (
        done.returncode, done.stdout.decode(errors="replace"), done.stderr.decode(errors="replace")))
    mails = by_subject(servers.wait_for_delivery(len(RECIPIENTS)))
    check(len(mails) == len(RECIPIENTS), "%d mails in the INBOX: %r" % (len(mails), list(mails)))
    for surname, first_name, address, subject in RECIPIENTS:
        mail = mails.get(subject)
        check(mail is not None, "%s: not delivered (or its subject damaged), INBOX has %r" % (subject, list(mails)))
        if not mail:
            continue
        message = mail.message
        check(not message.defects, "%s: parser defects %r" % (subject, message.defects))
        check([a.addr_spec for a in message["to"].addresses] == [address], "%s: To %r" % (subject, message["to"]))
        check(str(message["from"]) == servers.user, "%s: From %r" % (subject, message["from"]))
        expected = "Hallo %s %s,\nGrüße aus Köln über Postfix und Dovecot.\n" % (first_name, surname)
        check(body_text(message) == expected, "%s: body %r" % (subject, body_text(message)))
        # Postfix's Received line names the protocol: ESMTPSA is a login inside TLS (RFC 3848).
        received = " ".join(str(value) for value in message.get_all("received", []))
        check("with ESMTPSA" in received, "%s: not sent with TLS and a login: %r" % (subject, received))
        check(mail.flags == (), "%s: delivered with flags %r" % (subject, mail.flags))
    sent = list_results(data)
    check(len(sent) == len(RECIPIENTS) and all(result[:2].isdigit() for result in sent),
          "the list's send times: %r" % sent)
    return data


def check_wrong_password(servers, tmp):
    data = os.path.join(tmp, "falsch")
    make_data(data, servers, [list_line(*RECIPIENTS[0])])
    settings = os.path.join(data, "postira.ini")
    with open(settings, "rb") as f:
        text = f.read()
    write(settings, text.replace(servers.password.encode(), b"falsches-Passwort"))
    before = servers.message_count()
    done = run_mailing(data, servers)
    check(done.returncode == 1, "wrong password: exit code %d" % done.returncode)
    check(b"authentication failed" in done.stdout, "wrong password: the refusal is not told: %r" % done.stdout)
    check(servers.message_count() == before and servers.queued() == 0, "wrong password: a mail went through")


def measure(servers, tmp, count):
    """One run of COUNT mails, timed from the start of postira-run to the last mail in the INBOX."""
    data = os.path.join(tmp, "zeitmessung")
    lines = [list_line("Kunde%d" % i, "Jörg", "kunde%d@example.test" % i, "Messung %d" % i) for i in range(count)]
    make_data(data, servers, lines)
    before = servers.message_count()
    start = time.monotonic()
    done = run_mailing(data, servers)
    sent = time.monotonic() - start
    servers.wait_for_delivery(before + count, timeout=600)
    delivered = time.monotonic() - start
    print("timing: %d mails: postira-run %.1f s (exit %d, %.1f mails/s), all in the INBOX after %.1f s" % (
        count, sent, done.returncode, count / sent, delivered))


def main():
    timing = int(sys.argv[sys.argv.index("--timing") + 1]) if "--timing" in sys.argv else 0
    started = time.monotonic()
    try:
        servers = MailServers()
        servers.start()
    except ServersUnavailable as reason:
        print("SKIP:", reason)
        return SKIPPED
    try:
        print("timing: servers started in %.2f s" % (time.monotonic() - started))
        with tempfile.TemporaryDirectory() as tmp:
            check_servers_guard_themselves(servers)
            check_special_folders(servers)
            check_run_delivers(servers, tmp)
            check_wrong_password(servers, tmp)
            if timing:
                measure(servers, tmp, timing)
    finally:
        stopping = time.monotonic()
        servers.stop()
        print("timing: servers stopped in %.2f s" % (time.monotonic() - stopping))
    return results.finish()


if __name__ == "__main__":
    sys.exit(main())
