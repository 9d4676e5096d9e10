#!/usr/bin/python3
"""Turns scripts/bench's raw lines into the comparison table.

usage: report.py RAW --mode native|vm --rounds N [--write BENCHMARKS.md]

RAW holds lines of four kinds:
  run NAME ROUND SECONDS SETUP_START_SECONDS|- PEAK_WORKING_SET PEAK_PRIVATE|- EXIT_CODE
  size NAME BYTES
  floor_once SECONDS PAYLOAD_BYTES BLOCK_BYTES TARBALL_BYTES
  read_tag NAME FIRST_MS MEDIAN_MS MAX_MS TAG_BYTES
Prints the table; with --write, replaces the part of the file between the
two marker lines with it (the markers are added at the end when missing).
Exit status 1 when a run failed (non-zero exit code) or a figure is missing.
"""
import argparse
import datetime
import os
import platform
import statistics
import subprocess
import sys

BEGIN = "<!-- scripts/bench: begin -->"
END = "<!-- scripts/bench: end -->"
MIB = 1024 * 1024


class Raw:
    def __init__(self, path):
        self.runs = {}     # name -> {round: (seconds, setup, working set, private, exit)}
        self.sizes = {}
        self.floor = None
        self.read_tag = {}
        with open(path) as f:
            for line in f:
                w = line.split()
                if not w:
                    continue
                if w[0] == "run":
                    setup = None if w[4] == "-" else float(w[4])
                    private = None if w[6] == "-" else int(w[6])
                    self.runs.setdefault(w[1], {})[int(w[2])] = (
                        float(w[3]), setup, int(w[5]), private, int(w[7], 16))
                elif w[0] == "size":
                    self.sizes[w[1]] = int(w[2])
                elif w[0] == "floor_once":
                    self.floor = [float(w[1])] + [int(x) for x in w[2:5]]
                elif w[0] == "read_tag":
                    self.read_tag[w[1]] = [float(x) for x in w[2:5]]

    def seconds(self, name):
        return [r[0] for _, r in sorted(self.runs[name].items())]

    def failed(self):
        return [(n, k) for n, rs in self.runs.items() for k, r in rs.items() if r[4] != 0]


def spread(values, fmt):
    return f"{fmt(statistics.median(values))} ({fmt(min(values))}–{fmt(max(values))})"


def secs(v):
    return f"{v:.3f} s" if v < 10 else f"{v:.1f} s"


def ms(v):
    return f"{v * 1000:.1f} ms" if v < 1 else secs(v)


def ratio_cell(raw, a, b):
    """Median of A over median of B, and the range of the per-round ratios."""
    ra, rb = raw.runs[a], raw.runs[b]
    per_round = [ra[k][0] / rb[k][0] for k in sorted(ra) if k in rb]
    med = statistics.median(raw.seconds(a)) / statistics.median(raw.seconds(b))
    return med, f"{med:.2f} ({min(per_round):.2f}–{max(per_round):.2f})"


def verdict(value, target, lower_is_better=True):
    ok = value <= target if lower_is_better else value >= target
    return "met" if ok else "**missed**"


