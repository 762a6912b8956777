#!/usr/bin/env python3
"""Many small messages over one connection: "-import" of a description file
to the fast SMTP sink, timed per message. A run of small writes that waited
on delayed acknowledgements would show here as tens of milliseconds each.

Usage: bench/import_small_messages.py [build folder] [messages]   (defaults: build, 100)"""
import os
import shutil
import socket
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from process_bench import best_of  # noqa: E402

build = sys.argv[1] if len(sys.argv) > 1 else "build"
count = int(sys.argv[2]) if len(sys.argv) > 2 else 100
tavrin = os.path.join(build, "apps/tavrin/tavrin")
sink_program = os.path.join(build, "bench/smtp_sink")

s = socket.socket()
s.bind(("127.0.0.1", 0))
port = s.getsockname()[1]
s.close()
sink = subprocess.Popen([sink_program, str(port)])
work = tempfile.mkdtemp(prefix="tavrin-bench-")
try:
    for _ in range(50):
        try:
            socket.create_connection(("127.0.0.1", port)).close()
            break
        except OSError:
            time.sleep(0.1)
    described = os.path.join(work, "messages.txt")
    with open(described, "w") as f:
        for i in range(count):
            f.write(f"From: me@example.com\nTo: you{i}@example.com\nSubject: message {i}\n"
                    f"Contents:\nbody of message {i}\nMessage:\n")
    seconds, peak = best_of(3, [tavrin, "-host:127.0.0.1", f"-port:{port}", "-import", "-file:" + described, "-q"],
                            "/dev/null")
    print(f"{count} small messages over one connection: {seconds * 1000:.0f} ms in all, "
          f"{seconds * 1000 / count:.2f} ms a message, {peak} KiB peak")
finally:
    sink.kill()
    sink.wait()
    shutil.rmtree(work)
