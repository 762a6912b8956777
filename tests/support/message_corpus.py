#!/usr/bin/python3
"""Prints the paths of the messages that the extraction comparison reads,
one a line:

- the msg_*.txt messages of the Python test suite's email data folder
  (Debian package libpython3.11-testsuite) that Python's email package reads
  without a defect (of the message, a part or a header) and that have a
  named part or at least one non-blank body;
- messages written into TMPDIR by composers that are not ours: mpack (a
  binary file, a text file, a file with a long non-ASCII name) and Python's
  own generator (long non-ASCII names in RFC 2231 form, a multipart/mixed
  inside a multipart/alternative, a quoted-printable text attachment, a
  message/rfc822 attachment).

The generated contents are fixed bytes, and Python's messages have fixed
boundaries; mpack chooses its own Message-ID. With --skipped, prints the
test-suite messages left out and why on standard error.

Usage: message_corpus.py TMPDIR [--skipped]"""
import email
import email.message
import email.policy
import glob
import os
import shutil
import subprocess
import sys
import sysconfig


def suite_folder():
    for folder in [os.path.join(sysconfig.get_paths()["stdlib"], "test", "test_email", "data")] + \
            sorted(glob.glob("/usr/lib/python3*/test/test_email/data")):
        if os.path.isdir(folder):
            return folder
    raise SystemExit("message_corpus: the Python test suite's email data is missing "
                     "(tools/setup installs libpython3.11-testsuite)")


def why_not(path):
    """None when the message is one to use, else the reason."""
    with open(path, "rb") as f:
        message = email.message_from_binary_file(f, policy=email.policy.default)
    defects, named, bodies = [], 0, 0
    for part in message.walk():
        defects += [type(d).__name__ for d in part.defects]
        for name, value in part.items():
            defects += [f"{type(d).__name__} in {name}" for d in getattr(value, "defects", ())]
        if part.is_multipart():
            continue
        if part.get_filename():
            named += 1
        payload = part.get_payload(decode=True)
        if payload and payload.strip():
            bodies += 1
    if defects:
        return ", ".join(sorted(set(defects)))
    if not named and not bodies:
        return "no named part and no body"
    return None


# Fixed contents: a binary of every byte value, and text with the things
# that encoders must take care with (long lines, trailing blanks, '=', 8-bit).
BINARY = bytes(range(256)) * 64 + b"\r\n.\r\n\n\r\x00--"
TEXT = ("Plain text for an attachment.\n"
        "A line with trailing blanks   \n"
        "A tab\there, an equals sign = and =3D, and a dot line:\n.\n"
        "Non-ASCII: Gr\u00fc\u00dfe aus K\u00f6ln, \u00e7a va, \u0436\u0443\u0440\u043d\u0430\u043b.\n"
        + "A long line " * 12 + "that goes past seventy-six characters.\n")
LONG_NAMES = [
    "Gr\u00f6\u00dfenverh\u00e4ltnisse der \u00fcber\u00f6rtlichen Stra\u00dfenplanung f\u00fcr "
    "\u00d6sterreich \u2013 Anhang zur \u00dcbersicht.bin",
    "\u0413\u043e\u0434\u043e\u0432\u043e\u0439 \u043e\u0442\u0447\u0451\u0442 \u043e "
    "\u0440\u0435\u0437\u0443\u043b\u044c\u0442\u0430\u0442\u0430\u0445 \u0440\u0430\u0431\u043e\u0442\u044b "
    "\u0437\u0430 \u0434\u0432\u0430 \u0433\u043e\u0434\u0430.pdf",
    "\u65e5\u672c\u8a9e\u306e\u9577\u3044\u30d5\u30a1\u30a4\u30eb\u540d\u3092\u6301\u3064"
    "\u6dfb\u4ed8\u30d5\u30a1\u30a4\u30eb\u306e\u30c6\u30b9\u30c8\u7528\u30c7\u30fc\u30bf.dat",
]


def write(path, data):
    with open(path, "wb") as f:
        f.write(data)
    return path


