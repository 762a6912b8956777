#!/usr/bin/env python3
"""Composing a message with one large random attachment into a file
("tavrin -mf") against mpack encoding the same file, in one run: MB/s of
attachment bytes, peak memory, and the ratio.

Usage: bench/compose_vs_mpack.py [path/to/tavrin] [MiB ...]   (default 100)"""
import os
import shutil
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from process_bench import best_of, make_random_file  # noqa: E402

tavrin = sys.argv[1] if len(sys.argv) > 1 else "build/apps/tavrin/tavrin"
sizes = [int(a) for a in sys.argv[2:]] or [100]
mpack = shutil.which("mpack")
if not mpack:
    raise SystemExit("mpack is not installed (tools/setup installs it)")

work = tempfile.mkdtemp(prefix="tavrin-bench-")
try:
    for mib in sizes:
        data = os.path.join(work, "attachment.bin")
        make_random_file(data, mib << 20)
        ours = [tavrin, "-mf", "-host:" + os.path.join(work, "tavrin.eml"), "-from:me@example.com",
                "-to:you@example.com", "-s:benchmark", "-msg:x", "-q", "-a:" + data]
        mpack_out = os.path.join(work, "mpack.eml")
        theirs = [mpack, "-s", "benchmark", "-o", mpack_out, data]
        runs = 3 if mib <= 256 else 1
        t_ours, m_ours = best_of(runs, ours, "/dev/null")
        t_theirs, m_theirs = best_of(runs, theirs, "/dev/null", remove_first=[mpack_out])
        size = os.path.getsize(data)
        r_ours, r_theirs = size / t_ours / 1e6, size / t_theirs / 1e6
        print(f"{mib} MiB attachment: tavrin {r_ours:7.0f} MB/s {m_ours:6d} KiB peak | "
              f"mpack {r_theirs:7.0f} MB/s {m_theirs:6d} KiB peak | ratio {r_ours / r_theirs:.2f}")
        os.remove(data)
finally:
    shutil.rmtree(work)
