"""The SMTP peer (scripts/smtp_peer.py) as a child process of an integration test: started on a free
loopback port, stopped (and if need be killed) whatever happens."""

import os
import subprocess
import threading

SOURCE = os.environ.get("POSTIRA_SOURCE_DIR", os.path.join(os.path.dirname(__file__), "..", ".."))
PEER = os.path.join(SOURCE, "scripts", "smtp_peer.py")


class PeerProcess:
    def __init__(self, folder, *options):
        self.folder = folder
        self.process = subprocess.Popen(["/usr/bin/python3", PEER, folder, *options],
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
