#!/usr/bin/python3
"""1 000 HTML mails with a 300 KB picture against 1 000 plain mails with the same file as attachment,
each sent by postira-run to smtp-sink on loopback; prints the medians and their ratio as a JSON line.

    bench/html_mail.py [--runs N] [--count 1000] [--build build-bench]

The two runs take turns within each round, so that a busy moment of the machine falls on both alike.
The goal: the HTML run takes at most 1.2 times as long, which holds when the picture is read and
encoded once for the run rather than once a mail, as the attachment is.
"""

import argparse
import json
import os
import shutil
import signal
import socket
import statistics
import subprocess
import sys
import tempfile
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
LOOPBACK = "127.0.0.1"
USER = "bench@example.test"
PICTURE_BYTES = 300 * 1024

HTML = """<!DOCTYPE html>
<html><head><meta charset="utf-8"><style>p { font-family: sans-serif }</style></head><body>
<p><img src="logo.png" alt="Firmenlogo" width="200"></p>
<p>Sehr geehrte(r) $Prename $Name,</p>
<p>vielen Dank für Ihre Anfrage. Gern senden wir Ihnen unser Angebot über die <b>Büromöbel</b> für Ihre
neuen Geschäftsräume in Köln:</p>
<ul><li>Schreibtische: Eiche hell oder Weiß</li><li>Drehstühle: Stoffbezug in Grau</li>
<li>Rollcontainer: drei Schubladen</li></ul>
<p>Die Preise finden Sie in unserer <a href="https://example.test/preise">Preisliste</a>.</p>
<p>Mit freundlichen Grüßen aus Düsseldorf<br>Ihr Vertriebsteam</p>
</body></html>
"""
PLAIN = """Sehr geehrte(r) $Prename $Name,

vielen Dank für Ihre Anfrage. Gern senden wir Ihnen unser Angebot über die Büromöbel für Ihre
neuen Geschäftsräume in Köln:

- Schreibtische: Eiche hell oder Weiß
- Drehstühle: Stoffbezug in Grau
- Rollcontainer: drei Schubladen

Die Preise finden Sie in unserer Preisliste <https://example.test/preise>.

Mit freundlichen Grüßen aus Düsseldorf
Ihr Vertriebsteam
"""


def free_port():
    with socket.socket() as probe:
        probe.bind((LOOPBACK, 0))
        return probe.getsockname()[1]


def start_sink():
    sink = shutil.which("smtp-sink") or "/usr/sbin/smtp-sink"
    port = free_port()
    command = [sink] + (["-u", "nobody"] if os.geteuid() == 0 else []) + ["-a", "%s:%d" % (LOOPBACK, port), "1000"]
    process = subprocess.Popen(command, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    deadline = time.time() + 10
    while time.time() < deadline:
        try:
            with socket.create_connection((LOOPBACK, port), timeout=1):
                return process, port
        except OSError:
            time.sleep(0.05)
    process.kill()
    raise SystemExit("html_mail: smtp-sink did not start")


def make_folder(folder, port, count, html):
    os.makedirs(folder)
    with open(os.path.join(folder, "postira.ini"), "wb") as f:
        f.write(b"127.0.0.1\r\n%s\r\nbench-passwort\r\n%d\r\n" % (USER.encode(), port))
    picture = os.path.join(folder, "logo.png")
    with open(picture, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n" + os.urandom(PICTURE_BYTES - 8))
    text = os.path.join(folder, "brief.html" if html else "brief.txt")
    with open(text, "w", encoding="utf-8") as f:
        f.write(HTML if html else PLAIN)
    with open(os.path.join(folder, "sendlist.csv"), "wb") as f:
        for i in range(count):
            fields = ["Müller%d" % i, "Jürgen", "kunde%d@example.test" % i, "Angebot", text, "",
                      "" if html else picture]
            f.write(("".join(field + ";" for field in fields) + "\r\n").encode())


def timed_run(run, folder):
    env = dict(os.environ, XDG_DATA_HOME=os.path.join(folder, "xdg"))
    started = time.perf_counter()
    subprocess.run([run, "--data-dir", folder, "--no-resume", "--yes"], check=True, env=env,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=900)
    return time.perf_counter() - started


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--count", type=int, default=1000)
    parser.add_argument("--build", default=str(ROOT / "build-bench"))
    args = parser.parse_args()
    run = os.path.join(args.build, "cli", "postira-run")
    sink, port = start_sink()
    times = {"html": [], "plain": []}
    try:
        with tempfile.TemporaryDirectory() as scratch:
            for kind in times:
                make_folder(os.path.join(scratch, kind), port, args.count, kind == "html")
            for _ in range(args.runs):
                for kind in times:
                    times[kind].append(timed_run(run, os.path.join(scratch, kind)))
    finally:
        sink.send_signal(signal.SIGTERM)
        sink.wait(timeout=10)
    html, plain = statistics.median(times["html"]), statistics.median(times["plain"])
    print(json.dumps({"count": args.count, "runs": args.runs, "html_s": round(html, 3), "plain_s": round(plain, 3),
                      "ratio": round(html / plain, 3), "html_all": times["html"], "plain_all": times["plain"]}))
    return 0


if __name__ == "__main__":
    sys.exit(main())
