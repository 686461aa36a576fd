#!/usr/bin/python3
"""The SMTP peer of the integration tests and benchmarks: an aiosmtpd server on a free loopback port.

    smtp_peer.py FOLDER [--user USER --password PASSWORD] [--xoauth2-tokens FILE] [--lifetime SECONDS]
                 [--mails-per-connection N] [--accept-delay SECONDS] [--record]
                 [--starttls CERT KEY [--inject-after-starttls] | --implicit-tls CERT KEY]

Offers AUTH LOGIN over plain TCP; with --user every mail needs that login. Stores every message it
receives as FOLDER/NNNN.eml (the bytes as received, dot-stuffing undone) with FOLDER/NNNN.json beside it
(envelope sender and recipients, the login used, and whether the connection was encrypted). Prints
"PORT <n>" on standard output once it listens, stops on SIGTERM or SIGINT, and ends by itself after
--lifetime seconds so that it can never be left behind.

With --xoauth2-tokens it also offers AUTH XOAUTH2 for USER: a bearer token is good while it is a line of
FILE (read anew on every login, so a token provider can add and withdraw tokens); a bad one gets the
providers' answer, a 334 challenge with a base64 JSON status, and after the client's empty line a 535.
Every login attempt with a token is appended to FOLDER/xoauth2.log ("ok TOKEN" or "refused TOKEN").

With --mails-per-connection N the peer takes N mails on a connection and answers the next MAIL with
"421 4.7.0" and closes it, as servers that limit their sessions do; the client must connect and log in
anew. With --accept-delay it takes that long to accept each mail, as a real server does, so that a run of
many mails lasts a known time at least, however fast the machine.

With --starttls the peer offers STARTTLS with the certificate and key given (PEM files) and refuses
everything but EHLO, NOOP, STARTTLS and QUIT before it, AUTH included; with --implicit-tls it speaks TLS
from the first byte. With either, every byte it receives in plain text is appended to FOLDER/plaintext.log,
so that a test can tell what travelled unencrypted; --record keeps that file on a plain peer too, where it
holds everything the clients sent. --inject-after-starttls makes it a forger on the path: right
after its "220 Ready to start TLS", in the same packet, it sends a made-up EHLO reply in plain text and
then stays plain; a sound client ends the session without a handshake.
"""

import argparse
import asyncio
import base64
import collections
import json
import os
import signal
import socket
import ssl
import sys
import warnings

from aiosmtpd.smtp import SMTP, AuthResult, LoginPassword

LOOPBACK = "127.0.0.1"


class StoringHandler:
    def __init__(self, folder, accept_delay=0.0):
        self.folder = folder
        self.accept_delay = accept_delay
        self.count = 0

    async def handle_DATA(self, server, session, envelope):
        if self.accept_delay:
            await asyncio.sleep(self.accept_delay)
        self.count += 1
        server.mails_here += 1
        base = os.path.join(self.folder, "%04d" % self.count)
        with open(base + ".eml.part", "wb") as out:
            out.write(envelope.original_content)
        login = session.auth_data.decode("utf-8", "replace") if isinstance(session.auth_data, bytes) else None
        with open(base + ".json", "w", encoding="utf-8") as out:
            json.dump({"mail_from": envelope.mail_from, "rcpt_tos": envelope.rcpt_tos, "login": login,
                       "tls": server.encrypted}, out)
        # The .eml appears complete or not at all.
        os.replace(base + ".eml.part", base + ".eml")
        return "250 OK stored"


class Authenticator:
    def __init__(self, user, password):
        self.user = user
        self.password = password

    def __call__(self, server, session, envelope, mechanism, auth_data):
        if mechanism != "LOGIN" or not isinstance(auth_data, LoginPassword):
            return AuthResult(success=False, handled=False)
        ok = auth_data.login.decode("utf-8", "replace") == self.user and \
            auth_data.password.decode("utf-8", "replace") == self.password
        return AuthResult(success=ok, handled=False, auth_data=auth_data.login if ok else None)


