#!/usr/bin/python3
"""Stores the named parts of a message as Python's own email package sees
them, for comparing with what tavrin extracts from the same file.

Every leaf part with a file name (Content-Disposition filename, else
Content-Type name; Python decodes the RFC 2231 and RFC 2047 forms) is written
with its decoded bytes (get_payload(decode=True), text parts too, line ends
as they are) to OUTDIR/<sanitized name>, and one line is printed per part:

    <sanitized name> TAB <size> TAB <content type> TAB text|binary

"text" marks a text/* part, so a comparison can normalise its line ends. The
name may hold tabs itself: split the line from the right. Names are printed
as raw bytes (UTF-8 where the name was text).

Sanitizing, byte by byte over the UTF-8 name: ASCII letters and digits,
bytes of 128 or more, space, tab and $ ( ) + - . _ ~ stay; every other byte
becomes '_'. A name "." becomes "_" and ".." becomes "__". An empty name
counts as no name.

Duplicates are this harness's own rule, not tavrin's: when a sanitized name
is already taken, the later part gets "-1", "-2", ... inserted before the
extension (the first free one). A comparison should only compare names
that occur once.

A message/rfc822 part is not a leaf: its inner parts are walked instead.
The message is read with policy=email.policy.default; if that raises, it is
read again with compat32 (noted on standard error).

Usage: python_parts.py MESSAGE OUTDIR"""
import email
import email.policy
import os
import sys

KEPT = set(b"abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789 \t$()+-._~")


def sanitize(name):
    try:
        raw = name.encode("utf-8", errors="surrogateescape")
    except UnicodeEncodeError:
        raw = name.encode("utf-8", errors="replace")
    out = bytes(b if b >= 128 or b in KEPT else ord("_") for b in raw)
    if out == b".":
        return b"_"
    if out == b"..":
        return b"__"
    return out


def unique(name, taken):
    if name not in taken:
        return name
    stem, ext = os.path.splitext(name)
    n = 1
    while stem + b"-%d" % n + ext in taken:
        n += 1
    return stem + b"-%d" % n + ext


def named_parts(data, policy):
    """(file name, decoded bytes, content type) of every named leaf part."""
    message = email.message_from_bytes(data, policy=policy)
    parts = []
    for part in message.walk():
        if part.is_multipart():
            continue
        name = part.get_filename()
        if not name:
            continue
        payload = part.get_payload(decode=True)
        parts.append((str(name), payload if payload is not None else b"", part.get_content_type()))
    return parts


def main():
    if len(sys.argv) != 3:
        raise SystemExit(__doc__)
    with open(sys.argv[1], "rb") as f:
        data = f.read()
    outdir = os.fsencode(sys.argv[2])
    try:
        parts = named_parts(data, email.policy.default)
    except Exception as e:  # the default policy gave up on some header
        print(f"python_parts: read with compat32 ({type(e).__name__}: {e})", file=sys.stderr)
        parts = named_parts(data, email.policy.compat32)
    taken = set()
    out = sys.stdout.buffer
    for name, payload, ctype in parts:
        stored = unique(sanitize(name), taken)
        taken.add(stored)
        with open(os.path.join(outdir, stored), "wb") as f:
            f.write(payload)
        kind = b"text" if ctype.startswith("text/") else b"binary"
        out.write(b"%s\t%d\t%s\t%s\n" % (stored, len(payload), ctype.encode("ascii", "replace"), kind))


if __name__ == "__main__":
    main()
