#!/usr/bin/python3
"""postira-run's OAuth2 sign-in and its runs over AUTH XOAUTH2, against the stand-in provider
(tests/support/oauth_provider.py) and the real SMTP peer, whose list of good tokens is the provider's list
of the tokens it issued and has not yet seen expire. The secrets go to a real Secret Service: gnome-keyring
on a session bus that this test starts for itself, so that it never reads or writes the keyring of the user
who runs it.

- --sign-in with a code on another device: the address and the code are shown while the program waits, the
  polls wait through authorization_pending and slow_down, and then a 300-line run whose access token runs
  out several times sends every mail, each login with a token the server accepted;
- --sign-in in the browser (this script is the browser: it opens the printed address and follows the
  redirects), then a run during which the server stops taking tokens that the program still holds for good:
  each is renewed once and the mail goes out;
- a refresh the provider refuses: the German cause that says to sign in again, exit 1, and the account's
  old password neither on the wire nor in any log;
- after each sign-in the refresh token is in the keyring and in no file of the data folder; --sign-out
  removes it;
- without a session bus the sign-in keeps the token in the 0600 file and says so once; Ctrl-C ends a
  sign-in that waits.
"""

import base64
import json
import os
import shutil
import signal
import stat
import subprocess
import sys
import tempfile
import time
import urllib.request

import dbus

from peer_process import PROVIDER, PeerProcess, ServerProcess
from postira_harness import RUN, stored, write
from results import Results

CLIENT_ID = "postira-test"
DEVICE_GRANT = "urn:ietf:params:oauth:grant-type:device_code"
KEYRING_PASSWORD = "postira-test"
TEXT = "Guten Tag $Prename $Name,\r\nIhr Termin steht im Betreff.\r\n".encode()
# The account's password from before the switch to OAuth2, still in the settings file: it must not leave it.
OLD_PASSWORD = "Kennwort-7r2x"
# Every server of this test ends by itself after this long, so that none outlives a test that died.
SERVER_LIFETIME = "300"

results = Results()
check = results.check


# ---- A keyring of the test's own ----

def on_private_keyring():
    """Runs this script again on a session bus of its own, with private runtime and data folders for the
    keyring daemon; returns its exit code."""
    missing = [tool for tool in ("dbus-run-session", "gnome-keyring-daemon") if shutil.which(tool) is None]
    if missing:
        print("FAIL: %s missing (scripts/setup installs it)" % ", ".join(missing))
        print("0 passed, 1 failed")
        return 1
    scratch = tempfile.mkdtemp(prefix="postira-oauth.")
    env = dict(os.environ, POSTIRA_TEST_OWN_KEYRING=scratch)
    for name in ("XDG_RUNTIME_DIR", "XDG_DATA_HOME", "XDG_CONFIG_HOME", "XDG_CACHE_HOME"):
        env[name] = os.path.join(scratch, name.lower())
        os.makedirs(env[name], mode=0o700)
    try:
        return subprocess.run(["dbus-run-session", "--", "/usr/bin/python3", os.path.abspath(__file__)],
                              env=env, timeout=540).returncode
    finally:
        shutil.rmtree(scratch, ignore_errors=True)


def start_keyring():
    subprocess.run(["gnome-keyring-daemon", "--unlock", "--components=secrets"], input=KEYRING_PASSWORD.encode(),
                   capture_output=True, timeout=60)
    deadline = time.monotonic() + 20
    while not dbus.SessionBus().name_has_owner("org.freedesktop.secrets"):
        if time.monotonic() > deadline:
            raise RuntimeError("gnome-keyring-daemon did not come onto the session bus")
        time.sleep(0.1)