def build_table(raw, mode):
    rows = []

    def row(what, ours, peer, ratio, target, status):
        rows.append(f"| {what} | {ours} | {peer} | {ratio} | {target} | {status} |")

    # Under Wine.
    stub = raw.seconds("stub")
    r, cell = ratio_cell(raw, "stub", "7za_x")
    row("stub end to end vs `7za x`", spread(stub, secs), spread(raw.seconds("7za_x"), secs),
        cell, "≤ 1.20 (aim 1.10)", verdict(r, 1.20))
    r, cell = ratio_cell(raw, "stub", "floor")
    row("stub end to end vs the decoder's floor", spread(stub, secs),
        spread(raw.seconds("floor"), secs), cell, "≤ 1.05", verdict(r, 1.05))
    _, cell = ratio_cell(raw, "7za_x", "7za_t")
    row("`7za x` vs `7za t` (7-Zip's own writing)", spread(raw.seconds("7za_x"), secs),
        spread(raw.seconds("7za_t"), secs), cell, "–", "–")
    _, cell = ratio_cell(raw, "floor", "7za_t")
    row("decoder's floor vs `7za t` (decoder against decoder)", spread(raw.seconds("floor"), secs),
        spread(raw.seconds("7za_t"), secs), cell, "–", "–")
    setup = [r[1] for _, r in sorted(raw.runs["stub"].items()) if r[1] is not None]
    if setup:
        row("stub: until the setup program starts", spread(setup, secs), "–",
            f"{statistics.median(setup) / statistics.median(stub):.2f} of end to end", "–", "–")
    trivial = [r[1] for _, r in sorted(raw.runs["trivial"].items()) if r[1] is not None]
    if trivial:
        row("a trivial program: until it starts (Wine's own start)", spread(trivial, secs), "–",
            "–", "–", "–")
    for variant, flags in (("floor_Os", "`-Os` (the size build)"), ("floor_O3", "`-O3`"),
                           ("floor_O2_pentiumpro", "`-O2 -march=pentiumpro` (CMOV)")):
        _, cell = ratio_cell(raw, variant, "floor")
        row(f"floor, decoder built {flags} vs as shipped (`-O2 -march=i586`)",
            spread(raw.seconds(variant), secs), spread(raw.seconds("floor"), secs), cell, "–", "–")

    # Memory: private bytes are what the program itself holds; the working set
    # also counts the system libraries' pages, which under Wine are its own DLLs.
    payload, block, tarball = raw.floor[1:4]
    bound = payload + block + tarball + 16 * MIB

    def median_of(name, field):
        return statistics.median([r[field] for r in raw.runs[name].values()])

    private = median_of("stub", 3)
    row("stub peak private bytes vs payload + block + tarball + 16 MiB",
        f"{private / MIB:.1f} MiB", f"{bound / MIB:.1f} MiB", f"{private / bound:.3f}", "≤ 1.000",
        verdict(private, bound))
    for name, label in (("stub", "stub"), ("floor", "decoder's floor"), ("7za_x", "7za x"),
                        ("7za_t", "7za t"), ("trivial", "a trivial program (Wine's own share)")):
        row(f"peak private bytes; peak working set: {label}",
            f"{median_of(name, 3) / MIB:.1f}; {median_of(name, 2) / MIB:.1f} MiB", "–", "–", "–",
            "–")

    # ReadTag.
    for name in ("small-tagged", "tagged"):
        label = f"{raw.sizes[name] / 1e6:.1f} MB"
        first, median, worst = raw.read_tag[name]
        row(f"`ReadTag`, {label} signed and tagged stub: first call; median (max) of 20 more",
            f"{first:.2f} ms; {median:.2f} ({worst:.2f}) ms", "–", "–", "≤ 10 ms",
            verdict(max(first, worst), 10.0))

    # Host tools.
    r, cell = ratio_cell(raw, "tag_first", "cp")
    row("`orvia-tag set`, first tag, vs `cp`", spread(raw.seconds("tag_first"), ms),
        spread(raw.seconds("cp"), ms), cell, "≤ 1.5", verdict(r, 1.5))
    again = statistics.median(raw.seconds("tag_again"))
    row("`orvia-tag set`, re-tag in place", spread(raw.seconds("tag_again"), ms), "–", "–",
        "≤ 50 ms", verdict(again, 0.050))
    r, cell = ratio_cell(raw, "pack", "7za_a_mmt1")
    row("`orvia-pack` vs `7za a -mmt=1`", spread(raw.seconds("pack"), secs),
        spread(raw.seconds("7za_a_mmt1"), secs), cell, "≤ 1.3", verdict(r, 1.3))
    _, cell = ratio_cell(raw, "pack", "7za_a_mmt2")
    row("`orvia-pack` vs `7za a -mmt=2`", spread(raw.seconds("pack"), secs),
        spread(raw.seconds("7za_a_mmt2"), secs), cell, "–", "–")
    size_ratio = raw.sizes["payload"] / raw.sizes["7z"]
    row("payload size vs `.7z` size", f"{raw.sizes['payload']:,} B", f"{raw.sizes['7z']:,} B",
        f"{size_ratio:.4f}", "within ± 0.005", verdict(abs(size_ratio - 1), 0.005))
    pack_rss = median_of("pack", 2)
    sz_rss = median_of("7za_a_mmt1", 2)
    row("peak resident set: `orvia-pack` vs `7za a -mmt=1`", f"{pack_rss / MIB:.1f} MiB",
        f"{sz_rss / MIB:.1f} MiB", f"{pack_rss / sz_rss:.2f}", "–", "–")

    head = ["| figure | ours: median (min–max) | peer | ratio: medians (per-round range) | target | |",
            "| --- | ---: | ---: | ---: | ---: | --- |"]
    return "\n".join(head + rows)


