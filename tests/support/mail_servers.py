"""A real Postfix and a real Dovecot on 127.0.0.1 for integration tests, with a configuration of their own in
a temporary folder, and stopped again whatever happens.

    with MailServers() as servers:
        ... send to 127.0.0.1:servers.smtp_port as servers.user / servers.password, trusting servers.ca_file
        mails = servers.wait_for_delivery(3)

Postfix takes mail on a submission port: STARTTLS first, then a login (SASL through Dovecot's auth service),
and only then mail, and only for the test domain. Every address of that domain ends in the one test user's
INBOX (a catch-all alias), delivered over LMTP to Dovecot. Nothing ever leaves the machine: Postfix has no
SMTP client in its master.cf, every other transport is an error, and the test domain is its only one.

Dovecot runs twice on the same Maildir: one instance serves IMAP (STARTTLS, and implicit TLS on a second
port; a login only inside TLS), the other takes the mail over LMTP and answers Postfix's login questions.
So stop_imap() can stop the IMAP server for real while Postfix still takes and delivers mail. The mailbox
has the special-use folders "Gesendete Elemente" (\\Sent) and "Entwürfe" (\\Drafts).

Postfix's commands are reserved for root, and Dovecot drops its privileges to the users the Debian packages
create (dovecot, dovenull); without root, or without the packages, start() raises ServersUnavailable, which
a test reports as skipped. The system's own Postfix and Dovecot and their files under /etc are never touched
or started: both programs read only the files written here, and Postfix also its shared read-only files
(/etc/postfix/postfix-files and dynamicmaps.cf, which every Postfix instance reads; /etc/postfix/main.cf
need not exist).
"""

import base64
import email
import email.policy
import grp
import imaplib
import os
import pty
import pwd
import re
import shutil
import signal
import socket
import ssl
import subprocess
import tempfile
import time
from collections import namedtuple

SUPPORT = os.path.dirname(os.path.abspath(__file__))
OPENSSL_CONFIG = os.path.join(SUPPORT, "test_certificates.cnf")

POSTFIX = "/usr/sbin/postfix"
DOVECOT = "/usr/sbin/dovecot"

DOMAIN = "example.test"
USER = "absender@" + DOMAIN
PASSWORD = "Geheimnis-fuer-Tests"
HOST = "127.0.0.1"

# How long the daemons may take to accept connections; on an idle machine they need about one second.
START_TIMEOUT = 20
# How long a daemon may take to end after it was told to; then its whole process group is killed.
STOP_GRACE = 3
# Enough for a mail with the program's largest attachments; Postfix's own default is 10 MB.
MESSAGE_SIZE_LIMIT = 100 * 1024 * 1024
# The owner of the mails: Dovecot never gives mail access to UID 0, and the tests run as root.
MAIL_OWNER = "nobody"
# The last lines of each log that an error shows.
LOG_TAIL_LINES = 40
# A UNIX socket path is at most 108 bytes; Dovecot puts names of up to about 30 bytes into its base_dir.
BASE_DIR_LIMIT = 70


class ServersUnavailable(Exception):
    """The servers cannot run here (not root, a package missing); the text says why."""


class Mail(namedtuple("Mail", "uid flags raw")):
    """One stored mail: its IMAP UID, its stored flags ("\\Seen", ...; not \\Recent) and its bytes."""

    @property
    def message(self):
        return email.message_from_bytes(self.raw, policy=email.policy.default)


def encode_mailbox(name):
    """A mailbox name as IMAP writes it: modified UTF-7 (RFC 3501 5.1.3), as a quoted string."""
    out, pending = [], []

    def shift():
        if pending:
            utf16 = "".join(pending).encode("utf-16-be")
            out.append("&" + base64.b64encode(utf16).decode().rstrip("=").replace("/", ",") + "-")
            pending.clear()

    for ch in name:
        if " " <= ch <= "~":
            shift()
            out.append("&-" if ch == "&" else ch)
        else:
            pending.append(ch)
    shift()
    return '"' + "".join(out).replace("\\", "\\\\").replace('"', '\\"') + '"'


