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
import base64
import email
import email.policy
import email.utils
import os
import poplib
import shutil
import socket
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from process_bench import run  # noqa: E402

tavrin = sys.argv[1] if len(sys.argv) > 1 else "build/apps/tavrin/tavrin"
count = int(sys.argv[2]) if len(sys.argv) > 2 else 2000
small_count = max(1, count // 10)
fixture = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tools", "fixtures", "mail_servers")
mail_uid = 5000  # the fixture's owner of the mailboxes
runs = 3
goal_ratio = 1.5
goal_peak_kib = 16 * 1024

if os.geteuid() != 0:
    raise SystemExit("fetch_vs_mpop: run as root (the mail servers drop to their own users)")
for tool in ("mpop", "dovecot", "postfix"):
    if not shutil.which(tool):
        raise SystemExit(f"{tool} is not installed (tools/setup installs it)")
if count < 1:
    raise SystemExit("fetch_vs_mpop: the message count must be at least 1")


def free_ports(n):
    """n distinct loopback ports that nothing listens on (just freed)."""
    held = []
    for _ in range(n):
        s = socket.socket()
        s.bind(("127.0.0.1", 0))
        held.append(s)
    ports = [s.getsockname()[1] for s in held]
    for s in held:
        s.close()
    return ports


TEXT_LINE = "The quick brown fox jumps over the lazy dog, message {0}, line {1:02}.\n"
ATTACHMENT_BYTES = 34 * 1024


def message(i, attachment):
    """One multipart/mixed message with LF line ends, as bytes."""
    boundary = f"=_bench_{i:05}"
    text = "".join(TEXT_LINE.format(i, n) for n in range(44))
    name = f"data-{i:05}.bin"
    head = (f"From: Sender {i} <sender{i}@test.example>\n"
            "To: Bench User <u@test.example>\n"
            f"Subject: bench message {i}\n"
            f"Date: {email.utils.formatdate(1700000000 + i * 60)}\n"
            f"Message-ID: <bench-{i:05}@test.example>\n"
            "MIME-Version: 1.0\n"
            f'Content-Type: multipart/mixed; boundary="{boundary}"\n'
            "\n"
            "This is a multi-part message in MIME format.\n"
            f"\n--{boundary}\n"
            "Content-Type: text/plain; charset=us-ascii\n"
            "Content-Transfer-Encoding: 7bit\n"
            "\n"
            f"{text}"
            f"\n--{boundary}\n"
            f'Content-Type: application/octet-stream; name="{name}"\n'
            "Content-Transfer-Encoding: base64\n"
            f'Content-Disposition: attachment; filename="{name}"\n'
            "\n")
    return head.encode() + base64.encodebytes(attachment) + f"\n--{boundary}--\n".encode()


def seed(maildir, n):
    """Writes n messages into maildir/new (through tmp, as a delivery does),
    owned by the mail uid; names in the order of the messages. Checks the
    first with Python's email package. Gives the bytes written."""
    total = 0
    for i in range(n):
        attachment = os.urandom(ATTACHMENT_BYTES)
        data = message(i, attachment)
        if i == 0:
            parsed = email.message_from_bytes(data, policy=email.policy.default)
            parts = list(parsed.iter_attachments())
            if len(parts) != 1 or parts[0].get_content() != attachment:
                raise SystemExit("fetch_vs_mpop: the seeded message does not parse back")
        name = f"{1000000000 + i}.M{i}P{os.getpid()}.bench"
        staged = os.path.join(maildir, "tmp", name)
        with open(staged, "wb") as f:
            f.write(data)
        os.chown(staged, mail_uid, mail_uid)
        os.rename(staged, os.path.join(maildir, "new", name))
        total += len(data)
    return total


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


def fresh(folder):
    shutil.rmtree(folder, ignore_errors=True)
    os.mkdir(folder)


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
    return min(r[0] for r in results), max(r[1] for r in results)


def timed_tavrin(port, user, password, n, work, times):
    """Best time and largest peak of the runs, each into an empty output
    file and folder; None and what went wrong when a run does not store one
    attachment for each of the n messages."""
    out = os.path.join(work, f"tavrin-{user}.txt")
    extracted = os.path.join(work, f"tavrin-{user}-extract")
    argv = [tavrin, "-host:127.0.0.1", f"-port:{port}", f"-user:{user}", f"-pass:{password}",
            "-file:" + out, "-extract:" + extracted, "-q", "-tmo:60"]
    results = []
    for _ in range(times):
        fresh(extracted)
        if os.path.exists(out):
            os.remove(out)
        try:
            results.append(run(argv, "/dev/null"))
        except subprocess.CalledProcessError as e:
            return None, f"exit {e.returncode}"
        got = stored_files(extracted)
        if got != n:
            return None, f"{got} attachments stored for {n} messages"
    return (min(r[0] for r in results), max(r[1] for r in results)), ""


work = tempfile.mkdtemp(prefix="tv", dir="/tmp")  # short: Dovecot's socket paths
os.chmod(work, 0o755)
servers = os.path.join(work, "srv")
os.mkdir(servers, 0o755)
output = tempfile.mkdtemp(prefix="tv", dir="/dev/shm" if os.path.isdir("/dev/shm") else work)
failed = False
started = False
try:
    ports = free_ports(9)
    pop3 = ports[6]  # the fixture takes SMTP SMTPS SMTPLOGIN LMTP AUTH IMAP POP3 IMAPS POP3S
    password = "benchpw"
    log = os.path.join(work, "fixture.log")
    started = True
    with open(log, "wb") as f:
        status = subprocess.run([fixture, "start", servers] + [str(p) for p in ports] +
                                [f"u:{password}", f"s:{password}"], stdout=f, stderr=subprocess.STDOUT).returncode
    if status != 0:
        with open(log) as f:
            sys.stderr.write(f.read())
        raise SystemExit("fetch_vs_mpop: the mail servers did not start")

    size = seed(os.path.join(servers, "home/u/Maildir"), count)
    seed(os.path.join(servers, "home/s/Maildir"), small_count)
    warm_up(pop3, "u", password, count)
    warm_up(pop3, "s", password, small_count)
    print(f"mailbox: {count} messages, {size / 1e6:.0f} MB ({size / count / 1024:.0f} KiB each); "
          f"best of {runs}; messages per second, peak resident KiB")

    conf = os.path.join(work, "mpoprc")
    mbox = os.path.join(output, "mpop.mbox")
    uidls = os.path.join(output, "mpop.uidls")
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

    ours, why = timed_tavrin(pop3, "u", password, count, output, runs)
    if ours is None:
        print(f"tavrin: FAILED, {why} (mailbox of {count})")
        failed = True
    else:
        small, why = timed_tavrin(pop3, "s", password, small_count, output, 1)
        r_ours = count / ours[0]
        print(f"tavrin: {r_ours:7.0f} msg/s {ours[1]:7d} KiB peak | ratio {r_ours / r_mpop:.2f}")
        if small is None:
            print(f"tavrin: FAILED, {why} (mailbox of {small_count})")
            failed = True
        else:
            print(f"tavrin peak: {ours[1]} KiB for {count} messages, {small[1]} KiB for {small_count} "
                  f"(grows by {ours[1] - small[1]} KiB)")
            fast = r_ours >= goal_ratio * r_mpop
            lean = max(ours[1], small[1]) < goal_peak_kib
            print(f"goals: at least {goal_ratio}x mpop's messages per second: {'yes' if fast else 'NO'}; "
                  f"peak under {goal_peak_kib} KiB: {'yes' if lean else 'NO'}")
            failed = not (fast and lean)
finally:
    if started:
        subprocess.run([fixture, "stop", servers])
    shutil.rmtree(output, ignore_errors=True)
    shutil.rmtree(work)
sys.exit(1 if failed else 0)
