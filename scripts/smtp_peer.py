#!/usr/bin/python3
"""The SMTP peer of the integration tests and benchmarks: an aiosmtpd server on a free loopback port.

    smtp_peer.py FOLDER [--user USER --password PASSWORD] [--lifetime SECONDS]

Offers AUTH LOGIN over plain TCP; with --user every mail needs that login. Stores every message it
receives as FOLDER/NNNN.eml (the bytes as received, dot-stuffing undone) with FOLDER/NNNN.json beside it
(envelope sender and recipients, and the login used). Prints "PORT <n>" on standard output once it
listens, stops on SIGTERM or SIGINT, and ends by itself after --lifetime seconds so that it can never be
left behind.
"""

import argparse
import asyncio
import json
import os
import signal
import socket
import sys
import warnings

from aiosmtpd.smtp import SMTP, AuthResult, LoginPassword

LOOPBACK = "127.0.0.1"


class StoringHandler:
    def __init__(self, folder):
        self.folder = folder
        self.count = 0

    async def handle_DATA(self, server, session, envelope):
        self.count += 1
        base = os.path.join(self.folder, "%04d" % self.count)
        with open(base + ".eml.part", "wb") as out:
            out.write(envelope.original_content)
        login = session.auth_data.decode("utf-8", "replace") if isinstance(session.auth_data, bytes) else None
        with open(base + ".json", "w", encoding="utf-8") as out:
            json.dump({"mail_from": envelope.mail_from, "rcpt_tos": envelope.rcpt_tos, "login": login}, out)
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


async def serve(args):
    os.makedirs(args.folder, exist_ok=True)
    # Bind the port ourselves: port 0 gives a free one without any race with other programs.
    sock = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    sock.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    sock.bind((LOOPBACK, 0))
    port = sock.getsockname()[1]
    handler = StoringHandler(args.folder)
    authenticator = Authenticator(args.user or "", args.password or "")

    def factory():
        return SMTP(handler, hostname="peer.test", authenticator=authenticator, auth_require_tls=False,
                    auth_required=bool(args.user), data_size_limit=None, enable_SMTPUTF8=False)

    loop = asyncio.get_running_loop()
    server = await loop.create_server(factory, sock=sock)
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
    parser.add_argument("--lifetime", type=float, default=900)
    args = parser.parse_args()
    asyncio.run(serve(args))


if __name__ == "__main__":
    main()
