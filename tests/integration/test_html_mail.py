#!/usr/bin/python3
"""HTML, Markdown and plain message texts sent by postira-run to the real SMTP peer, one line each, and the
same list in a dry run: Python's email package must read every mail without defects, with the structure
multipart/alternative (text first, HTML second), the HTML's picture in multipart/related behind its cid,
the line's attachment in multipart/mixed around it all, the surname escaped in the HTML and plain in the
text part, and the plain text's mail exactly as before (no parts at all).
"""

import email
import email.policy
import os
import re
import subprocess
import sys
import tempfile

from postira_harness import PASSWORD, RUN, USER, Peer, write
from results import Results

results = Results()
check = results.check

LOGO = bytes(range(256)) * 40  # not a text: any change of a byte shows
SURNAME = 'Müller & <Söhne> "AG"'
HTML = ('<!DOCTYPE html><html><head><style>p { color: #003366 }</style></head><body>\n'
        '<p>Sehr geehrte(r) $Prename $Name,</p>\n'
        '<p><img src="bilder/logo.png" alt="Firmenlogo" width="120"> <b>Preise</b> ab 4,50 €:'
        ' <a href="https://example.test/preise">Preisliste</a></p>\n'
        '<ul><li>Tee</li><li>Kaffee</li></ul><img src="bilder/logo.png"><img src="https://example.test/x.png">\n'
        '<p>.Punkt am Zeilenanfang</p>\n</body></html>\n')
MARKDOWN = "# Angebot\n\nHallo **$Prename** $Name,\n\n| Artikel | Preis |\n|---|---|\n| Tee | ~~5~~ 4 € |\n"
PLAIN = "Hallo $Prename $Name,\r\nGrüße aus Köln.\r\n.Punkt\r\n"
# (subject, text file, attachment?)
LINES = [("html", "brief.html", False), ("html+anlage", "brief.html", True), ("markdown", "brief.md", False),
         ("plain", "brief.txt", False)]


def make_data(folder, port):
    os.makedirs(os.path.join(folder, "bilder"))
    account(folder, port)
    write(os.path.join(folder, "bilder", "logo.png"), LOGO)
    write(os.path.join(folder, "brief.html"), HTML.encode())
    write(os.path.join(folder, "brief.md"), MARKDOWN.encode())
    write(os.path.join(folder, "brief.txt"), PLAIN.encode("cp1252"))
    write(os.path.join(folder, "Preise.pdf"), b"%PDF-1.4 Preise")
    lines = []
    for i, (subject, text, attached) in enumerate(LINES, 1):
        fields = [SURNAME, "Jürgen", "kunde%d@example.test" % i, subject, os.path.join(folder, text), "",
                  os.path.join(folder, "Preise.pdf") if attached else ""]
        lines.append("".join(f + ";" for f in fields).encode() + b"\r\n")
    write(os.path.join(folder, "sendlist.csv"), b"".join(lines))


def structure(message):
    """The tree of content types, as 'multipart/alternative(text/plain,multipart/related(...))'."""
    if not message.is_multipart():
        return message.get_content_type()
    return "%s(%s)" % (message.get_content_type(), ",".join(structure(p) for p in message.iter_parts()))


def all_defects(message):
    return list(message.defects) + [d for part in message.walk() for d in part.defects]


def check_html(what, message, attached):
    related = "multipart/related(text/html,image/png)"
    expected = "multipart/alternative(text/plain,%s)" % related
    if attached:
        expected = "multipart/mixed(%s,application/octet-stream)" % expected
    check(structure(message) == expected, "%s: structure %s" % (what, structure(message)))
    html = message.get_body(preferencelist=("html",))
    text = message.get_body(preferencelist=("plain",))
    markup = html.get_content()
    check("$Name" not in markup and "Müller &amp; &lt;Söhne&gt; &quot;AG&quot;" in markup,
          "%s: the surname is escaped in the HTML" % what)
    check('<style>p { color: #003366 }</style>' in markup and 'alt="Firmenlogo" width="120"' in markup,
          "%s: the rest of the HTML goes as written" % what)
    cids = re.findall(r'src="cid:([^"]+)"', markup)
    check(len(cids) == 2 and cids[0] == cids[1], "%s: both pictures name one part: %s" % (what, cids))
    check('src="https://example.test/x.png"' in markup, "%s: a web picture stays" % what)
    related_part = [p for p in message.walk() if p.get_content_type() == "multipart/related"]
    pictures = [p for p in related_part[0].iter_parts() if p["Content-ID"]] if related_part else []
    check(len(pictures) == 1 and cids and pictures[0]["Content-ID"] == "<%s>" % cids[0]
          and pictures[0].get_content_disposition() == "inline" and pictures[0].get_content() == LOGO,
          "%s: the picture's bytes stand behind its cid" % what)
    body = text.get_content().replace("\r\n", "\n")
    check(body.startswith("Sehr geehrte(r) Jürgen %s,\n\nFirmenlogo Preise ab 4,50 €: Preisliste "
                          "<https://example.test/preise>\n\n- Tee\n- Kaffee\n" % SURNAME)
          and ".Punkt am Zeilenanfang" in body and "<" not in body.replace("<https://example.test/preise>", "").replace(SURNAME, ""),
          "%s: text part %r" % (what, body))
    attachments = [p.get_filename() for p in message.iter_attachments()]
    check(attachments == (["Preise.pdf"] if attached else []), "%s: attachment %s" % (what, attachments))
    if attached:
        pdf = [p for p in message.iter_attachments()][0]
        check(pdf.get_content() == b"%PDF-1.4 Preise", "%s: the attachment's bytes" % what)