def mpack_messages(tmp):
    mpack = shutil.which("mpack")
    if not mpack:
        raise SystemExit("message_corpus: mpack is missing (tools/setup installs it)")
    src = os.path.join(tmp, "mpack-inputs")
    os.makedirs(src, exist_ok=True)
    description = write(os.path.join(src, "description.txt"), b"The files you asked for.\n")
    jobs = [
        ("mpack-binary.eml", "image.bin", BINARY, ["-d", description]),
        ("mpack-text.eml", "notes.txt", TEXT.encode(), []),
        ("mpack-long-name.eml", LONG_NAMES[0], BINARY[:3000], []),
    ]
    paths = []
    for message, name, data, extra in jobs:
        source = write(os.path.join(src, name), data)
        out = os.path.join(tmp, message)
        if os.path.exists(out):
            os.remove(out)
        subprocess.run([mpack, "-s", "files from mpack"] + extra + ["-o", out, source],
                       check=True, stdout=subprocess.DEVNULL)
        paths.append(out)
    return paths


def base(subject):
    m = email.message.EmailMessage()
    m["From"] = "Sender <sender@example.org>"
    m["To"] = "Receiver <receiver@example.net>"
    m["Subject"] = subject
    m["Date"] = "Mon, 04 Mar 2024 10:00:00 +0000"
    m["Message-ID"] = "<" + subject.replace(" ", "-") + "@example.org>"
    return m


def python_messages(tmp):
    out = []

    # Long non-ASCII names: the generator writes them as RFC 2231 sections.
    m = base("long names")
    m.set_content("Three files with long names.\n")
    for i, name in enumerate(LONG_NAMES):
        m.add_attachment(BINARY[i * 1000:(i + 2) * 1000], maintype="application",
                         subtype="octet-stream", filename=name)
    m.set_boundary("==long-names==")
    out.append(("python-long-names.eml", m))

    # multipart/alternative whose second alternative is a multipart/mixed.
    m = base("nested mixed")
    m.set_content("The plain alternative.\n")
    mixed = email.message.EmailMessage()
    mixed.set_content("<p>The rich alternative, with a file.</p>\n", subtype="html")
    mixed.add_attachment(BINARY[:5000], maintype="image", subtype="png", filename="chart.png")
    mixed.set_boundary("==inner-mixed==")
    m.make_alternative()
    m.attach(mixed)
    m.set_boundary("==outer-alternative==")
    out.append(("python-nested.eml", m))

    # A text attachment in quoted-printable.
    m = base("qp text")
    m.set_content("A text file in quoted-printable follows.\n")
    m.add_attachment(TEXT, subtype="plain", charset="utf-8", cte="quoted-printable",
                     filename="notes-qp.txt")
    m.set_boundary("==qp-text==")
    out.append(("python-qp-text.eml", m))

    # A message/rfc822 attachment that carries a named part of its own.
    inner = base("inner message")
    inner.set_content("The forwarded message.\n")
    inner.add_attachment(BINARY[:2000], maintype="application", subtype="octet-stream",
                         filename="inner-data.bin")
    inner.set_boundary("==inner-message==")
    m = base("forward")
    m.set_content("A message is attached.\n")
    m.add_attachment(inner, filename="forwarded.eml")
    m.set_boundary("==forward==")
    out.append(("python-rfc822.eml", m))

    paths = []
    for name, message in out:
        path = os.path.join(tmp, name)
        write(path, message.as_bytes(policy=email.policy.SMTP))
        paths.append(path)
    return paths


def main():
    args = [a for a in sys.argv[1:] if a != "--skipped"]
    if len(args) != 1:
        raise SystemExit(__doc__)
    tmp = args[0]
    os.makedirs(tmp, exist_ok=True)
    folder = suite_folder()
    for path in sorted(glob.glob(os.path.join(folder, "msg_*.txt"))):
        reason = why_not(path)
        if reason is None:
            print(path)
        elif "--skipped" in sys.argv:
            print(f"skipped {os.path.basename(path)}: {reason}", file=sys.stderr)
    for path in mpack_messages(tmp) + python_messages(tmp):
        print(path)


if __name__ == "__main__":
    main()
