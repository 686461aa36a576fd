"""What the integration tests share: the paths of the build, the SMTP peer as a child process that is
always stopped, and reading the mails the peer stored."""

import email
import email.policy
import json
import os
import subprocess
import threading

BUILD = os.environ.get("POSTIRA_BUILD_DIR", os.path.join(os.path.dirname(__file__), "..", "..", "build"))
SOURCE = os.environ.get("POSTIRA_SOURCE_DIR", os.path.join(os.path.dirname(__file__), "..", ".."))
RUN = os.path.join(BUILD, "cli", "postira-run")
PEER = os.path.join(SOURCE, "scripts", "smtp_peer.py")

USER = "absender@example.org"
PASSWORD = "geheim"



class Peer:
    """The SMTP peer as a child process; stopped (and if need be killed) whatever happens."""

    def __init__(self, folder, password=PASSWORD):
        self.process = subprocess.Popen(
            ["/usr/bin/python3", PEER, folder, "--user", USER, "--password", password, "--lifetime", "500"],
            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        self.port = None
        line = []
        reader = threading.Thread(target=lambda: line.append(self.process.stdout.readline()), daemon=True)
        reader.start()
        reader.join(60)
        if not line or not line[0].startswith("PORT "):
            self.stop()
            raise RuntimeError("the SMTP peer did not start")
        self.port = int(line[0].split()[1])

    def stop(self):
        if self.process.poll() is None:
            self.process.terminate()
            try:
                self.process.wait(15)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.stop()


def write(path, data):
    with open(path, "wb") as out:
        out.write(data)


def stored(folder):
    mails = {}
    for name in sorted(os.listdir(folder)):
        if name.endswith(".eml"):
            with open(os.path.join(folder, name), "rb") as f:
                raw = f.read()
            with open(os.path.join(folder, name[:-4] + ".json"), encoding="utf-8") as f:
                envelope = json.load(f)
            message = email.message_from_bytes(raw, policy=email.policy.default)
            mails[str(message["subject"])] = (raw, message, envelope)
    return mails


def body_text(message):
    part = message.get_body(preferencelist=("plain",))
    return part.get_content().replace("\r\n", "\n")