def decode_mailbox(text):
    """The name that modified UTF-7 TEXT (without quotes) stands for."""

    def unshift(match):
        if not match.group(1):
            return "&"
        data = match.group(1).replace(",", "/")
        return base64.b64decode(data + "=" * (-len(data) % 4)).decode("utf-16-be")

    return re.sub(r"&([A-Za-z0-9+,]*)-", unshift, text)


def parse_list_line(line):
    """(name, attributes) of one LIST reply line such as b'(\\HasNoChildren \\Sent) "/" "Gesendete Elemente"'."""
    match = re.fullmatch(rb'\(([^)]*)\) (?:"(?:[^"\\]|\\.)*"|NIL) (.+)', line)
    if not match:
        raise RuntimeError("unexpected LIST reply %r" % line)
    name = match.group(2).decode("ascii")
    if name.startswith('"'):
        name = re.sub(r"\\(.)", r"\1", name[1:-1])
    return decode_mailbox(name), set(match.group(1).decode("ascii").split())


def free_ports(count):
    """COUNT distinct free loopback ports: all are bound at once, so none is handed out twice."""
    sockets = []
    try:
        for _ in range(count):
            s = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
            s.bind((HOST, 0))
            sockets.append(s)
        return [s.getsockname()[1] for s in sockets]
    finally:
        for s in sockets:
            s.close()


def greeting(port, timeout=2):
    """The first line a server sends on PORT, or b"" while nothing answers there."""
    try:
        with socket.create_connection((HOST, port), timeout=timeout) as s:
            return s.makefile("rb").readline()
    except OSError:
        return b""


def accepts(port):
    try:
        socket.create_connection((HOST, port), timeout=2).close()
        return True
    except OSError:
        return False


def tail(path, lines=LOG_TAIL_LINES):
    try:
        with open(path, "rb") as f:
            text = f.read().decode("utf-8", "replace")
    except OSError as e:
        return "(%s: %s)" % (path, e.strerror)
    return "\n".join(text.splitlines()[-lines:])


def processes_in_group(pgid):
    """PIDs of the live processes of process group PGID (zombies are not counted: the machine's first
    process need not reap the orphans it inherits)."""
    found = []
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open("/proc/%s/stat" % entry, "rb") as f:
                stat = f.read()
        except OSError:
            continue
        # The command name in parentheses may hold blanks; the fields after it are fixed.
        state, _, group = stat[stat.rindex(b")") + 2:].split()[:3]
        if state not in (b"Z", b"X") and int(group) == pgid:
            found.append(int(entry))
    return found


def end_process_group(pgid, grace=STOP_GRACE):
    """Ends what is left of process group PGID once its leader, the daemon's master, has gone: SIGTERM, and
    SIGKILL for whatever still runs after GRACE seconds. Dovecot's children do not always notice that their
    master ended (its imap and imap-login processes lingered for good after a session had read mail)."""
    for sig in (signal.SIGTERM, signal.SIGKILL):
        deadline = time.monotonic() + grace
        while processes_in_group(pgid):
            if time.monotonic() > deadline:
                break
            if sig:
                try:
                    os.killpg(pgid, sig)
                except ProcessLookupError:
                    return
                sig = None
            time.sleep(0.02)
        else:
            return
    raise RuntimeError("processes of group %d still run after SIGKILL: %r" % (pgid, processes_in_group(pgid)))


def make_certificates(folder):
    """A test CA and a server certificate for localhost and 127.0.0.1 that it signs, made with openssl and the
    configuration the other TLS tests use. Returns (ca, certificate, key)."""
    os.makedirs(folder, exist_ok=True)
    shutil.copy(OPENSSL_CONFIG, os.path.join(folder, "openssl.cnf"))
    open(os.path.join(folder, "index.txt"), "w").close()
    with open(os.path.join(folder, "serial"), "w") as out:
        out.write("01\n")
    key = ["-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-noenc"]

    def openssl(*args):
        done = subprocess.run(["openssl", *args], cwd=folder, capture_output=True)
        if done.returncode != 0:
            raise RuntimeError("openssl %s failed: %s" % (args[0], done.stderr.decode(errors="replace")))

    openssl("req", "-config", "openssl.cnf", "-x509", *key, "-keyout", "ca.key", "-out", "ca.pem", "-days", "3650",
            "-extensions", "ca_ext", "-subj", "/CN=Postira Test Mail CA")
    openssl("req", "-config", "openssl.cnf", "-new", *key, "-keyout", "server.key", "-out", "server.csr",
            "-subj", "/CN=localhost")
    openssl("ca", "-config", "openssl.cnf", "-batch", "-notext", "-cert", "ca.pem", "-keyfile", "ca.key",
            "-in", "server.csr", "-out", "server.pem", "-extensions", "localhost_ext", "-days", "3650")
    return tuple(os.path.join(folder, name) for name in ("ca.pem", "server.pem", "server.key"))