def keyring_secret(user):
    """The account's refresh token as the Secret Service holds it, or None."""
    bus = dbus.SessionBus()
    service = dbus.Interface(bus.get_object("org.freedesktop.secrets", "/org/freedesktop/secrets"),
                             "org.freedesktop.Secret.Service")
    _output, session = service.OpenSession("plain", dbus.String("", variant_level=1))
    unlocked, locked = service.SearchItems({"server": "Postira", "user": "refresh-token:" + user})
    check(not locked, "the keyring holds no locked item for %s" % user)
    if not unlocked:
        return None
    _session, _parameters, value, _content_type = service.GetSecrets(unlocked, session)[unlocked[0]]
    item = bus.get_object("org.freedesktop.secrets", unlocked[0])
    attributes = item.Get("org.freedesktop.Secret.Item", "Attributes",
                          dbus_interface="org.freedesktop.DBus.Properties")
    # Kept as binary data, the secret is stored as its base64 text.
    return (base64.b64decode(bytes(value)) if attributes.get("type") == "base64" else bytes(value)).decode()


# ---- The servers and the data folder ----

class Provider(ServerProcess):
    def __init__(self, folder, *options):
        os.makedirs(folder)
        self.tokens = os.path.join(folder, "good-tokens.txt")
        super().__init__(PROVIDER, "--client-id", CLIENT_ID, "--issued-tokens", self.tokens,
                         "--lifetime", SERVER_LIFETIME, *options)

    def url(self, path):
        return "http://127.0.0.1:%d%s" % (self.port, path)

    def log(self):
        with urllib.request.urlopen(self.url("/log"), timeout=30) as reply:
            return json.load(reply)

    def refresh_tokens(self):
        return [entry["refresh_token"] for entry in self.log() if entry.get("refresh_token")]


def peer_for(folder, user, provider, *options):
    """The SMTP peer that takes the provider's good tokens for `user`, and also the old password over AUTH
    LOGIN, so that a client that sent it would get in; --record keeps every byte it was sent."""
    return PeerProcess(folder, "--user", user, "--password", OLD_PASSWORD, "--xoauth2-tokens", provider.tokens,
                       "--record", "--lifetime", SERVER_LIFETIME, *options)


def make_data(folder, user, port, provider, count, device=True):
    os.makedirs(folder)
    write(os.path.join(folder, "postira.ini"),
          b"127.0.0.1\r\n%s\r\n%s\r\n%d\r\n" % (user.encode(), OLD_PASSWORD.encode(), port))
    write(os.path.join(folder, "defaultmail.txt"), TEXT)
    options = ["sign-in=oauth2", "client-id=" + CLIENT_ID, "authorize-url=" + provider.url("/authorize"),
               "token-url=" + provider.url("/token"), "scope=mail.send offline_access"]
    if device:
        options.append("device-url=" + provider.url("/devicecode"))
    write(os.path.join(folder, "postira-optionen.ini"), "".join(line + "\r\n" for line in options).encode())
    write(os.path.join(folder, "sendlist.csv"),
          b"".join(("Muster%d;Erika%d;kunde%d@example.test;Termin %d;default;not send;;\r\n" % (i, i, i, i)).encode()
                   for i in range(1, count + 1)))


def start(data, *options, env=None, stdin_text=None):
    process = subprocess.Popen([RUN, "--data-dir", data, *options], stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                               stdin=subprocess.PIPE if stdin_text is not None else None, text=True, env=env)
    if stdin_text is not None:
        process.stdin.write(stdin_text)
        process.stdin.close()
        process.stdin = None  # nothing more for communicate() to send
    return process


def finish(process):
    """(exit code, stdout, stderr)"""
    out, err = process.communicate(timeout=300)
    return process.returncode, out, err


def run(data, *options, env=None):
    return finish(start(data, *options, env=env))


def logins(mails):
    """The peer's XOAUTH2 logins in order: (accepted, token)."""
    path = os.path.join(mails, "xoauth2.log")
    if not os.path.exists(path):
        return []
    with open(path, encoding="utf-8") as f:
        return [(line.startswith("ok "), line.split(" ", 1)[1].strip()) for line in f]


