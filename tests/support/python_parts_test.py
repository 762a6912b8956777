#!/usr/bin/python3
"""Checks python_parts.py: its naming rules, and what it stores from messages
that tavrin composes ("-mf") against the files that went in.

Usage: python_parts_test.py path/to/tavrin"""
import os
import subprocess
import sys
import tempfile

here = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, here)
from python_parts import sanitize, unique  # noqa: E402

tavrin = sys.argv[1]
failures = []


def check(what, got, want):
    if got != want:
        failures.append(f"{what}: got {got!r}, want {want!r}")


for name, want in [
    ("report.pdf", b"report.pdf"),
    ("a/b\\c:d*e?f\"g<h>i|j", b"a_b_c_d_e_f_g_h_i_j"),
    ("keep $()+-._~ \tthese", b"keep $()+-._~ \tthese"),
    ("odd#&%!@,;=[]{}'`^\r\n\x7f", b"odd" + b"_" * 18),
    ("\u00fcber.txt", "\u00fcber.txt".encode()),
    (".", b"_"), ("..", b"__"), ("...", b"..."), ("./..", b"._.."),
]:
    check(f"sanitize({name!r})", sanitize(name), want)
# An 8-bit name that is not UTF-8 reaches us as surrogate escapes.
check("sanitize(latin-1)", sanitize(b"caf\xe9.txt".decode("utf-8", "surrogateescape")), b"caf\xe9.txt")
check("unique free", unique(b"a.txt", {b"b.txt"}), b"a.txt")
check("unique taken", unique(b"a.txt", {b"a.txt", b"a-1.txt"}), b"a-2.txt")
check("unique no extension", unique(b"README", {b"README"}), b"README-1")
check("unique dot file", unique(b".profile", {b".profile"}), b".profile-1")
check("unique two dots", unique(b"x.tar.gz", {b"x.tar.gz"}), b"x.tar-1.gz")


def compose(work, message, files):
    argv = [tavrin, "-mf", "-host:" + os.path.join(work, message), "-from:a@b.example",
            "-to:c@d.example", "-s:parts", "-msg:body text", "-q"] + ["-a:" + f for f in files]
    subprocess.run(argv, check=True)


def parts(work, message):
    out = os.path.join(work, message + ".parts")
    os.mkdir(out)
    listing = subprocess.run(["/usr/bin/python3", os.path.join(here, "python_parts.py"),
                              os.path.join(work, message), out], check=True, capture_output=True).stdout
    rows = [line.rsplit(b"\t", 3) for line in listing.splitlines()]
    stored = {}
    for name, size, ctype, kind in rows:
        with open(os.path.join(os.fsencode(out), name), "rb") as f:
            data = f.read()
        check(f"{message} size of {name!r}", int(size), len(data))
        stored[name] = (data, ctype.decode(), kind.decode())
    check(f"{message} files", sorted(os.listdir(os.fsencode(out))), sorted(stored))
    return [r[0] for r in rows], stored


with tempfile.TemporaryDirectory(prefix="tavrin-parts-") as work:
    def make(rel, data):
        path = os.path.join(work, rel)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data)
        return path

    binary = bytes(range(256)) * 300 + b"\r\n\n\r."
    long_name = ("Jahres\u00fcbersicht der Gesch\u00e4ftsvorg\u00e4nge f\u00fcr das Kalenderjahr "
                 "zweitausenddreiundzwanzig \u2013 endg\u00fcltige Fassung (\u00fcberarbeitet).bin")
    text = b"first line\nsecond line with trailing blanks   \n=3D not an escape\n"
    compose(work, "one.eml", [make("in/data.bin", binary), make("in/" + long_name, binary[:1000]),
                              make("in/notes.txt", text)])
    order, stored = parts(work, "one.eml")
    check("one.eml order", order, [b"data.bin", long_name.encode(), b"notes.txt"])
    check("one.eml data.bin", stored[b"data.bin"], (binary, "application/octet-stream", "binary"))
    check("one.eml long name", stored[long_name.encode()][0], binary[:1000])
    data, ctype, kind = stored[b"notes.txt"]
    check("one.eml notes.txt", (data.replace(b"\r\n", b"\n"), ctype, kind), (text, "text/plain", "text"))

    # Two files of one name, and a name that must be sanitized.
    compose(work, "two.eml", [make("a/same.bin", b"first"), make("b/same.bin", b"second"),
                              make("c/odd#name&50%!.bin", b"odd")])
    order, stored = parts(work, "two.eml")
    check("two.eml order", order, [b"same.bin", b"same-1.bin", b"odd_name_50__.bin"])
    check("two.eml contents", [stored[n][0] for n in order], [b"first", b"second", b"odd"])

for failure in failures:
    print("FAIL", failure)
print("python_parts: %s" % ("ok" if not failures else f"{len(failures)} failures"))
sys.exit(1 if failures else 0)