class DovecotInstance:
    """One Dovecot master in the foreground, in a process group of its own so that every process it starts
    can be found and ended."""

    def __init__(self, name, folder):
        self.name = name
        self.config = os.path.join(folder, "dovecot-%s.conf" % name)
        self.log = os.path.join(folder, "dovecot-%s.log" % name)
        self.stderr = os.path.join(folder, "dovecot-%s.stderr" % name)
        self.state_dir = os.path.join(folder, "dovecot-%s-state" % name)
        self.base_dir = os.path.join(folder, "dovecot-%s-run" % name)
        self._short_base_dir = None
        if len(self.base_dir) > BASE_DIR_LIMIT:
            # Its sockets' paths would be too long: a short folder in /tmp instead.
            self._short_base_dir = tempfile.mkdtemp(prefix="pdc-")
            os.chmod(self._short_base_dir, 0o755)
            self.base_dir = os.path.join(self._short_base_dir, "run")
        self.process = None

    def start(self, config_text):
        with open(self.config, "w", encoding="utf-8") as out:
            out.write(config_text)
        with open(self.stderr, "ab") as err:
            self.process = subprocess.Popen([DOVECOT, "-c", self.config, "-F"], stdin=subprocess.DEVNULL,
                                            stdout=err, stderr=err, start_new_session=True)

    def running(self):
        return self.process is not None and self.process.poll() is None

    def signal_stop(self):
        # To the whole group, as a service manager stops a service: the master alone waits a second for its
        # children before it ends.
        if self.running():
            os.killpg(self.process.pid, signal.SIGTERM)

    def wait_stopped(self):
        """After signal_stop(): waits for the master, then for every process of its group."""
        if not self.process:
            return
        try:
            self.process.wait(STOP_GRACE)
        except subprocess.TimeoutExpired:
            # The master waits for its children to end; should one of them hang, the group is killed.
            os.killpg(self.process.pid, signal.SIGKILL)
            self.process.wait()
        end_process_group(self.process.pid)
        self.process = None

    def remove_short_base_dir(self):
        if self._short_base_dir:
            shutil.rmtree(self._short_base_dir, ignore_errors=True)

    def logs(self):
        return "--- Dovecot %s log:\n%s\n--- Dovecot %s standard error:\n%s" % (
            self.name, tail(self.log), self.name, tail(self.stderr))