def check_secret_files(data, provider, user, what):
    """The sign-in's refresh tokens are in no file of the data folder, and the keyring has the newest one."""
    tokens = provider.refresh_tokens()
    check(tokens, "%s: the provider issued refresh tokens" % what)
    for directory, _subfolders, files in os.walk(data):
        for name in files:
            check(name.lower() != "postira-geheim.ini", "%s: no secrets file %s" % (what, name))
            with open(os.path.join(directory, name), "rb") as f:
                content = f.read()
            for token in tokens:
                check(token.encode() not in content, "%s: refresh token %s not in %s" % (what, token, name))
    kept = (keyring_secret(user) or "").split("\n")
    # Kept with what it was issued for: the token address, the client and the mail server.
    check(tokens and kept[0] == "postira-bound-1" and kept[-1] == tokens[-1] and kept[1] == provider.url("/token"),
          "%s: the keyring holds the newest refresh token, bound to its provider: %r" % (what, kept[:-1]))


# ---- The scenarios ----

def device_sign_in_and_long_run(tmp):
    user = "geraet@example.org"
    mails, data = os.path.join(tmp, "device-mails"), os.path.join(tmp, "device-data")
    # A token lives 61 s: the program renews it once less than 60 s are left, so after a second. The peer
    # takes 10 ms for each mail, so the run lasts 3 s at least, on any machine.
    with Provider(os.path.join(tmp, "device-provider"), "--access-lifetime", "61", "--pending", "1",
                  "--interval", "1") as provider, \
            peer_for(mails, user, provider, "--mails-per-connection", "10", "--accept-delay", "0.01") as peer:
        make_data(data, user, peer.port, provider, 300)
        signing_in = start(data, "--sign-in")
        first = signing_in.stdout.readline()
        shown = time.monotonic()
        code, out, err = finish(signing_in)
        check(first == "Bitte %s öffnen und den Code WDJB-MJHT eingeben.\n" % provider.url("/device"),
              "device sign-in shows the address and the code: %r" % first)
        # The polls take eight seconds: pending after one, slow_down after two, then six more.
        check(time.monotonic() - shown > 5, "the address and the code are shown while the sign-in waits")
        check(code == 0 and out.endswith("Angemeldet bei 127.0.0.1 als %s. Die Anmeldung bleibt gespeichert, bis sie "
                                         "mit --sign-out entfernt wird.\n" % user),
              "device sign-in succeeds (%d): %r %r" % (code, out, err))
        check(err == "", "device sign-in with a keyring says nothing on stderr: %r" % err)
        log = provider.log()
        started = [entry["time"] for entry in log if entry["path"] == "/devicecode"]
        polls = [entry["time"] for entry in log if entry["grant_type"] == DEVICE_GRANT]
        check(len(started) == 1 and len(polls) == 3, "one device sign-in, pending, slow_down, tokens: %r" % log)
        if len(started) == 1 and len(polls) == 3:
            gaps = [polls[0] - started[0], polls[1] - polls[0], polls[2] - polls[1]]
            check(0.9 <= gaps[0] < 3 and 0.9 <= gaps[1] < 3, "polls at the provider's interval: %r" % gaps)
            check(gaps[2] >= 5.9, "after slow_down five seconds more between polls: %r" % gaps)
        check_secret_files(data, provider, user, "device sign-in")

        began = time.monotonic()
        code, _out, err = run(data)
        took = time.monotonic() - began
        check(code == 0 and err == "", "300-line run exit code %d: %s" % (code, err[-600:]))
        check(len(stored(mails)) == 300, "all 300 mails arrived, got %d" % len(stored(mails)))
        seen = logins(mails)
        check(seen and all(ok for ok, _token in seen), "every login with a token the server accepted: %r" % seen[:5])
        refreshes = [entry for entry in provider.log() if entry["grant_type"] == "refresh_token"]
        # The first refresh gets the run its first token; at least two more are renewals of expired ones.
        check(len(refreshes) >= 3, "the run renewed its token at least twice: %d refreshes in %.1f s"
              % (len(refreshes), took))
        check(len({token for _ok, token in seen}) == len(refreshes),
              "each refreshed token was used for logins: %d tokens, %d refreshes"
              % (len({token for _ok, token in seen}), len(refreshes)))
        check_secret_files(data, provider, user, "300-line run")
        print("note: 300 mails over %d logins in %.1f s with %d token refreshes" % (len(seen), took, len(refreshes)))

        code, out, err = run(data, "--sign-out")
        check(code == 0 and out == "Die Anmeldung von %s wurde entfernt.\n" % user, "sign-out: %r %r" % (out, err))
        check(keyring_secret(user) is None, "after sign-out the keyring holds no refresh token")
        code, _out, err = run(data)
        check(code == 2 and "Für %s besteht keine Anmeldung bei 127.0.0.1." % user in err,
              "after sign-out a run is refused: %d %r" % (code, err))