class PeerSMTP(SMTP):
    """aiosmtpd's server, keeping a record of the plain text it receives."""

    def __init__(self, *args, plaintext_log, implicit_tls=False, inject=False, mails_per_connection=0, **kwargs):
        super().__init__(*args, **kwargs)
        self.mails_per_connection = mails_per_connection
        self.mails_here = 0
        # An AUTH line with a provider's token is long; RFC 4954 allows 12 288 octets.
        self.command_size_limits = collections.defaultdict(lambda: 12288)
        self.plaintext_log = plaintext_log
        self.implicit_tls = implicit_tls
        self.inject = inject

    @property
    def encrypted(self):
        return self.implicit_tls or self._tls_protocol is not None

    def data_received(self, data):
        # After STARTTLS this is called with what TLS has decrypted.
        if self.plaintext_log and not self.encrypted:
            with open(self.plaintext_log, "ab") as out:
                out.write(data)
        super().data_received(data)

    xoauth2_tokens = None  # the file of good tokens; None: no XOAUTH2
    xoauth2_user = ""
    xoauth2_log = None

    async def auth_XOAUTH2(self, _, args):
        if self.xoauth2_tokens is None:
            await self.push("504 5.5.4 Unrecognized authentication type")
            return AuthResult(success=False, handled=True)
        try:
            text = base64.b64decode(args[1].encode(), validate=True).decode("utf-8") if len(args) > 1 else ""
            fields = dict(part.split("=", 1) for part in text.split("\x01") if "=" in part)
        except (ValueError, UnicodeDecodeError):
            await self.push("501 5.5.2 Can't decode base64")
            return AuthResult(success=False, handled=True)
        token = fields.get("auth", "")[len("Bearer "):] if fields.get("auth", "").startswith("Bearer ") else ""
        try:
            with open(self.xoauth2_tokens, encoding="utf-8") as good:
                known = {line.strip() for line in good if line.strip()}
        except FileNotFoundError:
            known = set()
        ok = bool(token) and token in known and fields.get("user") == self.xoauth2_user
        with open(self.xoauth2_log, "a", encoding="utf-8") as log:
            log.write("%s %s\n" % ("ok" if ok else "refused", token))
        if ok:
            return AuthResult(success=True, auth_data=self.xoauth2_user.encode("utf-8"))
        await self.challenge_auth(json.dumps({"status": "401", "schemes": "bearer", "scope": "https://mail.test/"}))
        return AuthResult(success=False, handled=False, message="535 5.7.8 Username and Password not accepted")

    async def smtp_MAIL(self, arg):
        if not self.mails_per_connection or self.mails_here < self.mails_per_connection:
            return await super().smtp_MAIL(arg)
        await self.push("421 4.7.0 peer.test Too many mails on this connection, closing")
        self._handler_coroutine.cancel()
        self.transport.close()

    async def smtp_STARTTLS(self, arg):
        if not self.inject or arg:
            return await super().smtp_STARTTLS(arg)
        # One write, one packet: the go-ahead and the forged reply arrive together.
        self.transport.write(b"220 Ready to start TLS\r\n250-peer.test\r\n250 AUTH LOGIN\r\n")
        await self._writer.drain()


def server_context(files):
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(files[0], files[1])
    return context


async def serve(args):
    os.makedirs(args.folder, exist_ok=True)
    # Bind the port ourselves: port 0 gives a free one without any race with other programs.
    sock = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    sock.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    sock.bind((args.host, 0))
    port = sock.getsockname()[1]
    handler = StoringHandler(args.folder, args.accept_delay)
    authenticator = Authenticator(args.user or "", args.password or "")

    starttls = server_context(args.starttls) if args.starttls else None
    implicit = server_context(args.implicit_tls) if args.implicit_tls else None
    # A plain peer keeps the record only when asked (--record): it holds every mail then.
    plaintext_log = os.path.join(args.folder, "plaintext.log") if starttls or implicit or args.record else None

    def factory():
        peer = PeerSMTP(handler, hostname="peer.test", authenticator=authenticator,
                        auth_require_tls=starttls is not None, auth_required=bool(args.user),
                        data_size_limit=None, enable_SMTPUTF8=False, tls_context=starttls,
                        require_starttls=starttls is not None, plaintext_log=plaintext_log,
                        implicit_tls=implicit is not None, inject=args.inject_after_starttls,
                        mails_per_connection=args.mails_per_connection,
                        auth_exclude_mechanism=[] if args.xoauth2_tokens else ["XOAUTH2"])
        if args.xoauth2_tokens:
            peer.xoauth2_tokens = args.xoauth2_tokens
            peer.xoauth2_user = args.user or ""
            peer.xoauth2_log = os.path.join(args.folder, "xoauth2.log")
        return peer

    loop = asyncio.get_running_loop()
    server = await loop.create_server(factory, sock=sock, ssl=implicit)
    stop = asyncio.Event()
    for sig in (signal.SIGTERM, signal.SIGINT):
        loop.add_signal_handler(sig, stop.set)
    print("PORT %d" % port, flush=True)
    try:
        await asyncio.wait_for(stop.wait(), timeout=args.lifetime)
    except asyncio.TimeoutError:
        print("smtp_peer: lifetime over, stopping", file=sys.stderr)
    server.close()


def main():
    # AUTH over plain TCP is what the tests want; aiosmtpd's warning about it is noise here.
    warnings.filterwarnings("ignore", message="Requiring AUTH while not requiring TLS")
    parser = argparse.ArgumentParser()
    parser.add_argument("folder")
    parser.add_argument("--user")
    parser.add_argument("--password")
    parser.add_argument("--xoauth2-tokens")
    parser.add_argument("--lifetime", type=float, default=900)
    parser.add_argument("--mails-per-connection", type=int, default=0)
    parser.add_argument("--accept-delay", type=float, default=0.0)
    parser.add_argument("--record", action="store_true")
    parser.add_argument("--host", default=LOOPBACK, help="a loopback address to listen on (127.0.0.2 for another host)")
    tls = parser.add_mutually_exclusive_group()
    tls.add_argument("--starttls", nargs=2, metavar=("CERT", "KEY"))
    tls.add_argument("--implicit-tls", nargs=2, metavar=("CERT", "KEY"))
    parser.add_argument("--inject-after-starttls", action="store_true")
    args = parser.parse_args()
    if args.inject_after_starttls and not args.starttls:
        parser.error("--inject-after-starttls needs --starttls")
    asyncio.run(serve(args))


if __name__ == "__main__":
    main()