def machine(mode):
    cpu = "unknown processor"
    try:
        for line in subprocess.run(["lscpu"], capture_output=True, text=True).stdout.splitlines():
            if line.startswith("Model name:"):
                cpu = line.split(":", 1)[1].strip()
    except OSError:
        pass
    mem = os.sysconf("SC_PAGE_SIZE") * os.sysconf("SC_PHYS_PAGES") / 2**30
    wine = "wine (version unknown)"
    if mode == "native":
        version = subprocess.run(["dpkg-query", "-W", "-f=${Version}", "wine"],
                                 capture_output=True, text=True).stdout.strip()
    else:
        deps = os.environ.get("ORVIA_DEPS", "/opt/orvia-deps")
        with open(os.path.join(deps, "winvm", "COMPLETE")) as f:
            found = [line.split("=", 1)[1].strip() for line in f if line.startswith("wine=")]
        version = found[0] if found else ""
    if version:
        wine = f"Debian's wine {version}"
    where = ("Wine ran natively on this machine" if mode == "native" else
             "Wine ran in the VM of scripts/wine-session (QEMU, TCG emulation, 2 virtual "
             "processors, the prefix in guest memory): absolute times there are many times "
             "a native run's; only the ratios carry over")
    return (f"{os.cpu_count()} × {cpu}, {mem:.0f} GiB, {platform.system()} "
            f"{platform.release()}; {wine or 'wine'}; {where}")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("raw")
    parser.add_argument("--mode", required=True)
    parser.add_argument("--rounds", type=int, required=True)
    parser.add_argument("--write")
    args = parser.parse_args()
    raw = Raw(args.raw)
    if raw.failed():
        print(f"report: runs failed: {raw.failed()}", file=sys.stderr)
        return 1
    try:
        table = build_table(raw, args.mode)
    except (KeyError, TypeError) as missing:
        print(f"report: a figure is missing from {args.raw}: {missing}", file=sys.stderr)
        return 1
    print(table)
    if not args.write:
        return 0
    section = "\n".join([
        BEGIN,
        f"Measured {datetime.date.today().isoformat()} by `scripts/bench --rounds {args.rounds}` "
        f"in one run: {args.rounds} rounds, the programs of each comparison taking turns "
        f"(A B A B ...). Machine: {machine(args.mode)}.",
        "",
        table,
        END,
    ])
    with open(args.write) as f:
        text = f.read()
    if BEGIN in text and END in text:
        text = text[:text.index(BEGIN)] + section + text[text.index(END) + len(END):]
    else:
        text = text.rstrip("\n") + "\n\n" + section + "\n"
    tmp = args.write + ".tmp"
    with open(tmp, "w") as f:
        f.write(text)
    os.replace(tmp, args.write)
    return 0


if __name__ == "__main__":
    sys.exit(main())