def browser_sign_in(data, *options, env=None, stdin_text=None):
    """--sign-in without a device address: this script plays the browser. Returns (exit code, stdout,
    stderr, the page the browser ended on)."""
    signing_in = start(data, "--sign-in", *options, env=env, stdin_text=stdin_text)
    shown = [signing_in.stdout.readline(), signing_in.stdout.readline()]
    with open("/proc/%d/limits" % signing_in.pid, encoding="ascii") as f:
        browser_sign_in.core_limit = next(line.split()[4:6] for line in f if line.startswith("Max core file size"))
    page = ""
    if shown[1].startswith("http://127.0.0.1:"):
        with urllib.request.urlopen(shown[1].strip(), timeout=30) as reply:
            page = reply.read().decode("utf-8")
    code, out, err = finish(signing_in)
    return code, "".join(shown) + out, err, page


def browser_sign_in_and_early_refusal(tmp):
    user = "browser@example.org"
    mails, data = os.path.join(tmp, "browser-mails"), os.path.join(tmp, "browser-data")
    # The server takes a token for one second only, though the provider said it lives an hour: a token
    # revoked early. With ten mails a second and five mails a connection, logins come twice a second.
    with Provider(os.path.join(tmp, "browser-provider"), "--access-lifetime", "3600",
                  "--withdraw-after", "1") as provider, \
            peer_for(mails, user, provider, "--mails-per-connection", "5") as peer:
        make_data(data, user, peer.port, provider, 30, device=False)
        code, out, err, page = browser_sign_in(data)
        check(out.startswith("Bitte diese Adresse in einem Browser auf diesem Rechner öffnen und bei 127.0.0.1 "
                             "anmelden:\n%s?" % provider.url("/authorize")),
              "browser sign-in shows the address: %r" % out)
        check("Die Anmeldung ist abgeschlossen." in page, "the browser ends on the done page: %r" % page[:200])
        check(code == 0 and "Angemeldet bei 127.0.0.1 als %s." % user in out and err == "",
              "browser sign-in succeeds (%d): %r %r" % (code, out, err))
        check_secret_files(data, provider, user, "browser sign-in")

        code, _out, err = run(data, "--rate", "600")
        check(code == 0 and err == "", "run with early refusals exit code %d: %s" % (code, err[-600:]))
        check(len(stored(mails)) == 30, "all 30 mails arrived, got %d" % len(stored(mails)))
        seen = logins(mails)
        renewed = [i for i in range(len(seen) - 1)
                   if not seen[i][0] and seen[i + 1][0] and seen[i + 1][1] != seen[i][1]]
        check(renewed, "a refused token was renewed and the next login went in: %r" % seen)
        check(all(ok for i, (ok, _token) in enumerate(seen) if i - 1 not in renewed and i not in renewed),
              "no other login was refused: %r" % seen)
        check_secret_files(data, provider, user, "run with early refusals")


