#!/usr/bin/env python3
"""Many small messages over one connection: "-import" of a description file
to the fast SMTP sink, timed per message. A run of small writes that waited
on delayed acknowledgements would show here as tens of milliseconds each.

Usage: bench/import_small_messages.py [build folder] [messages]   (defaults: build, 100)"""
import os
import shutil
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from process_bench import best_of, smtp_sink  # noqa: E402

build = sys.argv[1] if len(sys.argv) > 1 else "build"
count = int(sys.argv[2]) if len(sys.argv) > 2 else 100
tavrin = os.path.join(build, "apps/tavrin/tavrin")

work = tempfile.mkdtemp(prefix="tavrin-bench-")
try:
    described = os.path.join(work, "messages.txt")
    with open(described, "w") as f:
        for i in range(count):
            if i:
                f.write("Message:\n")
            f.write(f"From: me@example.com\nTo: you{i}@example.com\nSubject: message {i}\n"
                    f"Contents:\nbody of message {i}\n")
    with smtp_sink(build) as port:
        seconds, peak = best_of(3, [tavrin, "-host:127.0.0.1", f"-port:{port}", "-import", "-file:" + described,
                                    "-q"], "/dev/null")
    print(f"{count} small messages over one connection: {seconds * 1000:.0f} ms in all, "
          f"{seconds * 1000 / count:.2f} ms a message, {peak} KiB peak")
finally:
    shutil.rmtree(work)
