#!/usr/bin/env python3
"""Draws the curve bench/run.sh measures: time per MB of export against the
export's size, for the tool and for the least copy of its page, on log scales.

    plot_curve.py CURVE_TSV OUTPUT [EARLIER_TSV]

CURVE_TSV holds one line per export: its size in bytes, then the tool's and
the copy's median times in seconds, tab-separated. EARLIER_TSV, the same for
an earlier build, adds that build's tool as a dashed line. OUTPUT's suffix
(.svg, .png) picks the format.
"""

import sys

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402


def read_curve(path):
    rows = []
    with open(path) as f:
        for line in f:
            if line.strip():
                size, tool, copy = line.split("\t")
                rows.append((int(size), float(tool), float(copy)))
    return rows


def per_mb(rows, column):
    """Sizes in MB and milliseconds per MB of export."""
    return ([r[0] / 1e6 for r in rows], [1000 * r[column] / (r[0] / 1e6) for r in rows])


def main():
    rows = read_curve(sys.argv[1])
    earlier = read_curve(sys.argv[3]) if len(sys.argv) > 3 else None
    # Same bytes from the same figures: no date, fixed ids.
    plt.rcParams["svg.hashsalt"] = "quillantrex"
    fig, (per, ratio) = plt.subplots(1, 2, figsize=(11, 4.5))
    sizes = [r[0] / 1e6 for r in rows]

    if earlier:
        per.plot(*per_mb(earlier, 1), "o--", color="tab:gray", label="quillantrex, earlier")
    per.plot(*per_mb(rows, 1), "o-", color="tab:blue", label="quillantrex")
    per.plot(*per_mb(rows, 2), "s-", color="tab:orange", label="least copy of its page")
    per.set_xscale("log")
    per.set_yscale("log")
    per.set_xlabel("export (MB)")
    per.set_ylabel("time per MB of export (ms, median)")
    per.set_title("Time per MB of export")
    per.grid(True, which="both", alpha=0.3)
    per.legend()

    # The same figures as the ratio the target is set on.
    if earlier:
        ratio.plot([r[0] / 1e6 for r in earlier], [r[1] / r[2] for r in earlier], "o--",
                   color="tab:gray", label="quillantrex, earlier")
    ratio.plot(sizes, [r[1] / r[2] for r in rows], "o-", color="tab:blue", label="quillantrex")
    ratio.axhline(1.3, linestyle=":", color="tab:red", label="target: 1.3 times")
    ratio.axhline(1.0, color="tab:orange", label="least copy of its page")
    ratio.set_xscale("log")
    ratio.set_ylim(bottom=0.8)
    ratio.set_xlabel("export (MB)")
    ratio.set_ylabel("time / time of the copy (medians)")
    ratio.set_title("Against the copy of its page")
    ratio.grid(True, which="both", alpha=0.3)
    ratio.legend()

    fig.tight_layout()
    fig.savefig(sys.argv[2], dpi=90, metadata={"Date": None} if sys.argv[2].endswith(".svg") else None)


if __name__ == "__main__":
    main()