def refused_refresh(tmp):
    user = "abgelaufen@example.org"
    mails, data = os.path.join(tmp, "refused-mails"), os.path.join(tmp, "refused-data")
    with Provider(os.path.join(tmp, "refusing-provider"), "--refuse-refresh") as provider, \
            peer_for(mails, user, provider) as peer:
        make_data(data, user, peer.port, provider, 3, device=False)
        outputs = []
        code, out, err, _page = browser_sign_in(data)
        outputs += [out, err]
        check(code == 0, "sign-in before the refused refresh (%d): %r" % (code, err))
        code, out, err = run(data)
        outputs += [out, err]
        check(code == 1, "a refused refresh ends the run with exit code 1, got %d" % code)
        cause = ("Ursache: Die Anmeldung bei 127.0.0.1 ist abgelaufen oder wurde widerrufen. Bitte in den "
                 "Versandoptionen neu anmelden.")
        check(err.count(cause) == 3, "each line names the cause: %r" % err[-800:])
        check(err.endswith("Hinweis: Neu anmelden mit postira-run --sign-in.\n"),
              "the run ends with the remedy on the command line: %r" % err[-200:])
        check(out.count("Fehler beim Senden an") == 3 and not stored(mails), "no mail went out")
        with open(os.path.join(mails, "plaintext.log"), "rb") as f:
            wire = f.read()
        check(b"EHLO" in wire and b"AUTH" not in wire, "the server got no AUTH command: %r" % wire)
        outputs.append(json.dumps(provider.log()))
        outputs += [open(os.path.join(mails, name), encoding="utf-8", errors="replace").read()
                    for name in os.listdir(mails)]
        for secret in (OLD_PASSWORD, base64.b64encode(OLD_PASSWORD.encode()).decode()):
            check(not any(secret in text for text in outputs), "the old password %s is in no log" % secret)


def without_session_bus(tmp):
    user = "ohne-bus@example.org"
    mails, data = os.path.join(tmp, "no-bus-mails"), os.path.join(tmp, "no-bus-data")
    env = dict(os.environ, DBUS_SESSION_BUS_ADDRESS="unix:path=" + os.path.join(tmp, "kein-bus"))
    with Provider(os.path.join(tmp, "no-bus-provider")) as provider, \
            peer_for(mails, user, provider) as peer:
        make_data(data, user, peer.port, provider, 2, device=False)
        note = "Hinweis: Kein Schlüsselbund erreichbar: Die Anmeldedaten werden in %s/postira-geheim.ini " \
               "gespeichert, nur für Sie lesbar.\n" % data
        code, out, err, _page = browser_sign_in(data, env=env)
        check(code == 0 and err == note, "sign-in without a bus says once where the token is (%d): %r" % (code, err))
        secrets = os.path.join(data, "postira-geheim.ini")
        check(os.path.exists(secrets) and stat.S_IMODE(os.stat(secrets).st_mode) == 0o600, "the secrets file is 0600")
        with open(secrets, encoding="utf-8") as f:
            check(provider.refresh_tokens()[-1] in f.read(), "the secrets file holds the refresh token")
        check(keyring_secret(user) is None, "without a bus nothing went to the keyring")
        code, _out, err = run(data, env=env)
        check(code == 0 and len(stored(mails)) == 2, "run with the token from the file: %s" % err)
        check(err == note, "the run says once where the token is: %r" % err)

        # Ctrl-C while a device sign-in waits (the device address given on the command line only).
        signing_in = start(data, "--sign-in", "--device-url", provider.url("/devicecode"), env=env)
        first = signing_in.stdout.readline()
        signing_in.send_signal(signal.SIGINT)
        stopped_at = time.monotonic()
        code, _out, err = finish(signing_in)
        check(first.startswith("Bitte %s öffnen" % provider.url("/device")), "device sign-in by flag: %r" % first)
        check(code == 1 and err in ("Anmeldung abgebrochen.\n", note + "Anmeldung abgebrochen.\n")
              and time.monotonic() - stopped_at < 2,
              "Ctrl-C ends the waiting sign-in at once (%d): %r" % (code, err))


