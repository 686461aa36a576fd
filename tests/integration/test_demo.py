#!/usr/bin/python3
"""The demo: `scripts/run --demo --cli` sends the sample list to the demo mail server; four mails arrive,
personalised, the line without first name is not sent, and no process of the demo is left running."""

import os
import re
import subprocess
import sys
from pathlib import Path

source = Path(os.environ["POSTIRA_SOURCE_DIR"])
build = os.environ["POSTIRA_BUILD_DIR"]
checks = []


def check(name, ok, detail=""):
    checks.append(ok)
    print(("ok: " if ok else "FAILED: ") + name + ("" if ok else f" ({detail})"))


env = dict(os.environ, POSTIRA_RUN_BUILD_DIR=build)
result = subprocess.run([str(source / "scripts" / "run"), "--demo", "--cli", "--keep"], env=env,
                        capture_output=True, text=True, timeout=600)
output = result.stdout
print(output)
print(result.stderr, file=sys.stderr)
check("postira-run completed", result.returncode == 0, result.returncode)
check("four mails arrived", "4 Mails sind beim Demo-Mailserver angekommen" in output, output[-300:])

kept = re.search(r"Der Demo-Ordner bleibt erhalten: (\S+)", output)
check("demo folder named", kept is not None)
if kept:
    import email
    import email.policy
    root = Path(kept.group(1))
    mails = []
    for path in sorted((root / "empfangen").glob("*.eml")):
        with open(path, "rb") as handle:
            mails.append(email.message_from_binary_file(handle, policy=email.policy.default))
    recipients = sorted(str(m["To"]) for m in mails)
    check("the line without first name was not sent", not any("oeztuerk" in r for r in recipients), recipients)
    bodies = {str(m["To"]): (m.get_body(("plain",)) or m).get_content() for m in mails}
    mueller = next((body for to, body in bodies.items() if "mueller" in to), "")
    check("personalised with umlauts", "Jürgen" in mueller and "Müller" in mueller, mueller[:200])
    check("no placeholder left", all("$" not in body for body in bodies.values()))
    schaefer = next((m for m in mails if "schaefer" in str(m["To"])), None)
    check("attachment arrived", schaefer is not None and any(
        part.get_filename() == "Preisliste.txt" for part in schaefer.iter_attachments()))
    list_text = (root / "daten" / "ptdata" / "sendlist.csv").read_bytes().decode()
    check("send times written back", list_text.count("not send") == 0, list_text)
    subprocess.run(["rm", "-rf", str(root)])

# Only this run's demo counts: another demo on the machine (someone trying it out) has a folder of its own.
own = str(root) if kept else "postira-demo-"
left = subprocess.run(["pgrep", "-f", own], capture_output=True, text=True).stdout.split()
left = [pid for pid in left if int(pid) != os.getpid()]
check("no demo process left running", not left, left)

print(f"{sum(checks)} passed, {len(checks) - sum(checks)} failed")
sys.exit(0 if all(checks) else 1)
