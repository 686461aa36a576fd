#!/usr/bin/python3
"""Mails over TLS to the real SMTP peer (scripts/smtp_peer.py, aiosmtpd), with a CA and server certificates
made here with the openssl command.

postira-run itself sends over STARTTLS; it trusts the test CA through SSL_CERT_FILE, as every OpenSSL
program does, and must refuse a certificate for another host, an expired one, one signed by a CA it does not
trust, and a server that injects plain text after its "220 Ready to start TLS". Implicit TLS (port 465 in
the program) is checked on a free port with tests/tools/smtp_tool, which sends through the same session with
implicit TLS switched on.
"""

import base64
import json
import os
import shutil
import subprocess
import sys
import tempfile

from peer_process import PeerProcess
from results import Results

BUILD = os.environ.get("POSTIRA_BUILD_DIR", os.path.join(os.path.dirname(__file__), "..", "..", "build"))
SOURCE = os.environ.get("POSTIRA_SOURCE_DIR", os.path.join(os.path.dirname(__file__), "..", ".."))
RUN = os.path.join(BUILD, "cli", "postira-run")
TOOL = os.path.join(BUILD, "tests", "smtp_tool")

USER = "absender@example.org"
PASSWORD = "geheim-ueber-tls"
SECRETS = [b"AUTH", PASSWORD.encode(), base64.b64encode(PASSWORD.encode()), base64.b64encode(USER.encode())]

results = Results()
check = results.check

OPENSSL_CONFIG = os.path.join(SOURCE, "tests", "support", "test_certificates.cnf")


def make_certificates(folder):
    """A CA, and certificates it signs: for localhost and 127.0.0.1, for another host, and an expired one.
    Also a second CA with a certificate for 127.0.0.1, which nobody trusts."""
    shutil.copy(OPENSSL_CONFIG, os.path.join(folder, "openssl.cnf"))
    open(os.path.join(folder, "index.txt"), "w").close()
    with open(os.path.join(folder, "serial"), "w") as out:
        out.write("01\n")
    key = ["-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-noenc"]

    def openssl(*args):
        subprocess.run(["openssl", *args], cwd=folder, check=True, capture_output=True)

    def make_ca(name):
        openssl("req", "-config", "openssl.cnf", "-x509", *key, "-keyout", name + ".key", "-out", name + ".pem",
                "-days", "3650", "-extensions", "ca_ext", "-subj", "/CN=Postira Test " + name)

    def issue(ca, name, extensions, *validity):
        openssl("req", "-config", "openssl.cnf", "-new", *key, "-keyout", name + ".key", "-out", name + ".csr",
                "-subj", "/CN=" + name)
        openssl("ca", "-config", "openssl.cnf", "-batch", "-notext", "-cert", ca + ".pem", "-keyfile", ca + ".key",
                "-in", name + ".csr", "-out", name + ".pem", "-extensions", extensions, *validity)
        return [os.path.join(folder, name + ".pem"), os.path.join(folder, name + ".key")]

    make_ca("ca")
    make_ca("stranger_ca")
    return {
        "ca": os.path.join(folder, "ca.pem"),
        "localhost": issue("ca", "localhost", "localhost_ext", "-days", "3650"),
        "other": issue("ca", "other", "other_ext", "-days", "3650"),
        "expired": issue("ca", "expired", "localhost_ext", "-startdate", "20200101000000Z",
                         "-enddate", "20210101000000Z"),
        "stranger": issue("stranger_ca", "stranger", "localhost_ext", "-days", "3650"),
    }


class Peer(PeerProcess):
    """The peer with the test's login, and what it recorded."""

    def __init__(self, folder, *options):
        super().__init__(folder, "--user", USER, "--password", PASSWORD, "--lifetime", "300", *options)

    def plaintext(self):
        path = os.path.join(self.folder, "plaintext.log")
        if not os.path.exists(path):
            return b""
        with open(path, "rb") as f:
            return f.read()

    def mails(self):
        stored = []
        for name in sorted(os.listdir(self.folder)):
            if name.endswith(".eml"):
                with open(os.path.join(self.folder, name), "rb") as f:
                    raw = f.read()
                with open(os.path.join(self.folder, name[:-4] + ".json"), encoding="utf-8") as f:
                    stored.append((raw, json.load(f)))
        return stored


def write(path, data):
    with open(path, "wb") as out:
        out.write(data)


def run_mailing(data, port, ca_file):
    """postira-run with one recipient; SSL_CERT_FILE names the CA it trusts (none: the system's store)."""
    os.makedirs(data, exist_ok=True)
    write(os.path.join(data, "postira.ini"), b"127.0.0.1\r\n%s\r\n%s\r\n%d\r\n" % (USER.encode(), PASSWORD.encode(), port))
    write(os.path.join(data, "defaultmail.txt"), b"Hallo $Prename,\r\ndiese Mail kam verschluesselt.\r\n")
    write(os.path.join(data, "sendlist.csv"), b"Meier;Hans;hans@example.net;Gesichert;;x;;\r\n")
    env = dict(os.environ, XDG_DATA_HOME=os.path.join(data, "xdg"))
    env.pop("SSL_CERT_FILE", None)
    env.pop("SSL_CERT_DIR", None)
    if ca_file:
        env["SSL_CERT_FILE"] = ca_file
    return subprocess.run([RUN, "--data-dir", data, "--yes"], capture_output=True, timeout=120, env=env)


def no_secret_in(data):
    return not any(secret in data for secret in SECRETS)


