#!/usr/bin/env python3
"""tavrin -encode:base64 and -decode:base64 against coreutils base64 on the
same 256 MiB random file, in one run: throughput, peak memory and ratios.

Usage: bench/base64_vs_coreutils.py [path/to/tavrin] [MiB]"""
import os
import shutil
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from process_bench import best_of, make_random_file  # noqa: E402

tavrin = sys.argv[1] if len(sys.argv) > 1 else "build/apps/tavrin/tavrin"
size = (int(sys.argv[2]) if len(sys.argv) > 2 else 256) << 20
base64 = shutil.which("base64")

work = tempfile.mkdtemp(prefix="tavrin-bench-")
try:
    raw = os.path.join(work, "random.bin")
    encoded = os.path.join(work, "random.b64")
    make_random_file(raw, size)
    best_of(1, [base64, "-w", "72"], raw, encoded)  # the encoded input for decoding
    mib = size / (1 << 20)
    rows = [
        ("encode", [tavrin, "-encode:base64"], [base64, "-w", "72"], raw, size),
        ("decode", [tavrin, "-decode:base64"], [base64, "-d"], encoded, size),
    ]
    print(f"input: {mib:.0f} MiB of random bytes; throughput in MB/s of input, memory as peak resident KiB")
    for name, ours, theirs, source, _ in rows:
        source_bytes = os.path.getsize(source)
        t_ours, m_ours = best_of(3, ours, source)
        t_theirs, m_theirs = best_of(3, theirs, source)
        r_ours = source_bytes / t_ours / 1e6
        r_theirs = source_bytes / t_theirs / 1e6
        print(f"{name}: tavrin {r_ours:8.0f} MB/s {m_ours:6d} KiB | coreutils {r_theirs:8.0f} MB/s "
              f"{m_theirs:6d} KiB | ratio {r_ours / r_theirs:.2f}")
finally:
    shutil.rmtree(work)
