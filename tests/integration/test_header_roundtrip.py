#!/usr/bin/python3
"""Cross-checks of encoded headers, address lists and content encoders against Python's email package.

Generates a few hundred subjects and display names (ASCII, umlauts, CJK, long words, quotes), has the
program's transport code build the header lines through tests/tools/header_tool, and checks that
email.header.decode_header / email.utils.getaddresses give back exactly the input, that unfolded
headers equal the input, and that every line and encoded word keeps to its length limit.
"""

import base64
import binascii
import email
import email.policy
import os
import quopri
import random
import re
import subprocess
import sys
import unicodedata
from email.header import decode_header, make_header
from email.utils import getaddresses

from results import Results

BUILD = os.environ.get("POSTIRA_BUILD_DIR", os.path.join(os.path.dirname(__file__), "..", "..", "build"))
TOOL = os.path.join(BUILD, "tests", "header_tool")

ENCODED_WORD = re.compile(r"=\?[^?]*\?[QqBb]\?[^?]*\?=")

results = Results()
check = results.check


def run_tool(args, cases):
    """Runs the tool over cases (each a list of byte fields) and returns its results as bytes."""
    text = "".join(" ".join(field.hex() for field in case) + "\n" for case in cases)
    out = subprocess.run([TOOL] + args, input=text.encode(), capture_output=True, check=True).stdout
    return [bytes.fromhex(line) for line in out.decode().splitlines()]


def unfold(header):
    lines = header.split(b"\r\n")
    for line in lines[1:]:
        if line[:1] not in (b" ", b"\t"):
            return None
    return b"".join(lines)


def check_lines(header, what):
    for line in header.split(b"\r\n"):
        check(line.strip(b" \t") != b"", f"{what}: blank line in {header!r}")
        # A line may only stay long when it has no blank to break at after its first character.
        if len(line) > 78:
            check(b" " not in line[1:].lstrip(b" \t"), f"{what}: long line {line!r}")
    for word in ENCODED_WORD.findall(header.decode("latin-1")):
        check(len(word) <= 75, f"{what}: encoded word of {len(word)} characters")
        # Every encoded word decodes on its own (RFC 2047 section 5): no character is split between two.
        raw, charset = decode_header(word)[0]
        try:
            raw.decode(charset.replace("iso-2022-jp", "iso2022_jp"))
            whole = True
        except (UnicodeDecodeError, LookupError):
            whole = False
        check(whole, f"{what}: word {word} does not decode on its own")


def decoded(value_bytes):
    return str(make_header(decode_header(value_bytes.decode("ascii"))))


# ---------------------------------------------------------------------------------------------- texts

rng = random.Random(4711)
ASCII_WORDS = ["Hallo", "Angebot", "Re:", "Fwd:", "50%", "a=b", "x_y", "Frage?", "(Info)", "\"zitiert\"", "Nr.",
               "1,2,3", "[Liste]", "a;b", "<tag>", "user@example.org", "=?", "?=", "_", "==", "Preis:",
               "=?utf-8?q?abc?=", "x=?iso-8859-1?b?QUJD?="]
UMLAUT_WORDS = ["Grüße", "für", "Müller", "Äpfel", "Öl", "Übermaß", "straße", "Café", "naïve", "Größe,", "„Zitat“", "€5"]
CJK_WORDS = ["日本語", "こんにちは", "中文测试", "한국어", "漢字かな交じり文", "テスト", "東京都"]


def long_word(pool):
    return "".join(rng.choice(pool) for _ in range(rng.randint(30, 70)))


def random_text(ascii_only=False, latin1=False):
    words = []
    for _ in range(rng.randint(1, 14)):
        kind = rng.random()
        if ascii_only or kind < 0.45:
            words.append(rng.choice(ASCII_WORDS))
        elif latin1 or kind < 0.75:
            words.append(rng.choice(UMLAUT_WORDS if not latin1 else ["Grüße", "für", "Müller", "Äpfel", "Öl", "Café"]))
        elif kind < 0.9:
            words.append(rng.choice(CJK_WORDS))
        else:
            words.append(long_word("abcxyzäöüß" if rng.random() < 0.5 else "äöüßé日本"))
    separators = [" "] * 8 + ["  ", "\t"]
    text = words[0]
    for word in words[1:]:
        text += rng.choice(separators) + word
    if rng.random() < 0.1:
        text = long_word("abcdefghijklmnopqrstuvwxyz")  # one long plain word
    return text


# ----------------------------------------------------------------------------------------- subjects

