#!/usr/bin/python3
"""1 000 mails with copies in the Sent folder against 1 000 without, both by postira-run through the same real
Postfix (submission, STARTTLS, login) and Dovecot (IMAP with STARTTLS) on loopback, started by
tests/support/mail_servers.py; prints the medians and their ratio as a JSON line.

    bench/sent_copies.py [--runs N] [--count 1000] [--build build-bench]

Needs root, as the servers' fixture does. The two runs take turns within each round. A run's time is from
the start of postira-run to its end: the copies are in the folder when it ends, since the run waits for
them.
"""

import argparse
import json
import os
import statistics
import subprocess
import sys
import tempfile
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
sys.path.insert(0, str(ROOT / "tests" / "support"))

from mail_servers import MailServers  # noqa: E402

TEXT = ("Sehr geehrte(r) $Prename $Name,\r\n\r\nvielen Dank für Ihre Anfrage. Gern senden wir Ihnen unser "
        "Angebot über die Büromöbel für Ihre neuen Geschäftsräume in Köln.\r\n\r\nMit freundlichen Grüßen\r\n"
        "Ihr Vertriebsteam\r\n").encode()


def make_data(folder, servers, count, round_number):
    os.makedirs(folder)
    with open(os.path.join(folder, "postira.ini"), "wb") as f:
        f.write(b"%s\r\n%s\r\n%s\r\n%d\r\n" % (servers.host.encode(), servers.user.encode(),
                                              servers.password.encode(), servers.smtp_port))
    with open(os.path.join(folder, "defaultmail.txt"), "wb") as f:
        f.write(TEXT)
    with open(os.path.join(folder, "sendlist.csv"), "wb") as f:
        for i in range(count):
            fields = ["Kunde%d" % i, "Jörg", "kunde%d@example.test" % i, "Angebot %d/%d" % (round_number, i),
                      "default", "", ""]
            f.write(("".join(field + ";" for field in fields) + "\r\n").encode())


def timed_run(run, folder, servers, copies):
    env = dict(os.environ, XDG_DATA_HOME=os.path.join(folder, "xdg"), SSL_CERT_FILE=servers.ca_file)
    env.pop("SSL_CERT_DIR", None)
    options = ["--sent-copy", "--imap-host", servers.host, "--imap-port", str(servers.imap_port)] if copies \
        else ["--no-sent-copy"]
    started = time.perf_counter()
    subprocess.run([run, "--data-dir", folder, "--yes", "--no-resume", *options], check=True, env=env,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=1800)
    return time.perf_counter() - started


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--runs", type=int, default=3)
    parser.add_argument("--count", type=int, default=1000)
    parser.add_argument("--build", default=str(ROOT / "build-bench"))
    args = parser.parse_args()
    run = os.path.join(args.build, "cli", "postira-run")
    times = {"copies": [], "without": []}
    with MailServers() as servers, tempfile.TemporaryDirectory() as scratch:
        for round_number in range(args.runs):
            for kind in times:
                folder = os.path.join(scratch, "%s-%d" % (kind, round_number))
                make_data(folder, servers, args.count, round_number)
                times[kind].append(timed_run(run, folder, servers, kind == "copies"))
        copies = servers.message_count("Gesendete Elemente")
    with_copies, without = statistics.median(times["copies"]), statistics.median(times["without"])
    print(json.dumps({"count": args.count, "runs": args.runs, "copies_s": round(with_copies, 3),
                      "without_s": round(without, 3), "ratio": round(with_copies / without, 3),
                      "copies_in_folder": copies, "copies_all": times["copies"], "without_all": times["without"]}))
    return 0 if copies == args.count * args.runs else 1


if __name__ == "__main__":
    sys.exit(main())
