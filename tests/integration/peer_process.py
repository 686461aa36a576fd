"""The test servers as child processes of an integration test: the SMTP peer (scripts/smtp_peer.py) and the
stand-in OAuth2 provider (tests/support/oauth_provider.py), each started on a free loopback port that it
prints as "PORT <n>", and stopped (and if need be killed) whatever happens."""

import os
import subprocess
import threading

SOURCE = os.environ.get("POSTIRA_SOURCE_DIR", os.path.join(os.path.dirname(__file__), "..", ".."))
PEER = os.path.join(SOURCE, "scripts", "smtp_peer.py")
PROVIDER = os.path.join(SOURCE, "tests", "support", "oauth_provider.py")


class ServerProcess:
    def __init__(self, script, *arguments):
        self.process = subprocess.Popen(["/usr/bin/python3", script, *arguments],
                                        stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        self.port = None
        line = []
        reader = threading.Thread(target=lambda: line.append(self.process.stdout.readline()), daemon=True)
        reader.start()
        reader.join(60)
        if not line or not line[0].startswith("PORT "):
            self.stop()
            raise RuntimeError("%s did not start" % os.path.basename(script))
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


class PeerProcess(ServerProcess):
    def __init__(self, folder, *options):
        self.folder = folder
        super().__init__(PEER, folder, *options)