class MailServers:
    """Postfix and Dovecot on free loopback ports. FOLDER holds everything they write; without one a
    temporary folder is made, and removed again by stop()."""

    host = HOST

    def __init__(self, folder=None, user=USER, password=PASSWORD, domain=DOMAIN, start_timeout=START_TIMEOUT):
        self.user, self.password, self.domain = user, password, domain
        self.start_timeout = start_timeout
        self._own_folder = folder is None
        self.folder = os.path.abspath(folder) if folder else None
        self.ca_file = None
        self.smtp_port = self.imap_port = self.imaps_port = self.lmtp_port = self.auth_port = None
        self._imap = self._lmtp = None
        self._postfix_pgid = None

    # --- starting and stopping ---

    def __enter__(self):
        self.start()
        return self

    def __exit__(self, *exc):
        self.stop()

    def start(self):
        check_usable()
        if self._own_folder:
            self.folder = tempfile.mkdtemp(prefix="postira-mail-", dir=reachable_temp_dir())
        os.makedirs(self.folder, exist_ok=True)
        try:
            # The daemons' unprivileged users must reach their files below it, but need not list it.
            os.chmod(self.folder, 0o711)
            check_reachable(self.folder)
            self.ca_file, self._cert, self._key = make_certificates(self._path("certs"))
            self._write_mail_users()
            self._imap = DovecotInstance("imap", self.folder)
            self._lmtp = DovecotInstance("lmtp", self.folder)
            self._start_on_free_ports()
        except BaseException:
            self.stop()
            raise

    def _start_on_free_ports(self, attempts=3):
        # Another program may take a port between our look-up and the daemon's bind: then again with others.
        for attempt in range(attempts):
            self.smtp_port, self.imap_port, self.imaps_port, self.lmtp_port, self.auth_port = free_ports(5)
            try:
                self._lmtp.start(self._dovecot_config("lmtp"))
                self._imap.start(self._dovecot_config("imap"))
                self._start_postfix()
                self._wait_until_ready()
                return
            except RuntimeError as e:
                self._stop_daemons()
                if "in use" not in str(e) or attempt == attempts - 1:
                    raise

    def stop(self):
        """Stops both daemons and makes sure none of their processes is left; removes a folder of our own."""
        try:
            self._stop_daemons()
        finally:
            for instance in (self._imap, self._lmtp):
                if instance:
                    instance.remove_short_base_dir()
            if self._own_folder and self.folder:
                shutil.rmtree(self.folder, ignore_errors=True)
                self.folder = None

    def _stop_daemons(self):
        try:
            self._stop_postfix()
        finally:
            instances = [i for i in (self._imap, self._lmtp) if i]
            for instance in instances:
                instance.signal_stop()
            for instance in instances:
                instance.wait_stopped()

    def _path(self, *names):
        return os.path.join(self.folder, *names)

    def _wait_until_ready(self):
        checks = {
            "submission": lambda: greeting(self.smtp_port).startswith(b"220 "),
            "IMAP": lambda: greeting(self.imap_port).startswith(b"* OK"),
            "IMAPS": lambda: accepts(self.imaps_port),
            "LMTP": lambda: greeting(self.lmtp_port).startswith(b"220 "),
            "auth": lambda: accepts(self.auth_port),
        }
        self._wait_for(checks, "not accepting connections")

    def _wait_for(self, checks, what):
        """Waits until every check of CHECKS {name: function} is true; else fails naming those that are not."""
        deadline = time.monotonic() + self.start_timeout
        waiting = dict(checks)
        while waiting:
            for name, check in list(waiting.items()):
                if check():
                    del waiting[name]
            for instance in (self._imap, self._lmtp):
                if instance.process and instance.process.poll() is not None:
                    raise RuntimeError("Dovecot %s ended (exit code %d)\n%s" % (
                        instance.name, instance.process.returncode, self.logs()))
            if waiting and time.monotonic() > deadline:
                raise RuntimeError("%s after %d s: %s\n%s" % (what, self.start_timeout, ", ".join(waiting),
                                                               self.logs()))
            time.sleep(0.05)

    def logs(self):
        """The last lines of every log, for the message of a failed test."""
        parts = ["--- Postfix log:\n" + tail(self._path("postfix.log"))]
        parts += [instance.logs() for instance in (self._imap, self._lmtp) if instance]
        return "\n".join(parts)

    # --- Dovecot ---

    def _write_mail_users(self):
        owner = pwd.getpwnam(MAIL_OWNER)
        home = self._path("mail")
        os.makedirs(home, exist_ok=True)
        os.chown(home, owner.pw_uid, owner.pw_gid)
        os.chmod(home, 0o700)
        folder = self._path("dovecot")
        os.makedirs(folder, exist_ok=True)
        # Dovecot counts a connection from 127.0.0.1 as secured and takes a password on it without TLS,
        # whatever ssl and disable_plaintext_auth say. So the password file's name holds the service and how
        # the connection is secured (passdb path ".../users-%s-%c"): IMAP finds it only inside TLS ("TLS");
        # Postfix, which takes a login only after STARTTLS (smtpd_tls_auth_only), says "secured". A plain
        # IMAP login finds no file and is refused.
        for name in ("users-imap-TLS", "users-smtp-secured"):
            path = os.path.join(folder, name)
            with open(path, "w", encoding="utf-8") as out:
                out.write("%s:{PLAIN}%s\n" % (self.user, self.password))
            # The auth process runs as the dovecot user and reads the file itself.
            os.chown(path, 0, grp.getgrnam("dovecot").gr_gid)
            os.chmod(path, 0o640)
        with open(os.path.join(folder, "userdb"), "w", encoding="utf-8") as out:
            out.write("%s::%d:%d::%s::\n" % (self.user, owner.pw_uid, owner.pw_gid, home))

    def _dovecot_config(self, name):
        instance = self._imap if name == "imap" else self._lmtp
        services = DOVECOT_IMAP_SERVICES if name == "imap" else DOVECOT_LMTP_SERVICES
        dh = "/usr/share/dovecot/dh.pem"
        return (DOVECOT_COMMON + services).format(
            protocols=name, name=name, base_dir=instance.base_dir, state_dir=instance.state_dir, log=instance.log,
            cert=self._cert, key=self._key, dh="ssl_dh = <" + dh if os.path.exists(dh) else "",
            uid=pwd.getpwnam(MAIL_OWNER).pw_uid, passdb=self._path("dovecot", "users-%s-%c"),
            userdb=self._path("dovecot", "userdb"), domain=self.domain, imap_port=self.imap_port,
            imaps_port=self.imaps_port, lmtp_port=self.lmtp_port, auth_port=self.auth_port)

    def stop_imap(self):
        """The IMAP server goes away: both IMAP ports refuse connections and open sessions end. Delivery over
        LMTP and Postfix's logins run on, so Postfix still takes and delivers mail."""
        self._imap.signal_stop()
        self._imap.wait_stopped()

    def start_imap(self):
        """The IMAP server comes back on the same ports."""
        self._imap.start(self._dovecot_config("imap"))
        self._wait_for({"IMAP": lambda: greeting(self.imap_port).startswith(b"* OK"),
                        "IMAPS": lambda: accepts(self.imaps_port)}, "IMAP not back")

    # --- Postfix ---

    def _write_postfix_config(self):
        config_dir = self._path("postfix")
        os.makedirs(config_dir, exist_ok=True)
        with open(os.path.join(config_dir, "main.cf"), "w") as out:
            out.write(POSTFIX_MAIN.format(
                domain=self.domain, user=self.user, folder=self.folder, queue=self._path("postfix-queue"),
                data=self._path("postfix-data"), log=self._path("postfix.log"), cert=self._cert, key=self._key,
                lmtp_port=self.lmtp_port, auth_port=self.auth_port, size=MESSAGE_SIZE_LIMIT))
        with open(os.path.join(config_dir, "master.cf"), "w") as out:
            out.write(POSTFIX_MASTER.format(smtp_port=self.smtp_port))
        # Postfix's programs read a main.cf changed within the last two seconds again and again, 300 ms apart,
        # until it is older (it might be half written): backdated, they read it at once.
        past = time.time() - 60
        for name in ("main.cf", "master.cf"):
            os.utime(os.path.join(config_dir, name), (past, past))
        return config_dir

    def _make_queue_folders(self):
        """Makes the queue's and the data folders as Postfix's own list of them (postfix-files) says, and lets
        "postfix start" skip its checks, which take about three seconds and find nothing to do on a new
        queue (one to three seconds). A Postfix that no longer knew the "quick-start" marker would check all
        the same, only slower."""
        meta = subprocess.run(["/usr/sbin/postconf", "-c", self._postfix_config, "-h", "meta_directory"],
                              capture_output=True, text=True, check=True).stdout.strip()
        names = {"$queue_directory": self._path("postfix-queue"), "$data_directory": self._path("postfix-data"),
                 "$mail_owner": "postfix", "$setgid_group": "postdrop", "-": "root"}
        with open(os.path.join(meta, "postfix-files")) as f:
            for line in f:
                fields = line.strip().split(":")
                place = fields[0].split("/", 1)
                if len(fields) < 5 or fields[1] != "d" or place[0] not in ("$queue_directory", "$data_directory"):
                    continue
                path = os.path.join(names[place[0]], *place[1:])
                os.makedirs(path, exist_ok=True)
                os.chown(path, pwd.getpwnam(names.get(fields[2], fields[2])).pw_uid,
                         grp.getgrnam(names.get(fields[3], fields[3])).gr_gid)
                os.chmod(path, int(fields[4], 8))
        open(self._path("postfix-queue", "quick-start"), "w").close()

    def _postfix(self, *args):
        """Runs the postfix command; returns (exit code, what it said). It tells why it failed only to syslog
        or to a terminal, so it gets a pseudo-terminal for its output."""
        controller, terminal = pty.openpty()
        try:
            done = subprocess.run([POSTFIX, "-c", self._postfix_config, *args], stdin=subprocess.DEVNULL,
                                  stdout=terminal, stderr=terminal, timeout=60)
        finally:
            os.close(terminal)
        said = b""
        try:
            while chunk := os.read(controller, 4096):
                said += chunk
        except OSError:  # EIO: everything was read and the other end is closed
            pass
        finally:
            os.close(controller)
        return done.returncode, said.decode(errors="replace").replace("\r\n", "\n").strip()

    def _start_postfix(self):
        self._postfix_config = self._write_postfix_config()
        self._make_queue_folders()
        # "start" returns once the master daemon has read its configuration and bound its ports ("master -w").
        # The master leads a process group of its own.
        code, said = self._postfix("start")
        self._postfix_pgid = self._postfix_master_pid()
        if code != 0:
            raise RuntimeError("postfix start failed: %s\n%s" % (said, self.logs()))
        if not self._postfix_pgid:
            raise RuntimeError("postfix started but left no master.pid\n" + self.logs())

    def _postfix_master_pid(self):
        try:
            with open(self._path("postfix-queue", "pid", "master.pid")) as f:
                return int(f.read().split()[0])
        except (OSError, ValueError, IndexError):
            return None

    def _stop_postfix(self):
        if not self._postfix_pgid:
            return
        pgid, self._postfix_pgid = self._postfix_pgid, None
        # The SIGTERM that "postfix stop" sends the master (which passes it on to its children), here to the
        # whole group at once; "postfix stop" would then look only once a second whether the master has gone.
        try:
            os.killpg(pgid, signal.SIGTERM)
        except ProcessLookupError:
            return
        end_process_group(pgid)

    def queued(self):
        """How many mails wait in Postfix's queue, not yet handed to Dovecot."""
        count = 0
        for queue in ("maildrop", "incoming", "active", "deferred", "hold"):
            for _, _, files in os.walk(self._path("postfix-queue", queue)):
                count += len(files)
        return count

    def flush_queue(self):
        """Tries to deliver deferred mail now rather than at its next retry."""
        self._postfix("flush")

    # --- IMAP, as the test user ---

    def ssl_context(self):
        return ssl.create_default_context(cafile=self.ca_file)

    def imap(self):
        """A logged-in IMAP connection over STARTTLS; end it with logout()."""
        connection = imaplib.IMAP4(HOST, self.imap_port, timeout=30)
        try:
            connection.starttls(self.ssl_context())
            connection.login(self.user, self.password)
        except BaseException:
            connection.shutdown()
            raise
        return connection

    def list_mailboxes(self):
        """{name: set of attributes} of every mailbox LIST shows, names decoded."""
        connection = self.imap()
        try:
            status, lines = connection.list()
        finally:
            connection.logout()
        if status != "OK":
            raise RuntimeError("LIST failed: %r" % lines)
        return dict(parse_list_line(line) for line in lines)

    def message_count(self, mailbox="INBOX", connection=None):
        own = connection is None
        connection = connection or self.imap()
        try:
            status, data = connection.status(encode_mailbox(mailbox), "(MESSAGES)")
        finally:
            if own:
                connection.logout()
        if status != "OK":
            raise RuntimeError("STATUS %s failed: %r" % (mailbox, data))
        return int(re.search(rb"MESSAGES (\d+)", data[0]).group(1))

    def fetch_all(self, mailbox="INBOX"):
        """Every mail of MAILBOX as Mail(uid, flags, raw), in UID order. The mailbox is only examined, so no
        flag changes (not even \\Seen)."""
        connection = self.imap()
        try:
            status, data = connection.select(encode_mailbox(mailbox), readonly=True)
            if status != "OK":
                raise RuntimeError("EXAMINE %s failed: %r" % (mailbox, data))
            if int(data[0]) == 0:
                return []
            flags, raws = {}, {}
            for line in connection.uid("FETCH", "1:*", "(FLAGS)")[1]:
                uid = int(re.search(rb"UID (\d+)", line).group(1))
                # \Recent is no stored flag but says which session saw the mail first: left out.
                flags[uid] = tuple(flag for flag in re.search(rb"FLAGS \(([^)]*)\)", line).group(1).decode().split()
                                   if flag != "\\Recent")
            for item in connection.uid("FETCH", "1:*", "(BODY.PEEK[])")[1]:
                if isinstance(item, tuple):
                    raws[int(re.search(rb"UID (\d+)", item[0]).group(1))] = item[1]
        finally:
            connection.logout()
        return [Mail(uid, flags.get(uid, ()), raws[uid]) for uid in sorted(raws)]

    def wait_for_delivery(self, count, mailbox="INBOX", timeout=30):
        """Waits until MAILBOX holds at least COUNT mails and returns fetch_all(MAILBOX)."""
        deadline = time.monotonic() + timeout
        connection = self.imap()
        try:
            while (have := self.message_count(mailbox, connection)) < count:
                if time.monotonic() > deadline:
                    raise TimeoutError("%d of %d mails in %s after %d s, %d in Postfix's queue\n%s" % (
                        have, count, mailbox, timeout, self.queued(), self.logs()))
                time.sleep(0.1)
        finally:
            connection.logout()
        return self.fetch_all(mailbox)


