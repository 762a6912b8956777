#!/usr/bin/env python3
"""Editing one element of a large XML document and saving it, against
reading the same document with xmllint, in one run:
"tavrin -xml -file:DOC -id:SOMEID -set:newname -save" (read, find, rename,
write back) and "xmllint --noout DOC" (read into a tree only). The document
(about 100 MiB by default) has varied elements, attributes, text, escapes,
comments and CDATA sections. Prints MB/s of document bytes and peak memory
of each (best of 3 runs), and the ratios; exits non-zero when tavrin's
throughput is below xmllint's or its peak memory above xmllint's. Each
saved document must hold the new name, and xmllint must read it.

Usage: bench/xml_edit_vs_xmllint.py [path/to/tavrin] [MiB]   (default 100)"""
import os
import random
import shutil
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from process_bench import run  # noqa: E402

tavrin = sys.argv[1] if len(sys.argv) > 1 else "build/apps/tavrin/tavrin"
mib = int(sys.argv[2]) if len(sys.argv) > 2 else 100
xmllint = shutil.which("xmllint")
if not xmllint:
    raise SystemExit("xmllint is not installed (tools/setup installs libxml2-utils)")

WORDS = ("alpha beta gamma delta epsilon zeta eta theta iota kappa lambda mu nu xi omicron pi rho "
         "sigma tau upsilon phi chi psi omega").split()


def make_document(path, size):
    """Records of orders with customers, lines, notes and raw blocks, to
    about size bytes; the target id sits in the middle."""
    rnd = random.Random(7)
    target = None
    with open(path, "w", encoding="utf-8") as f:
        f.write('<?xml version="1.0" encoding="utf-8"?>\n<!-- generated for the edit benchmark -->\n<orders>\n')
        written, n = 0, 0
        while written < size:
            n += 1
            words = " ".join(rnd.choice(WORDS) for _ in range(rnd.randint(3, 20)))
            parts = [f'  <order id="o{n}" state="{rnd.choice(("new", "paid", "sent"))}" '
                     f'total="{rnd.randint(1, 99999) / 100}">\n',
                     f'    <customer ref="c{rnd.randint(1, 50000)}" vip="{rnd.choice(("yes", "no"))}">'
                     f'{words.title()} &amp; Co</customer>\n']
            for k in range(rnd.randint(1, 6)):
                parts.append(f'    <line n="{k + 1}" sku="S-{rnd.randint(1000, 9999)}" qty="{rnd.randint(1, 9)}"/>\n')
            if n % 3 == 0:
                parts.append(f"    <note>{words} &lt;checked&gt; at {rnd.randint(0, 23)}:00</note>\n")
            if n % 5 == 0:
                parts.append(f"    <!-- audit {n}: {words} -->\n")
            if n % 7 == 0:
                parts.append(f"    <raw><![CDATA[if (a < b && c > d) {{ {words} }}]]></raw>\n")
            parts.append("  </order>\n")
            chunk = "".join(parts)
            f.write(chunk)
            written += len(chunk)
            if target is None and written >= size // 2:
                target = f"o{n}"
        f.write("</orders>\n")
    return target


def timed(argv, prepare=None, count=3):
    results = []
    for _ in range(count):
        if prepare:
            prepare()
        results.append(run(argv, "/dev/null"))
    return min(r[0] for r in results), max(r[1] for r in results)


work = tempfile.mkdtemp(prefix="tavrin-bench-")
failed = False
try:
    original = os.path.join(work, "orders.xml")
    doc = os.path.join(work, "edit.xml")
    target = make_document(original, mib << 20)
    size = os.path.getsize(original)
    print(f"document: {size / 1e6:.0f} MB; MB/s of document bytes, best of 3; peak resident KiB")

    theirs = timed([xmllint, "--noout", original])
    r_theirs = size / theirs[0] / 1e6
    print(f"xmllint --noout: {r_theirs:7.0f} MB/s {theirs[1]:7d} KiB peak")

    ours = timed([tavrin, "-xml", "-file:" + doc, "-id:" + target, "-set:newname", "-save"],
                 prepare=lambda: shutil.copyfile(original, doc))
    with open(doc, "rb") as f:
        saved = f.read()
    if b'<newname id="' + target.encode() + b'"' not in saved:
        raise SystemExit("tavrin: the saved document does not hold the renamed element")
    if subprocess.run([xmllint, "--noout", doc]).returncode != 0:
        raise SystemExit("tavrin: xmllint cannot read the saved document")
    r_ours = size / ours[0] / 1e6
    print(f"tavrin -xml edit and save: {r_ours:7.0f} MB/s {ours[1]:7d} KiB peak | "
          f"throughput ratio {r_ours / r_theirs:.2f}, memory ratio {ours[1] / theirs[1]:.2f}")
    fast = r_ours >= r_theirs
    small = ours[1] <= theirs[1]
    print(f"goals: throughput at least xmllint's: {'yes' if fast else 'NO'}; "
          f"peak at most xmllint's: {'yes' if small else 'NO'}")
    failed = not (fast and small)
finally:
    shutil.rmtree(work)
sys.exit(1 if failed else 0)
