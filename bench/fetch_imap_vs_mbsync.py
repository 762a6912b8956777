#!/usr/bin/env python3
"""Fetching a whole IMAP INBOX from Dovecot (the mail_servers fixture):
tavrin's IMAP reader against Debian's mbsync (isync), on the same mailbox in
one run. The mailbox holds MESSAGES multipart/mixed messages of about
50 KiB (a few KiB of text and a base64 attachment of random bytes), seeded
straight into the Maildir. mbsync pulls the INBOX into a local Maildir
(plain IMAP on loopback, LOGIN; every run from an empty Maildir and no sync
state, so it copies every message); tavrin appends every message to one
file ("-file:") and stores the attachments ("-extract:"). Both write into
memory (a folder on /dev/shm when there is one): mbsync syncs every message
it writes, which on a disk would time the disk, not the fetching.

Prints messages per second and peak memory of each (best of 3 runs), and
what the server alone delivers to a client that only counts the messages:
with one FETCH of 1:N (the ceiling for any client) and with one FETCH per
message, each sent when the one before has been answered (what a round
trip per message costs). Then tavrin's peak on a mailbox a tenth the size,
to show that the peak does not grow with the mailbox, and whether the goals
hold: tavrin at least mbsync's messages per second, and tavrin's peak
memory under 16 MiB on both mailboxes. Exits 1 when a goal fails or tavrin
does not store one attachment for each message.

Runs as root (the servers drop to their own users). Starts the servers in
a fresh folder under /tmp on free loopback ports and stops them by pid.

Usage: bench/fetch_imap_vs_mbsync.py [path/to/tavrin] [messages]   (defaults: build/apps/tavrin/tavrin, 2000)"""
import os
import re
import shutil
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
goal_ratio = 1.0
goal_peak_kib = 16 * 1024
FETCH_ITEMS = b"(UID RFC822.SIZE BODY.PEEK[])"

require_root_and("fetch_imap_vs_mbsync", ("mbsync", "dovecot", "postfix"))
if count < 1:
    raise SystemExit("fetch_imap_vs_mbsync: the message count must be at least 1")


class RawImap:
    """A client that logs in, selects the INBOX and only counts what the
    server sends."""

    def __init__(self, port, user, password):
        self.sock = socket.create_connection(("127.0.0.1", port), timeout=120)
        self.file = self.sock.makefile("rb", buffering=1 << 20)
        self.serial = 0
        self.file.readline()
        self.command(f"LOGIN {user} {password}".encode())
        self.exists = 0
        for line in self.command(b"SELECT INBOX"):
            m = re.match(rb"\* (\d+) EXISTS", line)
            if m:
                self.exists = int(m.group(1))

    def send(self, text):
        """Sends a command; gives its tag."""
        self.serial += 1
        tag = b"b%d" % self.serial
        self.sock.sendall(tag + b" " + text + b"\r\n")
        return tag

    def answer(self, tag):
        """Reads to the tagged reply; gives the lines outside literals and
        the number of literals read past."""
        lines, literals = [], 0
        while True:
            line = self.file.readline()
            if not line:
                raise SystemExit("fetch_imap_vs_mbsync: the server closed the connection")
            while line.endswith(b"}\r\n"):
                size = int(line[line.rindex(b"{") + 1:-3])
                if len(self.file.read(size)) != size:
                    raise SystemExit("fetch_imap_vs_mbsync: a literal was cut short")
                literals += 1
                line = self.file.readline()
            if line.startswith(tag + b" "):
                if not line.startswith(tag + b" OK"):
                    raise SystemExit(f"fetch_imap_vs_mbsync: the server answered {line!r}")
                return lines, literals
            lines.append(line)

    def command(self, text):
        return self.answer(self.send(text))[0]

    def close(self):
        self.command(b"LOGOUT")
        self.sock.close()


def warm_up(port, user, password, n):
    """One session that asks for every size, so Dovecot moves the new files
    to cur and indexes them before anything is timed."""
    client = RawImap(port, user, password)
    try:
        if client.exists != n:
            raise SystemExit(f"fetch_imap_vs_mbsync: the server shows {client.exists} messages for {user}, not {n}")
        client.command(b"FETCH 1:* (UID RFC822.SIZE)")
    finally:
        client.close()


