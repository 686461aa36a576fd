#!/usr/bin/python3
"""Mails sent by postira-run to the real SMTP peer (scripts/smtp_peer.py, aiosmtpd with AUTH LOGIN), judged
by Python's email package: headers, decoded body text and attachment bytes must equal what was sent.

The run is the program's own: a data folder with a plain settings file, a recipient list, text files and
attachments, and postira-run sending over its SMTP client.
"""

import os
import random
import subprocess
import sys
import tempfile

from postira_harness import PASSWORD, RUN, USER, Peer, body_text, stored, write
from results import Results

results = Results()
check = results.check

def run_mailing(data, port, password, lines, cc):
    write(os.path.join(data, "postira.ini"), b"127.0.0.1\r\n%s\r\n%s\r\n%d\r\n" % (USER.encode(), password.encode(), port))
    write(os.path.join(data, "sendlist.csv"), b"".join(line + b"\r\n" for line in lines))
    env = dict(os.environ, XDG_DATA_HOME=os.path.join(data, "xdg"))
    return subprocess.run([RUN, "--data-dir", data, "--cc", cc, "--yes"], capture_output=True, timeout=400, env=env)


def main():
    rng = random.Random(20261208)
    attachments = {
        "leer.bin": b"",
        "genau57.bin": bytes(rng.randrange(256) for _ in range(57)),
        "genau58.bin": bytes(rng.randrange(256) for _ in range(58)),
        "gross.bin": rng.randbytes(3 * 1024 * 1024),
        "Bericht März.txt": "Größe: 3 €\n".encode(),
    }
    cc = "kopie1@example.net, Kopie Zwei <kopie2@example.net>"
    text = "Hallo $Prename $Name,\r\n.\r\nGrüße aus Köln\r\n..zwei Punkte\r\nEnde\r\n".encode()
    ascii_text = b"Guten Tag $Prename,\r\nnur ASCII hier.\r\n"

    with tempfile.TemporaryDirectory() as tmp:
        data = os.path.join(tmp, "daten")
        inbox = os.path.join(tmp, "eingang")
        os.makedirs(data)
        write(os.path.join(data, "umlaut.txt"), text)
        long_line = "".join(chr(ord("a") + i % 26) for i in range(5000))
        write(os.path.join(data, "lang.txt"), ("Hallo\r\n" + long_line + "\r\n").encode())
        write(os.path.join(data, "defaultmail.txt"), ascii_text)
        for name, content in attachments.items():
            write(os.path.join(tmp, name), content)

        def line(surname, first, address, subject, textfile, attachment):
            fields = [surname, first, address, subject, textfile, "", attachment]
            return b"".join(f.encode() + b";" for f in fields)

        lines = [line("Klar", "Karl", "karl@example.net", "Einfach", "", "")]
        lines.append(line("Müller", "Jürgen", "Jürgen Müller <juergen@example.net>", "Grüße für Sie",
                          os.path.join(data, "umlaut.txt"), ""))
        lines.append(line("Lang", "Lena", "lena@example.net", "Lange Zeile", os.path.join(data, "lang.txt"), ""))
        for name in attachments:
            lines.append(line("Anhang", "Anna", "anna@example.net", "Anlage " + name, "",
                              os.path.join(tmp, name)))

        with Peer(inbox) as peer:
            result = run_mailing(data, peer.port, PASSWORD, lines, cc)
        check(result.returncode == 0, "postira-run exit code %d: %s %s" % (result.returncode, result.stdout,
                                                                          result.stderr))
        mails = stored(inbox)
        check(len(mails) == len(lines), "stored %d mails, sent %d" % (len(mails), len(lines)))

        for subject, (raw, message, envelope) in mails.items():
            check(all(b < 128 for b in raw), subject + ": raw 8-bit bytes in the message")
            check(not message.defects, subject + ": parser defects %r" % message.defects)
            check(str(message["from"]) == USER and str(message["sender"]) == USER, subject + ": From/Sender")
            check(message["x-priority"] == "3" and message["date"] is not None, subject + ": Date/X-Priority")
            check(envelope["mail_from"] == USER and envelope["login"] == USER, subject + ": envelope sender/login")
            check(envelope["rcpt_tos"][1:] == ["kopie1@example.net", "kopie2@example.net"],
                  subject + ": copy recipients %r" % envelope["rcpt_tos"])
            check([a.addr_spec for a in message["cc"].addresses] == ["kopie1@example.net", "kopie2@example.net"]
                  and message["cc"].addresses[1].display_name == "Kopie Zwei", subject + ": Cc header")

        plain = mails.get("Einfach")
        if plain:
            raw, message, envelope = plain
            check(envelope["rcpt_tos"][0] == "karl@example.net", "plain: recipient")
            check(message.get_content_type() == "text/plain" and "MIME-Version" not in message,
                  "plain: an ASCII mail stays a plain message")
            check(body_text(message) == "Guten Tag Karl,\nnur ASCII hier.\n", "plain: body %r" % body_text(message))

        umlaut = mails.get("Grüße für Sie")
        check(umlaut is not None, "umlauts: subject not decoded back, got %r" % list(mails))
        if umlaut:
            raw, message, envelope = umlaut
            to = message["to"].addresses[0]
            check(to.display_name == "Jürgen Müller" and to.addr_spec == "juergen@example.net",
                  "umlauts: To %r" % str(message["to"]))
            check(envelope["rcpt_tos"][0] == "juergen@example.net", "umlauts: envelope recipient")
            check(message.get_content_charset() == "utf-8", "umlauts: charset %r" % message.get_content_charset())
            check(body_text(message) == "Hallo Jürgen Müller,\n.\nGrüße aus Köln\n..zwei Punkte\nEnde\n",
                  "umlauts: body %r" % body_text(message))

        # A line of 5 000 characters arrives whole, and no line on the wire is longer than 998 octets.
        long_mail = mails.get("Lange Zeile")
        check(long_mail is not None and body_text(long_mail[1]) == "Hallo\n" + long_line + "\n", "long line: body")
        check(long_mail is not None and max(len(l) for l in long_mail[0].split(b"\r\n")) <= 998, "long line: wire")

        for name, content in attachments.items():
            mail = mails.get("Anlage " + name)
            check(mail is not None, name + ": not stored")
            if not mail:
                continue
            raw, message, envelope = mail
            check(message.get_content_type() == "multipart/mixed", name + ": content type")
            check(body_text(message) == "Guten Tag Anna,\nnur ASCII hier.\n", name + ": body")
            files = list(message.iter_attachments())
            check(len(files) == 1, name + ": %d attachments" % len(files))
            if files:
                check(files[0].get_filename() == name, name + ": file name %r" % files[0].get_filename())
                check(files[0].get_content_type() == "application/octet-stream", name + ": attachment type")
                check(files[0].get_payload(decode=True) == content, name + ": attachment bytes differ")

        # A wrong password: the login is refused, the line fails, nothing is delivered.
        refused = os.path.join(tmp, "abgewiesen")
        with Peer(refused, password="anderes") as peer:
            result = run_mailing(data, peer.port, PASSWORD, lines[:1], "")
        check(result.returncode == 1 and b"Fehler beim Senden an karl@example.net" in result.stdout,
              "wrong password: exit %d, %r" % (result.returncode, result.stdout))
        check(not [n for n in os.listdir(refused) if n.endswith(".eml")], "wrong password: a mail was stored")

    return results.finish()


if __name__ == "__main__":
    sys.exit(main())
