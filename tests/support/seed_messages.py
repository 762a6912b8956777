#!/usr/bin/python3
"""Writes the messages that the mailbox tests seed, built with Python's own
email package, into OUTDIR/NAME.eml, and the attachments they carry, as
their bytes, into OUTDIR/expected/FILENAME:

- plain.eml: a text message whose body has a line that begins with '.';
- mixed.eml: multipart/mixed with a text part, a binary attachment
  (data.bin, base64) and a text attachment (notes.txt);
- utf8.eml: UTF-8 display name and subject in encoded words, a
  quoted-printable UTF-8 body;
- uu.eml: a text body with a UUencoded file (pic.gif) in it;
- twin.eml: two attachments with the same file name (same.txt), the
  second one "second copy";
- alt.eml: multipart/alternative of a text and an HTML part.

The contents are fixed: the same bytes on every run.

Usage: seed_messages.py OUTDIR"""
import binascii
import email.message
import email.policy
import os
import random
import sys

out = sys.argv[1]
expected = os.path.join(out, "expected")
os.makedirs(expected, exist_ok=True)
rng = random.Random(7)


def message(sender, subject, day):
    m = email.message.EmailMessage(policy=email.policy.SMTP)
    m["From"] = sender
    m["To"] = "u@test.example"
    m["Subject"] = subject
    m["Date"] = f"Thu, {day:02d} Dec 2026 10:00:00 +0000"
    m["Message-ID"] = f"<seed-{day}@test.example>"
    return m


def save(name, m):
    with open(os.path.join(out, name), "wb") as f:
        f.write(m.as_bytes())


def keep(name, data):
    with open(os.path.join(expected, name), "wb") as f:
        f.write(data)


m = message("Alice <alice@test.example>", "plain note", 1)
m.set_content("Hello there.\n.a line that begins with a dot\nBye.\n")
save("plain.eml", m)

data = bytes(rng.getrandbits(8) for _ in range(3000))
notes = b"first line\nsecond line\n"
keep("data.bin", data)
keep("notes.txt", notes)
m = message("Bob <bob@test.example>", "report with files", 2)
m.set_content("See the files.\n")
m.add_attachment(data, maintype="application", subtype="octet-stream", filename="data.bin")
m.add_attachment(notes, maintype="text", subtype="plain", filename="notes.txt")
save("mixed.eml", m)

m = message("J\u00f6rg M\u00fcller <joerg@test.example>", "Gr\u00fc\u00dfe aus K\u00f6ln", 3)
m.set_content("Sch\u00f6ne Gr\u00fc\u00dfe.\n", charset="utf-8", cte="quoted-printable")
save("utf8.eml", m)

picture = bytes(rng.getrandbits(8) for _ in range(500))
keep("pic.gif", picture)
lines = [binascii.b2a_uu(picture[i:i + 45]).decode("ascii") for i in range(0, len(picture), 45)]
m = message("Carol <carol@test.example>", "uuencoded picture", 4)
m.set_content("The picture:\n\nbegin 644 pic.gif\n" + "".join(lines) + "`\nend\n")
save("uu.eml", m)

m = message("Dave <dave@test.example>", "two of the same name", 5)
m.set_content("Twins.\n")
m.add_attachment(b"first copy\n", maintype="text", subtype="plain", filename="same.txt")
m.add_attachment(b"second copy\n", maintype="text", subtype="plain", filename="same.txt")
save("twin.eml", m)

m = message("Erin <erin@test.example>", "text and html", 6)
m.set_content("Plain words.\n")
m.add_alternative("<p>Plain words.</p>\n", subtype="html")
save("alt.eml", m)