def check_usable():
    if os.geteuid() != 0:
        raise ServersUnavailable("the postfix command is reserved for root, and Dovecot's privilege "
                                 "separation needs root too: run the test as root (as CI does)")
    for program in (POSTFIX, DOVECOT, "/usr/lib/dovecot/lmtp", "/usr/lib/dovecot/imap"):
        if not os.access(program, os.X_OK):
            raise ServersUnavailable("%s is missing: scripts/setup installs postfix, dovecot-imapd and "
                                     "dovecot-lmtpd" % program)
    for user in ("postfix", "dovecot", "dovenull", MAIL_OWNER):
        try:
            pwd.getpwnam(user)
        except KeyError:
            raise ServersUnavailable("the system user %s is missing (the Debian packages create it)" % user)


def reachable_temp_dir():
    """The temporary folder ($TMPDIR), or /tmp where the daemons' users could not reach the former."""
    try:
        check_reachable(os.path.join(tempfile.gettempdir(), "x"))
        return tempfile.gettempdir()
    except RuntimeError:
        return "/tmp"


def check_reachable(folder):
    """The daemons' unprivileged users need search permission on every folder above FOLDER."""
    path = folder
    while path != "/":
        path = os.path.dirname(path)
        if not os.stat(path).st_mode & 0o001:
            raise RuntimeError("%s is not searchable by others, so the daemons' unprivileged users cannot reach "
                               "%s; give MailServers a folder elsewhere, or none" % (path, folder))


