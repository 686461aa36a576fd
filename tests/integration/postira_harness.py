"""What the integration tests share: the paths of the build, the SMTP peer as a child process that is
always stopped, and reading the mails the peer stored."""

import email
import email.policy
import json
import os

from peer_process import PeerProcess

BUILD = os.environ.get("POSTIRA_BUILD_DIR", os.path.join(os.path.dirname(__file__), "..", "..", "build"))

RUN = os.path.join(BUILD, "cli", "postira-run")

USER = "absender@example.org"
PASSWORD = "geheim"



class Peer(PeerProcess):
    """The SMTP peer with the tests' login; stopped (and if need be killed) whatever happens."""

    def __init__(self, folder, password=PASSWORD, *options):
        super().__init__(folder, "--user", USER, "--password", password, "--lifetime", "500", *options)


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


