#!/usr/bin/python3
"""A stand-in OAuth2 provider for the sign-in tests, on a free loopback port.

It prints "PORT <n>" on its first line of stdout and then serves:
  GET  /authorize   redirects to the loopback redirect_uri with a code and the state; demands PKCE S256
  POST /token       grant types authorization_code (checks the PKCE verifier), refresh_token (rotates the
                    refresh token; refused with --refuse-refresh) and the device code grant
  POST /devicecode  starts a device authorization: polls answer authorization_pending --pending times,
                    then slow_down once, then the tokens; or the answers of --poll-answers, then the tokens
  GET  /log         every token and device request so far, as JSON, for the tests to check, with the
                    access and refresh tokens each one was given
With --issued-tokens FILE every access token it hands out becomes a line of FILE, and is taken out again
once it is older than --withdraw-after seconds (by default its lifetime): FILE is then the mail server's
list of good tokens (scripts/smtp_peer.py --xoauth2-tokens), so a token expires there as it would at a
real provider. A --withdraw-after shorter than the lifetime makes the server refuse tokens that the client
still takes for good, as after a revocation.
Only the Python standard library; it binds 127.0.0.1 and nothing else.
"""

import argparse
import base64
import hashlib
import http.server
import json
import os
import secrets
import sys
import threading
import time
import urllib.parse

LOOPBACK_REDIRECTS = ("http://127.0.0.1:", "http://localhost:", "http://[::1]:")
DEVICE_GRANT = "urn:ietf:params:oauth:grant-type:device_code"


class Provider:
    def __init__(self, options):
        self.options = options
        self.lock = threading.Lock()
        self.codes = {}  # code -> (client_id, redirect_uri, challenge)
        self.refresh_tokens = set()
        self.devices = {}  # device_code -> polls so far
        self.log = []
        self.issued = 0
        self.good_tokens = []  # (access token, time issued), oldest first, while --issued-tokens is set

    def tokens(self, with_refresh=True):
        """New tokens for the request logged last; called with the lock held."""
        self.issued += 1
        reply = {"access_token": "zugang-%d" % self.issued, "token_type": "Bearer",
                 "expires_in": self.options.access_lifetime}
        if with_refresh:
            refresh = "erneuern-%d-%s" % (self.issued, secrets.token_urlsafe(8))
            self.refresh_tokens.add(refresh)
            reply["refresh_token"] = refresh
        self.log[-1]["access_token"] = reply["access_token"]
        self.log[-1]["refresh_token"] = reply.get("refresh_token", "")
        if self.options.issued_tokens:
            self.good_tokens.append((reply["access_token"], time.monotonic()))
            self.write_good_tokens()
        return reply

    def withdraw_expired(self):
        """Takes the tokens older than --withdraw-after out of the file; called with the lock held."""
        limit = time.monotonic() - self.withdraw_after()
        if self.good_tokens and self.good_tokens[0][1] <= limit:
            self.good_tokens = [(token, issued) for token, issued in self.good_tokens if issued > limit]
            self.write_good_tokens()

    def withdraw_after(self):
        after = self.options.withdraw_after
        return self.options.access_lifetime if after is None else after

    def write_good_tokens(self):
        # Replaced in one step: the mail server reads the file on every login.
        path = self.options.issued_tokens
        with open(path + ".part", "w", encoding="utf-8") as out:
            out.write("".join(token + "\n" for token, _issued in self.good_tokens))
        os.replace(path + ".part", path)


def s256(verifier):
    digest = hashlib.sha256(verifier.encode("ascii")).digest()
    return base64.urlsafe_b64encode(digest).rstrip(b"=").decode("ascii")