DOVECOT_COMMON = """\
# Dovecot ({name}) for one test user on loopback; everything it writes is in the test's folder.
protocols = {protocols}
listen = 127.0.0.1
base_dir = {base_dir}
state_dir = {state_dir}
instance_name = postira-test-{name}
log_path = {log}
info_log_path = {log}
auth_verbose = yes

ssl = required
ssl_cert = <{cert}
ssl_key = <{key}
{dh}
ssl_min_protocol = TLSv1.2
disable_plaintext_auth = yes
auth_mechanisms = plain login

default_internal_user = dovecot
default_internal_group = dovecot
default_login_user = dovenull
first_valid_uid = {uid}
last_valid_uid = {uid}

passdb {{
  driver = passwd-file
  args = scheme=PLAIN username_format=%u {passdb}
}}
userdb {{
  driver = passwd-file
  args = username_format=%u {userdb}
}}
mail_location = maildir:~/Maildir

namespace inbox {{
  inbox = yes
  separator = /
  mailbox "Gesendete Elemente" {{
    special_use = \\Sent
    auto = subscribe
  }}
  mailbox "Entwürfe" {{
    special_use = \\Drafts
    auto = subscribe
  }}
}}

# Tests log in wrongly on purpose; the growing delay for repeated failures would only slow them down.
service anvil {{
  unix_listener anvil-auth-penalty {{
    mode = 0
  }}
}}
"""

