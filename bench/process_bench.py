"""Timing and peak memory of whole commands, for the comparison scripts.

Peak memory comes from GNU time (%M): it forks from a small process, so the
figure is the command's own and not this interpreter's."""
import contextlib
import os
import socket
import subprocess
import tempfile
import time


def run(argv, stdin_path, stdout_path="/dev/null", stderr_path=None):
    """Runs argv with the files as standard input and output (and standard
    error when stderr_path is given; else this script's own).

    Returns (seconds, peak resident memory in KiB)."""
    with tempfile.NamedTemporaryFile("r") as report, open(stdin_path, "rb") as fin, \
            open(stdout_path, "wb") as fout, \
            (open(stderr_path, "wb") if stderr_path else contextlib.nullcontext()) as ferr:
        start = time.perf_counter()
        subprocess.run(["/usr/bin/time", "-f", "%M", "-o", report.name] + list(argv),
                       stdin=fin, stdout=fout, stderr=ferr, check=True)
        seconds = time.perf_counter() - start
        peak = int(report.read().split()[-1])
    return seconds, peak


def best_of(count, argv, stdin_path, stdout_path="/dev/null", remove_first=()):
    """The fastest of count runs, and the largest peak memory seen. The files
    in remove_first are removed before each run."""
    results = []
    for _ in range(count):
        for path in remove_first:
            if os.path.exists(path):
                os.remove(path)
        results.append(run(argv, stdin_path, stdout_path))
    return min(r[0] for r in results), max(r[1] for r in results)


def make_random_file(path, size):
    with open(path, "wb") as f:
        left = size
        while left:
            chunk = min(left, 1 << 22)
            f.write(os.urandom(chunk))
            left -= chunk


@contextlib.contextmanager
def smtp_sink(build):
    """Runs the fast SMTP sink of the build on a free loopback port until the
    block ends; gives the port."""
    s = socket.socket()
    s.bind(("127.0.0.1", 0))
    port = s.getsockname()[1]
    s.close()
    sink = subprocess.Popen([os.path.join(build, "bench/smtp_sink"), str(port)])
    try:
        for _ in range(50):
            try:
                socket.create_connection(("127.0.0.1", port)).close()
                break
            except OSError:
                time.sleep(0.1)
        yield port
    finally:
        sink.kill()
        sink.wait()
