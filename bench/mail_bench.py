"""Shared by the benchmarks that fetch a mailbox from Dovecot (the
mail_servers fixture): the servers in a fresh folder on free loopback ports,
mailboxes of generated messages seeded straight into the Maildirs, and timed
runs of tavrin that must store one attachment for every message.

A message is multipart/mixed, about 50 KiB: a few KiB of text and a base64
attachment of random bytes named data-NNNNN.bin."""
import base64
import contextlib
import email
import email.policy
import email.utils
import os
import shutil
import socket
import subprocess
import sys
import tempfile

from process_bench import run

FIXTURE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tools", "fixtures", "mail_servers")
MAIL_UID = 5000  # the fixture's owner of the mailboxes
# The order of the fixture's ports after its folder.
PORT_NAMES = ("smtp", "smtps", "smtplogin", "lmtp", "auth", "imap", "pop3", "imaps", "pop3s")
TEXT_LINE = "The quick brown fox jumps over the lazy dog, message {0}, line {1:02}.\n"
ATTACHMENT_BYTES = 34 * 1024


def require_root_and(name, tools):
    """Ends the script unless it runs as root and every tool is on PATH."""
    if os.geteuid() != 0:
        raise SystemExit(f"{name}: run as root (the mail servers drop to their own users)")
    for tool in tools:
        if not shutil.which(tool):
            raise SystemExit(f"{tool} is not installed (tools/setup installs it)")


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
                raise SystemExit("the seeded message does not parse back")
        name = f"{1000000000 + i}.M{i}P{os.getpid()}.bench"
        staged = os.path.join(maildir, "tmp", name)
        with open(staged, "wb") as f:
            f.write(data)
        os.chown(staged, MAIL_UID, MAIL_UID)
        os.rename(staged, os.path.join(maildir, "new", name))
        total += len(data)
    return total


def fresh(folder):
    shutil.rmtree(folder, ignore_errors=True)
    os.mkdir(folder)


def stored_files(folder):
    return sum(len(files) for _, _, files in os.walk(folder))


class MailServers:
    """What mail_servers() gives: the fixture's folder, its ports by name
    (PORT_NAMES), and an empty output folder in memory where there is one."""

    def __init__(self, folder, ports, output):
        self.folder = folder
        self.port = dict(zip(PORT_NAMES, ports))
        self.output = output

    def maildir(self, user):
        return os.path.join(self.folder, "home", user, "Maildir")


@contextlib.contextmanager
def mail_servers(name, users):
    """Starts the fixture with the users ("user:password") in a fresh folder
    under /tmp (short: Dovecot's socket paths) and stops it by pid when the
    block ends, removing every folder it made."""
    work = tempfile.mkdtemp(prefix="tv", dir="/tmp")
    os.chmod(work, 0o755)
    servers = os.path.join(work, "srv")
    os.mkdir(servers, 0o755)
    # In memory: mbox and Maildir writers sync after every message, which on
    # a disk here costs from 0.05 to 3 ms and would time the disk.
    output = tempfile.mkdtemp(prefix="tv", dir="/dev/shm" if os.path.isdir("/dev/shm") else work)
    started = False
    try:
        ports = free_ports(len(PORT_NAMES))
        log = os.path.join(work, "fixture.log")
        started = True
        with open(log, "wb") as f:
            status = subprocess.run([FIXTURE, "start", servers] + [str(p) for p in ports] + list(users),
                                    stdout=f, stderr=subprocess.STDOUT).returncode
        if status != 0:
            with open(log) as f:
                sys.stderr.write(f.read())
            raise SystemExit(f"{name}: the mail servers did not start")
        yield MailServers(servers, ports, output)
    finally:
        if started:
            subprocess.run([FIXTURE, "stop", servers])
        shutil.rmtree(output, ignore_errors=True)
        shutil.rmtree(work)


def best_and_peak(results):
    """The fastest time and the largest peak of (seconds, KiB) runs."""
    return min(r[0] for r in results), max(r[1] for r in results)


def timed_tavrin(tavrin, mode, port, user, password, n, output, times):
    """Best time and largest peak of the runs of tavrin (mode: options such
    as ["-imap"]), each into an empty output file and folder; None and what
    went wrong when a run fails or does not store one attachment for each
    of the n messages."""
    out = os.path.join(output, f"tavrin-{user}.txt")
    extracted = os.path.join(output, f"tavrin-{user}-extract")
    said_path = os.path.join(output, f"tavrin-{user}.err")
    argv = [tavrin] + list(mode) + ["-host:127.0.0.1", f"-port:{port}", f"-user:{user}", f"-pass:{password}",
                                    "-file:" + out, "-extract:" + extracted, "-q", "-tmo:60"]
    results = []
    for _ in range(times):
        fresh(extracted)
        if os.path.exists(out):
            os.remove(out)
        try:
            results.append(run(argv, "/dev/null", stderr_path=said_path))
        except subprocess.CalledProcessError as e:
            with open(said_path, errors="replace") as f:
                said = " | ".join(line.strip() for line in f if line.strip())
            return None, f"exit {e.returncode}" + (f": {said}" if said else "")
        got = stored_files(extracted)
        if got != n:
            return None, f"{got} attachments stored for {n} messages"
    return best_and_peak(results), ""


def judge_tavrin(tavrin, mode, port, password, counts, output, runs, peer, peer_rate, goal_ratio, goal_peak_kib):
    """Times tavrin on the mailboxes of u and s (counts: their sizes, the
    second a tenth of the first) and prints its messages per second, its
    ratio to the peer tool's rate, its peaks and the goals: at least
    goal_ratio times the peer's rate, peak under goal_peak_kib on both.
    Gives True when a run failed or a goal does not hold."""
    count, small_count = counts
    ours, why = timed_tavrin(tavrin, mode, port, "u", password, count, output, runs)
    if ours is None:
        print(f"tavrin: FAILED, {why} (mailbox of {count})")
        return True
    small, why = timed_tavrin(tavrin, mode, port, "s", password, small_count, output, 1)
    r_ours = count / ours[0]
    print(f"tavrin: {r_ours:7.0f} msg/s {ours[1]:7d} KiB peak | ratio {r_ours / peer_rate:.2f}")
    if small is None:
        print(f"tavrin: FAILED, {why} (mailbox of {small_count})")
        return True
    print(f"tavrin peak: {ours[1]} KiB for {count} messages, {small[1]} KiB for {small_count} "
          f"(grows by {ours[1] - small[1]} KiB)")
    fast = r_ours >= goal_ratio * peer_rate
    lean = max(ours[1], small[1]) < goal_peak_kib
    print(f"goals: at least {goal_ratio:g}x {peer}'s messages per second: {'yes' if fast else 'NO'}; "
          f"peak under {goal_peak_kib} KiB: {'yes' if lean else 'NO'}")
    return not (fast and lean)
