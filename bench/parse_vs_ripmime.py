#!/usr/bin/env python3
"""Extracting one large random attachment from a message file: ripMIME
against "tavrin -mail -host:MESSAGE -extract:DIR", on the same file in one
run. The message is composed by tavrin ("-mf"). Prints MB/s of message
bytes and peak memory of each (best of 3 runs), the ratio, and whether the
goals hold: tavrin at least twice ripMIME's throughput, and tavrin's peak
memory at most 1.1 times the attachment plus 16 MiB. Both must store a file
equal to the attachment.

Usage: bench/parse_vs_ripmime.py [path/to/tavrin] [MiB]   (default 100)"""
import os
import shutil
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from process_bench import make_random_file, run  # noqa: E402

tavrin = sys.argv[1] if len(sys.argv) > 1 else "build/apps/tavrin/tavrin"
mib = int(sys.argv[2]) if len(sys.argv) > 2 else 100
ripmime = shutil.which("ripmime")
if not ripmime:
    raise SystemExit("ripmime is not installed (tools/setup installs it)")


def fresh(folder):
    shutil.rmtree(folder, ignore_errors=True)
    os.mkdir(folder)


def holds_copy(folder, original):
    """Whether some file under folder equals original, byte for byte."""
    for top, _, files in os.walk(folder):
        for name in files:
            path = os.path.join(top, name)
            if os.path.getsize(path) == os.path.getsize(original) and \
                    subprocess.run(["cmp", "-s", path, original]).returncode == 0:
                return True
    return False


def stored_anything(folder):
    return any(files for _, _, files in os.walk(folder))


def timed(argv, folder, count=3):
    """Best time and largest peak of count runs, each into an empty folder;
    None and the exit status when a run fails."""
    results = []
    for _ in range(count):
        fresh(folder)
        try:
            results.append(run(argv, "/dev/null"))
        except subprocess.CalledProcessError as e:
            return None, e.returncode
    return (min(r[0] for r in results), max(r[1] for r in results)), 0


work = tempfile.mkdtemp(prefix="tavrin-bench-")
failed = False
try:
    data = os.path.join(work, "attachment.bin")
    message = os.path.join(work, "message.eml")
    make_random_file(data, mib << 20)
    subprocess.run([tavrin, "-mf", "-host:" + message, "-from:a@b.example", "-to:c@d.example",
                    "-s:bench", "-msg:x", "-q", "-a:" + data], check=True)
    size = os.path.getsize(message)
    attachment = os.path.getsize(data)
    print(f"message: {size / 1e6:.0f} MB with one {mib} MiB random attachment; "
          "MB/s of message bytes, best of 3; peak resident KiB")

    out_theirs = os.path.join(work, "ripmime-out")
    theirs, status = timed([ripmime, "-i", message, "-d", out_theirs], out_theirs)
    if theirs is None:
        raise SystemExit(f"ripmime failed (exit {status})")
    if not holds_copy(out_theirs, data):
        raise SystemExit("ripmime stored no file equal to the attachment")
    r_theirs = size / theirs[0] / 1e6
    print(f"ripMIME: {r_theirs:7.0f} MB/s {theirs[1]:7d} KiB peak")

    out_ours = os.path.join(work, "tavrin-out")
    report = os.path.join(work, "report.txt")
    ours, status = timed([tavrin, "-mail", "-host:" + message, "-extract:" + out_ours,
                          "-file:" + report, "-q"], out_ours)
    if ours is None or not stored_anything(out_ours):
        print(f"tavrin: not available yet (exit {status})")
        print("goals: not checked")
    elif not holds_copy(out_ours, data):
        print("tavrin: FAILED, no stored file equals the attachment")
        failed = True
    else:
        r_ours = size / ours[0] / 1e6
        budget = int(1.1 * attachment / 1024) + 16 * 1024
        print(f"tavrin:  {r_ours:7.0f} MB/s {ours[1]:7d} KiB peak | ratio {r_ours / r_theirs:.2f}")
        fast = r_ours >= 2 * r_theirs
        small = ours[1] <= budget
        print(f"goals: throughput at least 2x ripMIME: {'yes' if fast else 'NO'}; "
              f"peak at most {budget} KiB: {'yes' if small else 'NO'}")
        failed = not (fast and small)
finally:
    shutil.rmtree(work)
sys.exit(1 if failed else 0)