class Handler(http.server.BaseHTTPRequestHandler):
    provider = None

    def log_message(self, *args):
        pass

    def reply_json(self, status, body):
        data = json.dumps(body).encode("utf-8")
        self.send_response(status)
        self.send_header("Content-Type", "application/json")
        self.send_header("Content-Length", str(len(data)))
        self.send_header("Cache-Control", "no-store")
        self.end_headers()
        self.wfile.write(data)

    def error(self, code, description, status=400):
        self.reply_json(status, {"error": code, "error_description": description})

    def do_GET(self):
        url = urllib.parse.urlsplit(self.path)
        query = dict(urllib.parse.parse_qsl(url.query))
        if url.path == "/log":
            with self.provider.lock:
                self.reply_json(200, self.provider.log)
        elif url.path == "/authorize":
            self.authorize(query)
        else:
            self.send_error(404)

    def authorize(self, query):
        redirect = query.get("redirect_uri", "")
        if not redirect.startswith(LOOPBACK_REDIRECTS):
            self.send_error(400, "redirect_uri is not a loopback address")
            return
        answer = {"state": query.get("state", "")}
        if query.get("response_type") != "code" or query.get("code_challenge_method") != "S256" \
                or len(query.get("code_challenge", "")) != 43:
            answer["error"] = "invalid_request"
            answer["error_description"] = "PKCE S256 is required"
        else:
            # A code with characters that must be escaped in a query, as real providers hand out.
            code = "c/" + secrets.token_urlsafe(12) + "+=%41"
            with self.provider.lock:
                self.provider.codes[code] = (query.get("client_id"), redirect, query["code_challenge"])
            answer["code"] = code
        self.send_response(302)
        self.send_header("Location", redirect + "?" + urllib.parse.urlencode(answer))
        self.send_header("Content-Length", "0")
        self.end_headers()

    def do_POST(self):
        length = int(self.headers.get("Content-Length", "0"))
        form = dict(urllib.parse.parse_qsl(self.rfile.read(length).decode("utf-8")))
        path = urllib.parse.urlsplit(self.path).path
        with self.provider.lock:
            self.provider.log.append({"path": path, "grant_type": form.get("grant_type", ""),
                                      "time": time.monotonic(), "client_id": form.get("client_id", "")})
            if path == "/token":
                self.token(form)
            elif path == "/devicecode":
                self.device_code(form)
            else:
                self.send_error(404)

    def token(self, form):
        provider = self.provider
        if form.get("client_id") != provider.options.client_id or \
                form.get("client_secret") != provider.options.client_secret:
            self.error("invalid_client", "unknown client or wrong client secret", 401)
            return
        grant = form.get("grant_type")
        if grant == "authorization_code":
            issued = provider.codes.pop(form.get("code", ""), None)
            if issued is None or issued[1] != form.get("redirect_uri") \
                    or issued[2] != s256(form.get("code_verifier", "")):
                self.error("invalid_grant", "code, redirect_uri or code_verifier do not match")
                return
            self.reply_json(200, provider.tokens())
        elif grant == "refresh_token":
            token = form.get("refresh_token", "")
            if provider.options.refuse_refresh or token not in provider.refresh_tokens:
                # With control characters and an overlong text, as a hostile or broken provider might send.
                self.error("invalid_grant", "AADSTS70008: The refresh token has expired\r\n\x1b[31m" + "x" * 500)
                return
            provider.refresh_tokens.discard(token)
            self.reply_json(200, provider.tokens())
        elif grant == DEVICE_GRANT:
            code = form.get("device_code", "")
            if code not in provider.devices:
                self.error("invalid_grant", "unknown device code")
                return
            polls = provider.devices[code]
            provider.devices[code] = polls + 1
            script = provider.options.poll_answers or \
                ["authorization_pending"] * provider.options.pending + ["slow_down"]
            answer = script[polls] if polls < len(script) else "tokens"
            if answer == "tokens":
                del provider.devices[code]
                self.reply_json(200, provider.tokens())
            elif answer == "503":
                self.send_error(503)  # an HTML page, as a proxy in front of a provider sends
            elif answer == "stall":
                time.sleep(2)  # no answer; the client gives up first
            else:
                self.error(answer, "scripted answer")
        else:
            self.error("unsupported_grant_type", str(grant))

    def device_code(self, form):
        if form.get("client_id") != self.provider.options.client_id:
            self.error("invalid_client", "unknown client", 401)
            return
        code = secrets.token_urlsafe(16)
        self.provider.devices[code] = 0
        self.reply_json(200, {"device_code": code, "user_code": "WDJB-MJHT",
                              "verification_uri": self.provider.options.verification_uri or
                              "http://127.0.0.1:%d/device" % self.server.server_port,
                              "expires_in": self.provider.options.device_lifetime,
                              "interval": self.provider.options.interval})


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--client-id", default="postira-test")
    parser.add_argument("--client-secret", help="token requests must carry this client_secret (as Google's do)")
    parser.add_argument("--access-lifetime", type=int, default=3600, help="seconds an access token lives")
    parser.add_argument("--refuse-refresh", action="store_true", help="every refresh token is refused")
    parser.add_argument("--pending", type=int, default=2, help="authorization_pending answers before slow_down")
    parser.add_argument("--interval", type=int, default=1, help="device polling interval in seconds")
    parser.add_argument("--poll-answers", type=lambda text: text.split(","),
                        help="the device polls' answers in order: an OAuth2 error code, 503 or stall")
    parser.add_argument("--verification-uri", help="the address the device sign-in names")
    parser.add_argument("--device-lifetime", type=int, default=600, help="seconds a device code lives")
    parser.add_argument("--issued-tokens", help="file of the access tokens still good, one a line")
    parser.add_argument("--withdraw-after", type=float,
                        help="seconds after which an access token leaves that file (default: its lifetime)")
    parser.add_argument("--lifetime", type=float, help="ends by itself after this many seconds")
    options = parser.parse_args()

    provider = Provider(options)
    Handler.provider = provider
    if options.issued_tokens:
        provider.write_good_tokens()

        def withdraw():
            while True:
                time.sleep(0.05)
                with provider.lock:
                    provider.withdraw_expired()

        threading.Thread(target=withdraw, daemon=True).start()
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    if options.lifetime:
        # So that a test that dies cannot leave it behind.
        timer = threading.Timer(options.lifetime, server.shutdown)
        timer.daemon = True
        timer.start()
    print("PORT %d" % server.server_port, flush=True)
    try:
        server.serve_forever()
    except KeyboardInterrupt:
        pass


if __name__ == "__main__":
    sys.exit(main())
