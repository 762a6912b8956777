#!/usr/bin/env python3
"""Fetching a whole POP3 mailbox from Dovecot (the mail_servers fixture):
tavrin's POP3 reader against Debian's mpop, on the same mailbox in one run.
The mailbox holds MESSAGES multipart/mixed messages of about 50 KiB (a few
KiB of text and a base64 attachment of random bytes), seeded straight into
the Maildir. mpop delivers to an mbox file and keeps the messages; tavrin
appends every message to one file ("-file:") and stores the attachments
("-extract:"). Both write into memory (a folder on /dev/shm when there is
one): mpop syncs its mbox after every message, which on a disk here costs
from 0.05 to 3 ms and would time the disk, not the fetching.

Prints messages per second and peak memory of each (best of 3 runs), the
rate at which the server alone delivers the messages to a client that only
counts them (the ceiling for any client), then
tavrin's peak on a mailbox a tenth the size, to show that the peak does not
grow with the mailbox, and whether the goals hold: tavrin at least 1.5
times mpop's messages per second, and tavrin's peak memory under 16 MiB on
both mailboxes. Exits 1 when a goal fails or tavrin does not store one
attachment for each message.

Runs as root (the servers drop to their own users). Starts the servers in
a fresh folder under /tmp on free loopback ports and stops them by pid.

Usage: bench/fetch_vs_mpop.py [path/to/tavrin] [messages]   (defaults: build/apps/tavrin/tavrin, 2000)"""
import os
import poplib
import socket
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from process_bench import run  # noqa: E402
from mail_bench import best_and_peak, judge_tavrin, mail_servers, require_root_and, seed  # noqa: E402

tavrin = sys.argv[1] if len(sys.argv) > 1 else "build/apps/tavrin/tavrin"
count = int(sys.argv[2]) if len(sys.argv) > 2 else 2000
small_count = max(1, count // 10)
runs = 3
goal_ratio = 1.5
goal_peak_kib = 16 * 1024

require_root_and("fetch_vs_mpop", ("mpop", "dovecot", "postfix"))
if count < 1:
    raise SystemExit("fetch_vs_mpop: the message count must be at least 1")


def warm_up(port, user, password, n):
    """One POP3 session that lists the mailbox, so Dovecot moves the new
    files to cur and indexes their sizes before anything is timed."""
    pop = poplib.POP3("127.0.0.1", port, timeout=120)
    try:
        pop.user(user)
        pop.pass_(password)
        got = pop.stat()[0]
        pop.list()
        pop.uidl()
    finally:
        pop.quit()
    if got != n:
        raise SystemExit(f"fetch_vs_mpop: the server shows {got} messages for {user}, not {n}")


def server_rate(port, user, password, n):
    """Messages per second that the server itself delivers: every RETR sent
    at once, the answers only counted (best of the runs). No client that
    handles the messages can be faster than this."""
    best = None
    for _ in range(runs):
        s = socket.create_connection(("127.0.0.1", port), timeout=120)
        f = s.makefile("rb")
        f.readline()
        s.sendall(f"USER {user}\r\nPASS {password}\r\n".encode())
        f.readline()
        f.readline()
        start = time.perf_counter()
        s.sendall(b"".join(b"RETR %d\r\n" % i for i in range(1, n + 1)))
        got, tail = 0, b""
        while got < n:
            data = tail + f.read1(1 << 20)
            got += data.count(b"\r\n.\r\n")
            tail = data[-4:]
        seconds = time.perf_counter() - start
        s.sendall(b"QUIT\r\n")
        s.close()
        best = seconds if best is None else min(best, seconds)
    return n / best


def mbox_messages(path):
    if not os.path.exists(path):
        return 0
    with open(path, "rb") as f:
        return sum(1 for line in f if line.startswith(b"From "))


def stored_files(folder):
    return sum(len(files) for _, _, files in os.walk(folder))


def timed_mpop(conf, mbox, uidls):
    """Best time and largest peak of the runs; each starts with no mbox."""
    results = []
    for _ in range(runs):
        for path in (mbox, uidls):
            if os.path.exists(path):
                os.remove(path)
        try:
            results.append(run(["mpop", "-C", conf, "-q", "bench"], "/dev/null"))
        except subprocess.CalledProcessError as e:
            raise SystemExit(f"mpop failed (exit {e.returncode})")
        got = mbox_messages(mbox)
        if got != count:
            raise SystemExit(f"mpop delivered {got} messages, not {count}")
    return best_and_peak(results)


password = "benchpw"
with mail_servers("fetch_vs_mpop", [f"u:{password}", f"s:{password}"]) as servers:
    pop3 = servers.port["pop3"]
    size = seed(servers.maildir("u"), count)
    seed(servers.maildir("s"), small_count)
    warm_up(pop3, "u", password, count)
    warm_up(pop3, "s", password, small_count)
    print(f"mailbox: {count} messages, {size / 1e6:.0f} MB ({size / count / 1024:.0f} KiB each); "
          f"best of {runs}; messages per second, peak resident KiB")

    conf = os.path.join(servers.output, "mpoprc")
    mbox = os.path.join(servers.output, "mpop.mbox")
    uidls = os.path.join(servers.output, "mpop.uidls")
    with open(conf, "w") as f:
        f.write("defaults\ntls off\nauth user\nkeep on\nonly_new off\n"
                f"account bench\nhost 127.0.0.1\nport {pop3}\nuser u\npassword {password}\n"
                f"delivery mbox {mbox}\nuidls_file {uidls}\n")
    os.chmod(conf, 0o600)  # mpop refuses a configuration that others can read
    t_mpop, m_mpop = timed_mpop(conf, mbox, uidls)
    r_mpop = count / t_mpop
    print(f"mpop:   {r_mpop:7.0f} msg/s {m_mpop:7d} KiB peak")
    r_server = server_rate(pop3, "u", password, count)
    print(f"server: {r_server:7.0f} msg/s with every RETR sent at once and nothing done with the messages "
          f"({r_server / r_mpop:.2f}x mpop: no client can go faster)")

    failed = judge_tavrin(tavrin, [], pop3, password, (count, small_count), servers.output, runs,
                          "mpop", r_mpop, goal_ratio, goal_peak_kib)
sys.exit(1 if failed else 0)