DOVECOT_IMAP_SERVICES = """\
service imap-login {{
  inet_listener imap {{
    address = 127.0.0.1
    port = {imap_port}
  }}
  inet_listener imaps {{
    address = 127.0.0.1
    port = {imaps_port}
    ssl = yes
  }}
}}
"""

DOVECOT_LMTP_SERVICES = """\
protocol lmtp {{
  postmaster_address = postmaster@{domain}
}}
service lmtp {{
  inet_listener lmtp {{
    address = 127.0.0.1
    port = {lmtp_port}
  }}
}}
# Postfix asks here whether a login is right (smtpd_sasl_type = dovecot).
service auth {{
  inet_listener auth {{
    address = 127.0.0.1
    port = {auth_port}
  }}
}}
"""

POSTFIX_MAIN = """\
# Postfix for the test domain only: submission on loopback with STARTTLS and a login, delivery over LMTP into
# Dovecot, nothing else. master.cf has no SMTP client, so no mail can leave the machine.
compatibility_level = 3.6
queue_directory = {queue}
data_directory = {data}
maillog_file = {log}
maillog_file_prefixes = {folder}
mail_owner = postfix
setgid_group = postdrop
multi_instance_directories =
multi_instance_wrapper =

myhostname = mail.{domain}
mydomain = {domain}
myorigin = {domain}
mydestination =
relay_domains =
relayhost =
inet_interfaces = 127.0.0.1
inet_protocols = ipv4
mynetworks = 127.0.0.1/32
smtpd_peername_lookup = no
smtputf8_enable = no
biff = no
append_dot_mydomain = no
alias_maps =
alias_database =
local_recipient_maps =
message_size_limit = {size}

# Every address of the test domain goes to the one test user.
virtual_mailbox_domains = {domain}
virtual_alias_maps = inline:{{ @{domain}={user} }}
virtual_transport = lmtp:inet:127.0.0.1:{lmtp_port}
default_transport = error:the test servers deliver only to {domain}
relay_transport = error:the test servers deliver only to {domain}
local_transport = error:the test servers deliver only to {domain}

smtpd_tls_cert_file = {cert}
smtpd_tls_key_file = {key}
smtpd_tls_security_level = encrypt
smtpd_tls_auth_only = yes
smtpd_tls_received_header = yes
smtpd_tls_loglevel = 1
smtpd_sasl_auth_enable = yes
smtpd_sasl_type = dovecot
smtpd_sasl_path = inet:127.0.0.1:{auth_port}
smtpd_sasl_security_options = noanonymous
smtpd_sasl_tls_security_options = noanonymous
# Only for the test domain, and only after a login.
smtpd_relay_restrictions = reject_unauth_destination
smtpd_recipient_restrictions = permit_sasl_authenticated, reject
disable_vrfy_command = yes

# Tests send hundreds of mails in seconds: no slowing down of a fast sender, and quick retries.
in_flow_delay = 0
queue_run_delay = 1s
minimal_backoff_time = 1s
maximal_backoff_time = 4s
"""

# The services a submission server with LMTP delivery needs (see master(5)); no chroot, no SMTP client.
POSTFIX_MASTER = """\
127.0.0.1:{smtp_port} inet n - n - - smtpd
pickup     unix  n - n 60 1 pickup
cleanup    unix  n - n -  0 cleanup
qmgr       unix  n - n 300 1 qmgr
tlsmgr     unix  - - n 1000? 1 tlsmgr
rewrite    unix  - - n -  - trivial-rewrite
bounce     unix  - - n -  0 bounce
defer      unix  - - n -  0 bounce
trace      unix  - - n -  0 bounce
verify     unix  - - n -  1 verify
flush      unix  n - n 1000? 0 flush
proxymap   unix  - - n -  - proxymap
proxywrite unix  - - n -  1 proxymap
showq      unix  n - n -  - showq
error      unix  - - n -  - error
retry      unix  - - n -  - error
discard    unix  - - n -  - discard
lmtp       unix  - - n -  - lmtp
anvil      unix  - - n -  1 anvil
scache     unix  - - n -  1 scache
postlog    unix-dgram n - n - 1 postlogd
"""
