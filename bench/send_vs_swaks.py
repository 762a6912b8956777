#!/usr/bin/env python3
"""Composing and sending a message with one large random attachment to a
fast SMTP sink of our own: tavrin against swaks (which also encodes), and
curl sending the already-encoded message (transmit only, the ceiling).

Usage: bench/send_vs_swaks.py [build folder] [MiB]   (defaults: build, 100)"""
import os
import shutil
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from process_bench import best_of, make_random_file, smtp_sink  # noqa: E402

build = sys.argv[1] if len(sys.argv) > 1 else "build"
mib = int(sys.argv[2]) if len(sys.argv) > 2 else 100
tavrin = os.path.join(build, "apps/tavrin/tavrin")
for tool in ("swaks", "curl"):
    if not shutil.which(tool):
        raise SystemExit(f"{tool} is not installed (tools/setup installs it)")

work = tempfile.mkdtemp(prefix="tavrin-bench-")
try:
    with smtp_sink(build) as port:
        data = os.path.join(work, "attachment.bin")
        make_random_file(data, mib << 20)
        size = os.path.getsize(data)
        envelope = ["-from:me@example.com", "-to:you@example.com", "-s:benchmark", "-msg:x", "-q"]
        ours = [tavrin, "-host:127.0.0.1", f"-port:{port}", "-a:" + data] + envelope
        theirs = ["swaks", "--server", f"127.0.0.1:{port}", "--from", "me@example.com", "--to", "you@example.com",
                  "--attach", "@" + data, "--suppress-data", "--silent", "2"]
        message = os.path.join(work, "message.eml")
        subprocess.run([tavrin, "-mf", "-host:" + message, "-a:" + data] + envelope, check=True)
        transmit = ["curl", "--silent", f"smtp://127.0.0.1:{port}", "--mail-from", "me@example.com",
                    "--mail-rcpt", "you@example.com", "--upload-file", message]
        t_ours, m_ours = best_of(3, ours, "/dev/null")
        t_swaks, m_swaks = best_of(1, theirs, "/dev/null")
        t_curl, m_curl = best_of(3, transmit, "/dev/null")
    rate = lambda t: size / t / 1e6  # noqa: E731
    print(f"{mib} MiB attachment, MB/s of attachment bytes, peak resident KiB:")
    print(f"  tavrin (compose and send) {rate(t_ours):7.0f} MB/s {m_ours:8d} KiB")
    print(f"  swaks  (compose and send) {rate(t_swaks):7.0f} MB/s {m_swaks:8d} KiB")
    print(f"  curl   (send only)        {rate(t_curl):7.0f} MB/s {m_curl:8d} KiB")
    print(f"  ratio tavrin / swaks: {t_swaks / t_ours:.1f}")
finally:
    shutil.rmtree(work)
