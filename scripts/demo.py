#!/usr/bin/python3
"""A first mailing run without a mail server.

Starts the project's SMTP peer on a free loopback port, makes a throwaway data folder with account settings
for it, a sample recipient list and a standard text, and starts Postira on it (or, with --cli, runs the list
headless with postira-run). The peer stores every mail it receives as an .eml file; at the end the demo says
how many arrived. Nothing of the user's own data is touched, and nothing is left running.
"""

import argparse
import email
import email.policy
import os
import shutil
import signal
import subprocess
import sys
import tempfile
from pathlib import Path

HERE = Path(__file__).resolve().parent
DEMO_USER = "demo@example.test"
DEMO_PASSWORD = "demo-passwort"

RECIPIENTS = [
    # surname, first name, address, subject, text file, result, attachment
    ("Müller", "Jürgen", "juergen.mueller@example.test", "Ihr Angebot über Büromöbel", "default", "not send", ""),
    ("Schäfer", "Anna-Lena", "a.schaefer@example.test", "Unterlagen zur Besprechung", "default", "not send",
     "{attachment}"),
    ("Öztürk", "", "oeztuerk@example.test", "Ohne Vorname wird nicht gesendet", "default", "not send", ""),
    ("Weiß", "Günther", "g.weiss@example.test", "Einladung zum Sommerfest", "default", "not send", ""),
    ("Krämer", "Sophie", "sophie.kraemer@example.test", "Grüße aus Köln", "default", "not send", ""),
]

STANDARD_TEXT = [
    "Sehr geehrte(r) Frau/Herr $PreName $Name,",
    "",
    "vielen Dank für Ihr Interesse. Dies ist eine Demo-Mail von Postira:",
    "Ihr Vorname ($Prename) und Ihr Nachname ($Name) wurden für Sie eingesetzt.",
    "",
    "Mit freundlichen Grüßen",
    "Ihr Postira-Team",
]


def start_peer(store: Path, lifetime: int):
    """Starts the SMTP peer and returns (process, port). The peer ends by itself after `lifetime` seconds,
    so that it can never be left behind."""
    peer = subprocess.Popen(
        ["/usr/bin/python3", str(HERE / "smtp_peer.py"), str(store), "--user", DEMO_USER,
         "--password", DEMO_PASSWORD, "--lifetime", str(lifetime)],
        stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True, start_new_session=True)
    words = peer.stdout.readline().split()
    if len(words) != 2 or words[0] != "PORT" or not words[1].isdigit():
        peer.kill()
        peer.wait()
        raise SystemExit("Der Demo-Mailserver ist nicht gestartet.")
    return peer, int(words[1])


def stop_peer(peer):
    if peer.poll() is None:
        peer.send_signal(signal.SIGTERM)
        try:
            peer.wait(timeout=10)
        except subprocess.TimeoutExpired:
            os.killpg(peer.pid, signal.SIGKILL)
            peer.wait()


def make_data_folder(home: Path, port: int) -> Path:
    folder = home / "ptdata"
    folder.mkdir(parents=True)
    # A plain settings file is accepted by Postira and enciphered on its next save.
    (folder / "postira.ini").write_bytes(
        f"127.0.0.1\r\n{DEMO_USER}\r\n{DEMO_PASSWORD}\r\n{port}\r\n".encode())
    attachment = folder / "Preisliste.txt"
    attachment.write_bytes("Preisliste (Demo)\r\nStuhl: 89,00 €\r\nTisch: 249,00 €\r\n".encode())
    lines = []
    for record in RECIPIENTS:
        fields = [field.replace("{attachment}", str(attachment)) for field in record]
        lines.append(";".join(fields) + ";")
    (folder / "sendlist.csv").write_bytes(("\r\n".join(lines) + "\r\n").encode())
    (folder / "defaultmail.txt").write_bytes(("\r\n".join(STANDARD_TEXT) + "\r\n").encode())
    return folder


def received_mails(store: Path):
    mails = []
    for path in sorted(store.glob("*.eml")):
        with open(path, "rb") as handle:
            mails.append((path, email.message_from_binary_file(handle, policy=email.policy.default)))
    return mails


def end_on_signal(signum, _frame):
    # Turned into an ordinary exit, so that the demo server is stopped on the way out.
    raise SystemExit(128 + signum)


def main() -> int:
    for sig in (signal.SIGTERM, signal.SIGHUP):
        signal.signal(sig, end_on_signal)
    parser = argparse.ArgumentParser(description="Postira-Demo ohne eigenen Mailserver")
    parser.add_argument("--build", required=True, help="Build-Ordner mit app/postira und cli/postira-run")
    parser.add_argument("--cli", action="store_true", help="die Liste ohne Fenster mit postira-run senden")
    parser.add_argument("--keep", action="store_true", help="Demo-Ordner am Ende nicht löschen")
    args = parser.parse_args()
    build = Path(args.build)

    root = Path(tempfile.mkdtemp(prefix="postira-demo-"))
    store = root / "empfangen"
    store.mkdir()
    home = root / "daten"
    runtime = root / "runtime"
    runtime.mkdir(mode=0o700)
    env = dict(os.environ, XDG_DATA_HOME=str(home), XDG_RUNTIME_DIR=str(runtime))

    # The window may stay open for a long session; a headless run is over in seconds.
    peer, port = start_peer(store, 600 if args.cli else 12 * 3600)
    code = 0
    try:
        try:
            folder = make_data_folder(home, port)
            print(f"Demo-Mailserver: 127.0.0.1:{port} (Anmeldung {DEMO_USER} / {DEMO_PASSWORD})")
            print(f"Demo-Datenordner: {folder}")
            print(f"Empfangene Mails landen als .eml-Dateien in: {store}")
            if args.cli:
                result = subprocess.run([str(build / "cli" / "postira-run"), "--data-dir", str(folder)], env=env)
                code = result.returncode
            else:
                print("Postira startet. Klicken Sie auf »Mailing starten« (dritte Schaltfläche), um die Liste zu senden.")
                print(f"Ansehen lassen sich die Mails z. B. mit: less {store}/*.eml")
                code = subprocess.run([str(build / "app" / "postira")], env=env).returncode
        finally:
            stop_peer(peer)

        mails = received_mails(store)
        print(f"{len(mails)} Mails sind beim Demo-Mailserver angekommen:")
        for path, message in mails:
            print(f"  An: {message['To']}  Betreff: {message['Subject']}  ({path.name})")
    finally:
        if args.keep:
            print(f"Der Demo-Ordner bleibt erhalten: {root}")
        else:
            shutil.rmtree(root, ignore_errors=True)
    return code


if __name__ == "__main__":
    sys.exit(main())