def check_subjects(letter, charset, codec, texts, transfer=None, source_codec=None):
    args = ["subject", letter, charset] + ([transfer] if transfer else [])
    cases = [[t.encode(source_codec or codec)] for t in texts]
    for text, header in zip(texts, run_tool(args, cases)):
        what = f"subject {letter} {charset} {text!r}"
        check(header.startswith(b"Subject:"), f"{what}: {header!r}")
        check_lines(header, what)
        value = unfold(header)
        check(value is not None, f"{what}: bad continuation in {header!r}")
        if value is None:
            continue
        value = value[len(b"Subject:"):].lstrip(b" ")
        try:
            result = decoded(value)
        except Exception as error:  # noqa: BLE001 - any failure to decode is a failed case
            result = f"<{error}>"
        check(result == text, f"{what}: decoded {result!r}")
        if not ENCODED_WORD.search(value.decode("latin-1")):
            check(value == text.encode(codec), f"{what}: unfolded {value!r}")
        # The real parser of the standard library agrees.
        message = email.message_from_bytes(header + b"\r\n\r\n", policy=email.policy.default)
        parsed = str(message["Subject"])
        # (It keeps the blank that begins a continuation line when the first line holds only the name.)
        check(parsed.lstrip(" ") == text or " " in text or "\t" in text, f"{what}: parser gave {parsed!r}")


texts = [random_text() for _ in range(300)]
check_subjects("Q", "UTF-8", "utf-8", texts)
check_subjects("B", "UTF-8", "utf-8", texts)
latin = [random_text(latin1=True) for _ in range(100)]
check_subjects("Q", "ISO-8859-1", "latin-1", latin)
plain = [random_text(ascii_only=True) for _ in range(100)]
check_subjects("Q", "UTF-8", "ascii", plain)
japanese = ["".join(rng.choice(["日本語", "テスト", "東京", "abc", " ", "ｶﾞｲﾄﾞ", "！"]) for _ in range(rng.randint(1, 30)))
            for _ in range(100)]
japanese = [re.sub(r"\s+", " ", t).strip() or "x" for t in japanese]


def with_full_width_kana(text):
    """Half-width katakana (with a following voiced or semi-voiced mark) as their full-width forms."""
    out, i = "", 0
    while i < len(text):
        if "\uff61" <= text[i] <= "\uff9f":
            pair = text[i:i + 2] if text[i + 1:i + 2] in ("\uff9e", "\uff9f") else text[i]
            out += full_width(pair)
            i += len(pair)
        else:
            out += text[i]
            i += 1
    return out


def full_width(text):
    out = unicodedata.normalize("NFKC", text).replace("\u3099", "\u309b").replace("\u309a", "\u309c")
    try:
        out.encode("iso2022_jp")
        return out
    except UnicodeEncodeError:  # no combined character in JIS X 0208: the kana and the mark apart
        return "".join(full_width(c) for c in text)


# The Japanese subjects go in as Shift_JIS and must come back as the same characters (half-width kana
# as their full-width forms).
args = ["subject", "B", "ISO-2022-JP", "iso2022jp"]
jis_texts = [with_full_width_kana(t) for t in japanese]
for text, want, header in zip(japanese, jis_texts, run_tool(args, [[t.encode("shift_jis")] for t in japanese])):
    what = f"japanese subject {text!r}"
    check_lines(header, what)
    value = unfold(header)[len(b"Subject:"):].lstrip(b" ")
    check(decoded(value) == want, f"{what}: decoded {decoded(value)!r}")
    for word in ENCODED_WORD.findall(value.decode("ascii")):
        # Every word decodes on its own and returns to ASCII at its end.
        raw = decode_header(word)[0][0]
        try:
            raw.decode("iso2022_jp")
            whole = raw.rfind(b"\x1b$B") < raw.rfind(b"\x1b(B") or b"\x1b$B" not in raw
        except UnicodeDecodeError:
            whole = False
        check(whole, f"{what}: word {word} holds {raw!r}")


# ------------------------------------------------------------------------------------ display names

def random_name():
    kind = rng.random()
    if kind < 0.3:
        return rng.choice(["Hans Meier", "Meier, Hans", "Dr. Hans Meier", "O'Brien", "Sag \"Hallo\"",
                           "back\\slash", "A (B) C", "x=?y?=", "team@firma", "[Vertrieb]", "Ein <Name>"])
    words = [rng.choice(UMLAUT_WORDS + CJK_WORDS + ["Hans", "Dr.", "Meier,", "(GmbH)", "\"Chef\"", "a\\b"])
             for _ in range(rng.randint(1, 5))]
    if rng.random() < 0.1:
        words.append(long_word("äöüabc"))
    return " ".join(words)


def check_names(letter):
    lists = []
    for i in range(120):
        lists.append([(random_name(), f"user{i}.{k}@example.org") for k in range(rng.randint(1, 4))])
    cases = [[f for name, address in items for f in (name.encode(), address.encode())] for items in lists]
    for items, header in zip(lists, run_tool(["to", letter, "UTF-8"], cases)):
        what = f"names {letter} {items!r}"
        check_lines(header, what)
        value = unfold(header)
        check(value is not None and value.startswith(b"To: "), f"{what}: {header!r}")
        parsed = getaddresses([value[4:].decode("ascii")])
        check(len(parsed) == len(items), f"{what}: parsed {parsed!r}")
        for (name, address), (got_name, got_address) in zip(items, parsed):
            check(got_address == address, f"{what}: address {got_address!r}")
            if ENCODED_WORD.search(got_name) and not all(32 <= ord(c) < 127 for c in name):
                got_name = decoded(got_name.encode())
            check(got_name == name, f"{what}: name {got_name!r}")


