#!/usr/bin/python3
"""Checks the header block of a message file as a reader sees it: prints the
longest line's length (without its line end), then the header names in
order, one a line; writes the unfolded value of each header to
OUTDIR/header-NAME (the first of that name).

Usage: header_lines.py MESSAGE OUTDIR"""
import email
import email.policy
import os
import sys

with open(sys.argv[1], "rb") as f:
    data = f.read()
head = data.split(b"\r\n\r\n", 1)[0]
print("longest", max(len(line) for line in head.split(b"\r\n")))
message = email.message_from_bytes(data, policy=email.policy.compat32)
written = set()
for name, value in message.items():
    print(name)
    if name in written:
        continue
    written.add(name)
    unfolded = value.replace("\r\n", "").replace("\n", "")
    with open(os.path.join(sys.argv[2], "header-" + name), "w", encoding="utf-8", errors="surrogateescape") as out:
        out.write(unfolded)
