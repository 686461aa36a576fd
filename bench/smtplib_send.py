#!/usr/bin/python3
"""The serial mail as a Python user would send it instead of using Postira: the standard library only.

    smtplib_send.py --port PORT --data-dir FOLDER --cc ADDRESS [--user USER --password PASSWORD]

Reads FOLDER/sendlist.csv (lines "surname;first name;address;subject;text file;...") and
FOLDER/defaultmail.txt, puts each line's names into the text ($Prename, $Name, letters in any case),
builds each mail with email.message.EmailMessage and sends it with smtplib over one connection to
127.0.0.1:PORT, logging in once when a user is given and the server offers AUTH. Lines without a first name or an address are
skipped, as Postira skips them. Prints the number of mails sent.
"""

import argparse
import email.utils
import re
import smtplib
import sys
from email.message import EmailMessage
from pathlib import Path

PRENAME = re.compile(re.escape("$Prename"), re.IGNORECASE)
NAME = re.compile(re.escape("$Name"), re.IGNORECASE)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--port", type=int, required=True)
    parser.add_argument("--data-dir", required=True)
    parser.add_argument("--cc", required=True)
    parser.add_argument("--user", default="")
    parser.add_argument("--password", default="")
    parser.add_argument("--sender", default="bench@example.test")
    args = parser.parse_args()
    folder = Path(args.data_dir)
    text = (folder / "defaultmail.txt").read_text(encoding="utf-8")
    lines = (folder / "sendlist.csv").read_text(encoding="utf-8").splitlines()

    sent = 0
    with smtplib.SMTP("127.0.0.1", args.port, local_hostname="bench", timeout=60) as smtp:
        smtp.ehlo_or_helo_if_needed()
        # Like Postira: a login where the server offers one.
        if args.user and smtp.has_extn("auth"):
            smtp.login(args.user, args.password)
        for line in lines:
            fields = line.split(";")
            if len(fields) < 4:
                continue
            surname, first_name, address, subject = (field.strip() for field in fields[:4])
            if not first_name or not address:
                continue
            message = EmailMessage()
            message["From"] = args.user or args.sender
            message["To"] = address
            message["Cc"] = args.cc
            message["Subject"] = subject
            message["Date"] = email.utils.formatdate(localtime=True)
            body = NAME.sub(lambda _: surname, PRENAME.sub(lambda _: first_name, text))
            message.set_content(body)
            smtp.send_message(message)
            sent += 1
    print("%d mails" % sent)
    return 0


if __name__ == "__main__":
    sys.exit(main())