def check_mail(what, raw, message):
    check(not all_defects(message), "%s: no defects: %s" % (what, all_defects(message)))
    check(max(len(line) for line in raw.split(b"\r\n")) <= 998, "%s: no line over 998 octets" % what)
    subject = str(message["subject"])
    if subject.startswith("html"):
        check_html(what, message, subject == "html+anlage")
    elif subject == "markdown":
        check(structure(message) == "multipart/alternative(text/plain,text/html)", "%s: %s" % (what, structure(message)))
        markup = message.get_body(preferencelist=("html",)).get_content()
        check("<strong>Jürgen</strong> Müller &amp; &lt;Söhne&gt;" in markup and "<table>" in markup
              and "<del>5</del>" in markup, "%s: Markdown rendered %r" % (what, markup))
        text = message.get_body(preferencelist=("plain",)).get_content()
        check("Hallo Jürgen %s," % SURNAME in text and "Tee\t5 4 €" in text, "%s: text part %r" % (what, text))
    else:
        check(not message.is_multipart() and message["MIME-Version"] == "1.0"
              and message.get_content_type() == "text/plain", "%s: the plain mail is as before" % what)
        check(message.get_content().replace("\r\n", "\n") == "Hallo Jürgen %s,\nGrüße aus Köln.\n.Punkt\n" % SURNAME,
              "%s: the plain text %r" % (what, message.get_content()))


def account(folder, port):
    write(os.path.join(folder, "postira.ini"), b"127.0.0.1\r\n%s\r\n%s\r\n%d\r\n" % (USER.encode(), PASSWORD.encode(), port))


def read_mails(folder):
    for name in sorted(os.listdir(folder)):
        if name.endswith(".eml"):
            with open(os.path.join(folder, name), "rb") as f:
                raw = f.read()
            yield raw, email.message_from_bytes(raw, policy=email.policy.default)


def main():
    with tempfile.TemporaryDirectory() as tmp:
        data, mails = os.path.join(tmp, "data"), os.path.join(tmp, "mails")
        with Peer(mails) as peer:
            make_data(data, peer.port)
            env = dict(os.environ, XDG_DATA_HOME=os.path.join(tmp, "xdg"))
            dry = subprocess.run([RUN, "--data-dir", data, "--dry-run", os.path.join(tmp, "dry")],
                                 capture_output=True, timeout=120, env=env)
            sent = subprocess.run([RUN, "--data-dir", data], capture_output=True, timeout=120, env=env)
        check(dry.returncode == 0 and sent.returncode == 0, "the runs completed: %s %s" % (dry.stderr, sent.stderr))
        for where, folder in (("sent", mails), ("dry run", os.path.join(tmp, "dry"))):
            received = list(read_mails(folder))
            check(len(received) == len(LINES), "%s: %d mails" % (where, len(received)))
            for raw, message in received:
                check_mail("%s %s" % (where, message["subject"]), raw, message)

        # A missing picture fails its line with the file's name, and the run goes on.
        os.remove(os.path.join(data, "bilder", "logo.png"))
        with Peer(mails + "2") as peer:
            account(data, peer.port)
            again = subprocess.run([RUN, "--data-dir", data, "--no-resume"], capture_output=True, timeout=120, env=env)
        out = again.stdout.decode() + again.stderr.decode()
        arrived = [n for n in os.listdir(mails + "2") if n.endswith(".eml")]
        check(len(arrived) == 2 and "logo.png" in out, "a missing picture fails its lines only: %d, %s" % (len(arrived), out))
        with open(os.path.join(data, "sendlist.csv"), "rb") as f:
            listed = f.read().decode().split("\r\n")
        check(listed[0].split(";")[5].startswith("fehlgeschlagen") and "logo.png" in listed[0],
              "the line tells the cause: %s" % listed[0])
    sys.exit(results.finish())


if __name__ == "__main__":
    main()