def server_rate(port, user, password, n, one_by_one):
    """Messages per second that the server itself delivers to a client that
    only counts the literals (best of the runs): one FETCH for all, or one
    per message, each sent when the one before has been answered."""
    best = None
    for _ in range(runs):
        client = RawImap(port, user, password)
        start = time.perf_counter()
        if one_by_one:
            got = sum(client.answer(client.send(b"FETCH %d " % i + FETCH_ITEMS))[1] for i in range(1, n + 1))
        else:
            got = client.answer(client.send(b"FETCH 1:%d " % n + FETCH_ITEMS))[1]
        seconds = time.perf_counter() - start
        client.close()
        if got != n:
            raise SystemExit(f"fetch_imap_vs_mbsync: the server sent {got} messages, not {n}")
        best = seconds if best is None else min(best, seconds)
    return n / best


def maildir_messages(folder):
    return sum(len(os.listdir(os.path.join(folder, sub)))
               for sub in ("cur", "new") if os.path.isdir(os.path.join(folder, sub)))


def mbsync_config(path, port, password, near):
    """A channel that pulls the server's INBOX into the Maildir near/INBOX
    and keeps its sync state in that Maildir, so removing near starts over."""
    with open(path, "w") as f:
        f.write(f"IMAPAccount bench\nHost 127.0.0.1\nPort {port}\nUser u\nPass {password}\n"
                "SSLType None\nAuthMechs LOGIN\n\n"
                "IMAPStore far\nAccount bench\n\n"
                f"MaildirStore near\nPath {near}/\nInbox {near}/INBOX\n\n"
                "Channel bench\nFar :far:INBOX\nNear :near:INBOX\n"
                "Sync Pull\nCreate Near\nSyncState *\n")
    os.chmod(path, 0o600)


def timed_mbsync(conf, near):
    """Best time and largest peak of the runs; each starts with no local
    Maildir and no sync state."""
    said = os.path.join(os.path.dirname(near), "mbsync.err")  # it warns of the password in the clear
    results = []
    for _ in range(runs):
        shutil.rmtree(near, ignore_errors=True)
        os.mkdir(near)
        try:
            results.append(run(["mbsync", "-c", conf, "-q", "bench"], "/dev/null", stderr_path=said))
        except subprocess.CalledProcessError as e:
            with open(said, errors="replace") as f:
                sys.stderr.write(f.read())
            raise SystemExit(f"mbsync failed (exit {e.returncode})")
        got = maildir_messages(os.path.join(near, "INBOX"))
        if got != count or not os.path.exists(os.path.join(near, "INBOX", ".mbsyncstate")):
            raise SystemExit(f"mbsync copied {got} messages, not {count}, or kept its state elsewhere")
    return best_and_peak(results)


password = "benchpw"
with mail_servers("fetch_imap_vs_mbsync", [f"u:{password}", f"s:{password}"]) as servers:
    imap = servers.port["imap"]
    size = seed(servers.maildir("u"), count)
    seed(servers.maildir("s"), small_count)
    warm_up(imap, "u", password, count)
    warm_up(imap, "s", password, small_count)
    print(f"mailbox: {count} messages, {size / 1e6:.0f} MB ({size / count / 1024:.0f} KiB each); "
          f"best of {runs}; messages per second, peak resident KiB")

    conf = os.path.join(servers.output, "mbsyncrc")
    near = os.path.join(servers.output, "mbsync")
    mbsync_config(conf, imap, password, near)
    t_mbsync, m_mbsync = timed_mbsync(conf, near)
    r_mbsync = count / t_mbsync
    shutil.rmtree(near)
    print(f"mbsync: {r_mbsync:7.0f} msg/s {m_mbsync:7d} KiB peak")
    r_server = server_rate(imap, "u", password, count, one_by_one=False)
    print(f"server: {r_server:7.0f} msg/s with one FETCH 1:{count} and nothing done with the messages "
          f"({r_server / r_mbsync:.2f}x mbsync: no client can go faster)")
    r_single = server_rate(imap, "u", password, count, one_by_one=True)
    print(f"server: {r_single:7.0f} msg/s with one FETCH per message, each after the answer to the one before "
          f"({(1 / r_single - 1 / r_server) * 1e6:.0f} us more per message)")

    failed = judge_tavrin(tavrin, ["-imap"], imap, password, (count, small_count), servers.output, runs,
                          "mbsync", r_mbsync, goal_ratio, goal_peak_kib)
sys.exit(1 if failed else 0)