def secrets_stay_where_they_belong(tmp):
    """The client secret from a file or standard input; the sign-in bound to its token address, client and
    mail server: another token address gets no request, another server no login; no core file."""
    user, secret = "gebunden@example.org", "Geheimnis-4kq9"
    mails, elsewhere_mails, data = (os.path.join(tmp, name) for name in ("bound-mails", "elsewhere-mails", "bound-data"))
    with open(os.path.join(tmp, "secret.txt"), "w", encoding="utf-8") as f:
        f.write(secret + "\n")
    with Provider(os.path.join(tmp, "bound-provider"), "--client-secret", secret) as provider, \
            Provider(os.path.join(tmp, "other-provider")) as other, \
            peer_for(mails, user, provider) as peer, \
            peer_for(elsewhere_mails, user, provider, "--host", "127.0.0.2") as elsewhere:
        make_data(data, user, peer.port, provider, 2, device=False)
        for how, options, stdin_text in (("file", ["--client-secret-file", os.path.join(tmp, "secret.txt")], None),
                                         ("standard input", ["--client-secret-file", "-"], secret + "\n")):
            code, _out, err, _page = browser_sign_in(data, *options, stdin_text=stdin_text)
            check(code == 0 and err == "", "sign-in with the client secret from %s (%d): %r" % (how, code, err))
        check(browser_sign_in.core_limit == ["0", "0"], "no core file: %r" % browser_sign_in.core_limit)
        code, _out, err = run(data)
        check(code == 0 and len(stored(mails)) == 2, "run with the secret kept from the file: %s" % err)
        check_secret_files(data, provider, user, "client secret from a file")

        # Another token address (another method chosen, a copied options file): no request carries the token.
        refreshes = len(provider.log())
        code, _out, err = run(data, "--token-url", other.url("/token"))
        check(code == 2 and "Bitte neu anmelden: Die gespeicherte Anmeldung gilt für 127.0.0.1" in err,
              "another token address is refused (%d): %r" % (code, err))
        check(other.log() == [] and len(provider.log()) == refreshes, "neither provider got a request")

        # Another mail server: it gets no AUTH XOAUTH2, nor anything else.
        with open(os.path.join(data, "postira.ini"), "wb") as f:
            f.write(b"127.0.0.2\r\n%s\r\n\r\n%d\r\n" % (user.encode(), elsewhere.port))
        code, _out, err = run(data)
        check(code == 2 and "gilt nur für den Server 127.0.0.1:%d, eingestellt ist 127.0.0.2:%d" % (peer.port, elsewhere.port)
              in err, "another server is refused, naming both (%d): %r" % (code, err))
        check(not os.path.exists(os.path.join(elsewhere_mails, "plaintext.log")) and not stored(elsewhere_mails),
              "the other server got nothing")
    fresh = os.path.join(tmp, "fresh-data")
    run(fresh, "--sign-out")
    check(stat.S_IMODE(os.stat(fresh).st_mode) == 0o700, "a new data folder is the user's alone")


def main():
    if not os.environ.get("POSTIRA_TEST_OWN_KEYRING"):
        return on_private_keyring()
    start_keyring()
    with tempfile.TemporaryDirectory(prefix="postira-oauth-") as tmp:
        for scenario in (device_sign_in_and_long_run, browser_sign_in_and_early_refusal, refused_refresh,
                         without_session_bus, secrets_stay_where_they_belong):
            began = time.monotonic()
            scenario(tmp)
            print("note: %s took %.1f s" % (scenario.__name__, time.monotonic() - began))
    return results.finish()


if __name__ == "__main__":
    sys.exit(main())