check_names("Q")
check_names("B")


# ----------------------------------------------------------------------------- unstructured values

values = []
for _ in range(100):
    words = [rng.choice(["a", "bb", "ccc", "\"q\"", "x,y", "long" * rng.randint(1, 25)]) for _ in range(rng.randint(1, 40))]
    values.append("".join(w + rng.choice([" ", "  ", "\t", " \t"]) for w in words).rstrip(" \t"))
for text, header in zip(values, run_tool(["value"], [[v.encode()] for v in values])):
    check_lines(header, f"value {text!r}")
    check(unfold(header) == b"Subject: " + text.encode(), f"value {text!r}: unfolded {unfold(header)!r}")

# Injection attempts never give a second header line or an empty line.
attacks = ["Hallo\r\nBcc: x@y", "a\nb", "a\rb", "x\r\n \r\n\tBcc: y", "\r\n\r\nBody", "ok\r\n continued"]
for text, header in zip(attacks, run_tool(["value"], [[a.encode()] for a in attacks])):
    message = email.message_from_bytes(header + b"\r\n\r\n", policy=email.policy.compat32)
    check(list(message.keys()) == ["Subject"], f"injection {text!r}: {header!r}")
    check(message.get_payload() == "", f"injection {text!r}: body {message.get_payload()!r}")


# ---------------------------------------------------------------------------------- address lists

list_cases = {
    "a@b.de, c@d.de": [("", "a@b.de"), ("", "c@d.de")],
    "Hans Meier <h@m.de>; \"Meier, Hans\" <x@y.de>": [("Hans Meier", "h@m.de"), ("Meier, Hans", "x@y.de")],
    "h@m.de (Hans)": [("", "h@m.de")],
    "Team: a@b.de, c@d.de;": [("", "a@b.de"), ("", "c@d.de")],
}
texts = list(list_cases)
for text, out in zip(texts, run_tool(["addresses"], [[t.encode()] for t in texts])):
    got = [tuple(line.split("\t")) for line in out.decode().splitlines()]
    check(got == list_cases[text], f"addresses {text!r}: {got!r}")
    if ";" not in text:  # Python's parser knows only "," as separator
        check(getaddresses([text])[-1][1] == got[-1][1], f"addresses {text!r}: python {getaddresses([text])!r}")


# ------------------------------------------------------------------------------------- ISO-2022-JP

kana = [chr(c) for c in range(0xFF61, 0xFFA0)]
kana_cases = kana + [k + m for k in kana for m in ("\uff9e", "\uff9f")]
for text, out in zip(kana_cases, run_tool(["iso2022jp"], [[k.encode("shift_jis")] for k in kana_cases])):
    check(out == full_width(text).encode("iso2022_jp"), f"kana {text!r}: {out!r}")

jis_chars = []
for _ in range(300):
    try:
        jis_chars.append(bytes([rng.randint(0xB0, 0xF4), rng.randint(0xA1, 0xFE)]).decode("euc_jp"))
    except UnicodeDecodeError:
        pass
jis_texts = ["".join(rng.choice(jis_chars + ["a", " ", "1"]) for _ in range(rng.randint(1, 20))) for _ in range(100)]
for text, out in zip(jis_texts, run_tool(["iso2022jp"], [[t.encode("shift_jis")] for t in jis_texts])):
    check(out == text.encode("iso2022_jp"), f"jis {text!r}: {out!r}")


# ---------------------------------------------------------------------------------- body encoders

blobs = [bytes(rng.randrange(256) for _ in range(n)) for n in (0, 1, 2, 3, 55, 56, 57, 58, 114, 1000, 5000)]
for blob, out in zip(blobs, run_tool(["base64"], [[b] for b in blobs])):
    check(base64.b64decode(out) == blob, f"base64 of {len(blob)} bytes")
    check(all(len(line) <= 76 for line in out.split(b"\r\n")), f"base64 line length, {len(blob)} bytes")
for blob, out in zip(blobs, run_tool(["uue"], [[b] for b in blobs])):
    lines = out.split(b"\r\n")
    check(lines[0] == b"begin 660 data.bin" and lines[-3:] == [b"`", b"end", b""], f"uue frame {lines[:1]!r}")
    check(b"".join(binascii.a2b_uu(line) for line in lines[1:-3]) == blob, f"uue of {len(blob)} bytes")
texts = [bytes(rng.choice(b"ab =_?\t\r\n\xe4\xfc.") for _ in range(rng.randint(0, 400))) for _ in range(100)]
texts = [t.replace(b"\r", b"").replace(b"\n", b"\r\n") for t in texts]
for text, out in zip(texts, run_tool(["qp"], [[t] for t in texts])):
    check(quopri.decodestring(out) == text, f"qp {text!r}: {out!r}")
    check(all(len(line) <= 76 for line in out.split(b"\r\n")), f"qp line length {out!r}")
    check(all(not line.endswith((b" ", b"\t")) for line in out.split(b"\r\n")[:-1]), f"qp trailing blank {out!r}")


sys.exit(results.finish())