def check_delivered_over_starttls(tmp, certs):
    with Peer(os.path.join(tmp, "upgrade"), "--starttls", *certs["localhost"]) as peer:
        done = run_mailing(os.path.join(tmp, "data-upgrade"), peer.port, certs["ca"])
        check(done.returncode == 0, "STARTTLS: postira-run failed: %r" % done.stderr.decode(errors="replace"))
        mails = peer.mails()
        check(len(mails) == 1, "STARTTLS: %d mails arrived" % len(mails))
        if mails:
            raw, envelope = mails[0]
            check(envelope["tls"] and envelope["login"] == USER, "STARTTLS: envelope %r" % envelope)
            check(b"diese Mail kam verschluesselt." in raw, "STARTTLS: body missing")
        # In plain text the client said hello and asked for TLS, nothing more.
        plain = peer.plaintext().split(b"\r\n")
        check(len(plain) == 3 and plain[0].startswith(b"EHLO ") and plain[1:] == [b"STARTTLS", b""],
              "STARTTLS: plain text %r" % plain)


def check_refused_certificates(tmp, certs):
    cases = [
        ("other host", certs["other"], certs["ca"], "mismatch"),
        ("expired", certs["expired"], certs["ca"], "certificate has expired"),
        ("CA not trusted", certs["stranger"], certs["ca"], "Zertifikat des Servers ungültig"),
        # The system's trust store alone does not know the test CA.
        ("system store only", certs["localhost"], None, "Zertifikat des Servers ungültig"),
    ]
    for name, server_files, ca_file, reason in cases:
        with Peer(os.path.join(tmp, "refused " + name), "--starttls", *server_files) as peer:
            done = run_mailing(os.path.join(tmp, "data " + name), peer.port, ca_file)
            err = done.stderr.decode("utf-8", "replace")
            check(done.returncode == 1, "%s: exit code %d" % (name, done.returncode))
            check("Fehler: Fehler beim Mailversand." in err, "%s: no send error on stderr: %r" % (name, err))
            check("Ursache: TLS-Verbindung fehlgeschlagen: " in err and reason in err,
                  "%s: the reason is not told: %r" % (name, err))
            check(peer.mails() == [], "%s: a mail arrived" % name)
            plain = peer.plaintext()
            check(no_secret_in(plain) and plain.endswith(b"STARTTLS\r\n"), "%s: plain text %r" % (name, plain))


def check_injected_plaintext(tmp, certs):
    with Peer(os.path.join(tmp, "inject"), "--starttls", *certs["localhost"], "--inject-after-starttls") as peer:
        done = run_mailing(os.path.join(tmp, "data-inject"), peer.port, certs["ca"])
        err = done.stderr.decode("utf-8", "replace")
        check(done.returncode == 1, "injection: exit code %d" % done.returncode)
        check("Ursache: Unverschlüsselte Daten nach STARTTLS" in err, "injection: reason %r" % err)
        check(peer.mails() == [], "injection: a mail arrived")
        plain = peer.plaintext()
        # After STARTTLS only the QUIT: no handshake, no AUTH, no MAIL FROM.
        after = plain.split(b"STARTTLS\r\n", 1)
        check(len(after) == 2 and after[1] == b"QUIT\r\n", "injection: plain text %r" % plain)
        check(no_secret_in(plain) and b"MAIL FROM" not in plain, "injection: plain text %r" % plain)


def check_implicit_tls(tmp, certs):
    attachment = os.path.join(tmp, "anlage.bin")
    payload = os.urandom(300 * 1024)
    write(attachment, payload)
    with Peer(os.path.join(tmp, "implicit"), "--implicit-tls", *certs["localhost"]) as peer:
        done = subprocess.run([TOOL, "localhost", str(peer.port), USER, "hans@example.net", "--implicit-tls",
                               "--ca", certs["ca"], "--user", USER, "--password", PASSWORD, "--attachment",
                               attachment], capture_output=True, timeout=120)
        check(done.returncode == 0 and done.stdout == b"encrypted\n",
              "implicit TLS: %r %r" % (done.stdout, done.stderr))
        mails = peer.mails()
        check(len(mails) == 1, "implicit TLS: %d mails arrived" % len(mails))
        if mails:
            raw, envelope = mails[0]
            check(envelope["tls"] and envelope["login"] == USER, "implicit TLS: envelope %r" % envelope)
            check(base64.b64encode(payload)[:1000] in raw.replace(b"\r\n", b""), "implicit TLS: attachment damaged")
        check(peer.plaintext() == b"", "implicit TLS: plain text received")
    # A plain server on the implicit TLS setting: the handshake fails and the session does not fall back.
    with Peer(os.path.join(tmp, "implicit-plain")) as peer:
        done = subprocess.run([TOOL, "127.0.0.1", str(peer.port), USER, "hans@example.net", "--implicit-tls",
                               "--ca", certs["ca"], "--user", USER, "--password", PASSWORD],
                              capture_output=True, timeout=120)
        check(done.returncode == 1 and b"TLS-Verbindung fehlgeschlagen" in done.stderr,
              "implicit TLS to a plain server: %r" % done.stderr)
        check(peer.mails() == [], "implicit TLS to a plain server: the mail went in plain text")


def main():
    with tempfile.TemporaryDirectory() as tmp:
        certs_folder = os.path.join(tmp, "certs")
        os.makedirs(certs_folder)
        certs = make_certificates(certs_folder)
        check_delivered_over_starttls(tmp, certs)
        check_refused_certificates(tmp, certs)
        check_injected_plaintext(tmp, certs)
        check_implicit_tls(tmp, certs)
    return results.finish()


if __name__ == "__main__":
    sys.exit(main())
