#!/usr/bin/env python3
"""Downloading one large document from lighttpd (the web_server fixture):
tavrin's "-url:" against curl, on the same file in one run.

The document is a sparse file of SIZE MiB (1024 by default) in the server's
document root, so the server sends it from the page cache and the disk is
not timed. Both clients write it into memory (a folder on /dev/shm when
there is one), and the copy is removed before every run. tavrin runs
    tavrin -extract:DIR -url:http://127.0.0.1:PORT/big.bin|big.bin
with nothing else ("-extract:" first: options act in the order given).
The document is fetched while the options are read, and with no sender
nothing is composed or sent afterwards (the run then ends with 1, which is
expected here; the stored size is what counts). curl
runs as
    curl -s -o FILE URL

Prints the throughput of each (best of 3), tavrin's peak memory (GNU time
%M) and the ratio, and whether the goals hold: tavrin at least 0.9 times
curl's throughput and its peak under 16 MiB. Exits 1 when a goal fails or a
client does not store the whole document.

Runs as root (the server drops to www-data). Starts the server in a fresh
folder under /tmp on free loopback ports and stops it by its pid, whatever
happens.

Usage: bench/url_vs_curl.py [path/to/tavrin] [MiB]   (defaults: build/apps/tavrin/tavrin, 1024)"""
import os
import shutil
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from mail_bench import free_ports, require_root_and  # noqa: E402

FIXTURE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tools", "fixtures", "web_server")

tavrin = sys.argv[1] if len(sys.argv) > 1 else "build/apps/tavrin/tavrin"
size = (int(sys.argv[2]) if len(sys.argv) > 2 else 1024) << 20
runs = 3
goal_ratio = 0.9
goal_peak_kib = 16 * 1024

require_root_and("url_vs_curl", ("lighttpd", "curl"))
if not os.access(tavrin, os.X_OK):
    raise SystemExit(f"url_vs_curl: no program at {tavrin} (build first, or name it)")


def timed(argv, output, expect_zero):
    """Seconds and peak resident KiB of one run, after removing output; the
    run must store exactly size bytes."""
    if os.path.exists(output):
        os.remove(output)
    with tempfile.NamedTemporaryFile("r") as report, tempfile.TemporaryFile() as err:
        start = time.perf_counter()
        done = subprocess.run(["/usr/bin/time", "-f", "%M", "-o", report.name] + argv,
                              stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=err)
        seconds = time.perf_counter() - start
        peak = int(report.read().split()[-1])
        err.seek(0)
        complaint = err.read().decode(errors="replace").strip()
    stored = os.path.getsize(output) if os.path.exists(output) else 0
    if (expect_zero and done.returncode != 0) or stored != size:
        raise SystemExit(f"url_vs_curl: {argv[0]} ended with {done.returncode} and stored {stored} of {size} bytes"
                         + (f": {complaint}" if complaint else ""))
    os.remove(output)
    return seconds, peak


def best(argv, output, expect_zero):
    results = [timed(argv, output, expect_zero) for _ in range(runs)]
    return min(r[0] for r in results), max(r[1] for r in results)


server = tempfile.mkdtemp(prefix="tvweb-", dir="/tmp")
os.chmod(server, 0o755)
out = tempfile.mkdtemp(prefix="tavrin-bench-", dir="/dev/shm" if os.path.isdir("/dev/shm") else None)
try:
    http, https = free_ports(2)
    subprocess.run([FIXTURE, "start", server, str(http), str(https)], check=True,
                   stdout=subprocess.DEVNULL)
    big = os.path.join(server, "www", "big.bin")
    with open(big, "wb") as f:
        f.truncate(size)
    os.chmod(big, 0o644)
    url = f"http://127.0.0.1:{http}/big.bin"
    stored = os.path.join(out, "big.bin")
    # One read of each first, so both find the file in the page cache.
    best([shutil.which("curl"), "-s", "-o", stored, url], stored, True)

    mib = size / (1 << 20)
    print(f"document: {mib:.0f} MiB (sparse), best of {runs}; throughput in MB/s, memory as peak resident KiB")
    t_curl, m_curl = best([shutil.which("curl"), "-s", "-o", stored, url], stored, True)
    t_ours, m_ours = best([tavrin, f"-extract:{out}", f"-url:{url}|big.bin"], stored, False)
    r_curl = size / t_curl / 1e6
    r_ours = size / t_ours / 1e6
    ratio = r_ours / r_curl
    print(f"curl:   {r_curl:8.0f} MB/s {m_curl:7d} KiB peak")
    print(f"tavrin: {r_ours:8.0f} MB/s {m_ours:7d} KiB peak | ratio {ratio:.2f}")
    failed = []
    if ratio < goal_ratio:
        failed.append(f"tavrin's throughput is {ratio:.2f} times curl's, below {goal_ratio}")
    if m_ours > goal_peak_kib:
        failed.append(f"tavrin's peak is {m_ours} KiB, above {goal_peak_kib}")
    for f in failed:
        print("goal failed: " + f)
    if not failed:
        print(f"goals hold: at least {goal_ratio} times curl, peak under {goal_peak_kib // 1024} MiB")
finally:
    subprocess.run([FIXTURE, "stop", server])
    shutil.rmtree(server, ignore_errors=True)
    shutil.rmtree(out, ignore_errors=True)
sys.exit(1 if failed else 0)
