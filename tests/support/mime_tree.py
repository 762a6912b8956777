#!/usr/bin/python3
"""Reads a composed message with Python's own email package and describes it:
the decoded header values, then one line per part, indented by depth, with
its type, boundary, file name, Content-ID and transfer encoding. The decoded
body of leaf part N is written to OUTDIR/part-N.

Usage: mime_tree.py MESSAGE OUTDIR"""
import email
import email.policy
import os
import sys

with open(sys.argv[1], "rb") as f:
    message = email.message_from_binary_file(f, policy=email.policy.default)
out = sys.argv[2]

for name in ("From", "To", "Cc", "Subject", "Bcc", "X-Mailer", "X-Priority", "Importance"):
    if message[name] is not None:
        print(f"{name}: {message[name]}")

leaf = 0


def walk(part, depth):
    global leaf
    fields = [part.get_content_type()]
    if part.get_boundary():
        fields.append("boundary=" + part.get_boundary())
    if part.get_filename():
        fields.append("name=" + part.get_filename())
    if part["Content-ID"]:
        fields.append("cid=" + str(part["Content-ID"]))
    if part["Content-Transfer-Encoding"]:
        fields.append("cte=" + str(part["Content-Transfer-Encoding"]))
    if part.is_multipart():
        print("  " * depth + " ".join(fields))
        for child in part.iter_parts():
            walk(child, depth + 1)
        return
    leaf += 1
    fields.append(f"part-{leaf}")
    print("  " * depth + " ".join(fields))
    with open(os.path.join(out, f"part-{leaf}"), "wb") as f:
        f.write(part.get_payload(decode=True) or b"")


walk(message, 0)
for defect in message.defects:
    print("defect:", type(defect).__name__)
