#!/usr/bin/env python3
"""Prints bench/compare's tables from hyperfine's JSON and the peak memory of each command.

Usage: compare_table.py WORK RUNS OWN_KIB COPY_RATE [formats|resample]
WORK holds long.json/long.rss and folder.json/folder.rss (one peak in KiB per command, in
hyperfine's order), long.wav and the folder short/; cold-long-N.json and cold-folder-N.json, one
round of the runs from the disk each (none when they were skipped); window-NAME.json, drops on
the window against tessaly-convert (see window_drop.py and WINDOW_RUNS); OWN_KIB is tessaly-convert's own peak doing
nothing; COPY_RATE is memcpy's rate in bytes a second on large blocks, split between all
cores. formats.cases and formats-K-ROUND.json: the recordings in other formats against cp
(with "formats", only their table).

The limit of a conversion is the time to move the bytes it cannot avoid moving: every byte of
each source read once and every byte of each result written once. A memcpy reads and writes
each byte it copies, so that traffic takes (read + written) / (2 x COPY_RATE) seconds.
"""
import glob
import json
import os
import statistics
import struct
import sys

NAMES = ["cp (floor)", "tessaly-convert", "sox -D", "ffmpeg"]
MIB = 1024 * 1024


def data_chunk_size(path):
    """The size of the "data" chunk of a RIFF WAVE file."""
    with open(path, "rb") as f:
        f.seek(12)
        while True:
            header = f.read(8)
            if len(header) < 8:
                raise SystemExit(f"{path}: no data chunk")
            chunk_id, size = struct.unpack("<4sI", header)
            if chunk_id == b"data":
                return size
            f.seek(size + (size & 1), 1)


def load(work, name):
    with open(f"{work}/{name}.json") as f:
        results = json.load(f)["results"]
    with open(f"{work}/{name}.rss") as f:
        peaks = [int(line) / 1024 for line in f if line.strip()]
    return [r["median"] for r in results], [r["min"] for r in results], peaks


def limit_seconds(sources, copy_rate):
    """Reading the sources once and writing their 8-bit mono results once, at memcpy's rate."""
    moved = sum(os.path.getsize(s) + 46 + data_chunk_size(s) // 4 for s in sources)
    return moved / (2 * copy_rate)


def table(title, medians, minima, peaks, names, limit):
    floor, ours = medians[0], medians[1]
    print(f"\n{title}\n")
    print("| command | median s | fastest s | x cp | x tessaly-convert | x limit | peak MiB |")
    print("|---|---:|---:|---:|---:|---:|---:|")
    print(f"| limit (bytes that must move / memory bandwidth) | {limit:.3f} | | "
          f"{limit / floor:.2f} | {limit / ours:.2f} | 1.00 | |")
    for name, median, fastest, peak in zip(names, medians, minima, peaks):
        print(f"| {name} | {median:.3f} | {fastest:.3f} | {median / floor:.2f} | "
              f"{median / ours:.2f} | {median / limit:.1f} | {peak:.1f} |")


def verdict(text, value, limit, at_most):
    met = value <= limit if at_most else value >= limit
    sign = "<=" if at_most else ">="
    print(f"- {text}: {value:.2f} (target {sign} {limit}): {'met' if met else 'MISSED'}")


def long_file(work, runs, own_mib, copy_rate):
    medians, minima, peaks = load(work, "long")
    with open(f"{work}/long.wav", "rb") as f:
        source = f.seek(0, 2)
    data = data_chunk_size(f"{work}/long.wav")
    table(f"Long file: {source / MIB:.1f} MiB, 44100 Hz 16-bit stereo to 8-bit mono, "
          f"median of {runs} runs", medians, minima, peaks, NAMES,
          limit_seconds([f"{work}/long.wav"], copy_rate))
    print()
    verdict("tessaly-convert time over cp", medians[1] / medians[0], 1.0, True)
    verdict("tessaly-convert time over cp, stretch", medians[1] / medians[0], 0.8, True)
    verdict("ffmpeg time over tessaly-convert", medians[3] / medians[1], 1.2, False)
    verdict("sox -D time over tessaly-convert", medians[2] / medians[1], 2.0, False)
    bound = (source + data) / MIB + 1
    verdict(f"tessaly-convert peak MiB ({own_mib:.1f} of it the program doing nothing) over "
            "source + data + 1 MiB", peaks[1] / bound, 1.0, True)
    print(f"  ({peaks[1]:.1f} MiB against {bound:.1f} MiB)")


def folder(work, runs, copy_rate):
    medians, minima, peaks = load(work, "folder")
    names = ["cp -r (floor)", "tessaly-convert, one process", "sox -D, a process per file",
             "ffmpeg, a process per file"]
    sources = sorted(glob.glob(f"{work}/short/*.wav"))
    table(f"Folder: {len(sources)} files of one second, median of {runs} runs", medians, minima,
          peaks, names, limit_seconds(sources, copy_rate))
    print()
    verdict("tessaly-convert time over cp -r", medians[1] / medians[0], 1.05, True)


def spread_table(title, columns, rows):
    """rows: (name, seconds...) with the ratio columns over the named commands' medians."""
    medians = {name: statistics.median(times) for name, times in rows}
    print(f"\n{title}\n")
    print("| command | median s | fastest s | slowest s | " +
          " | ".join(f"x {c}" for c in columns) + " |")
    print("|---|" + "---:|" * (3 + len(columns)))
    for name, times in rows:
        ratios = " | ".join(f"{medians[name] / medians[c]:.2f}" for c in columns)
        print(f"| {name} | {medians[name]:.3f} | {min(times):.3f} | {max(times):.3f} | "
              f"{ratios} |")
    return medians


def cold(work):
    rounds = {name: sorted(glob.glob(f"{work}/cold-{name}-*.json")) for name in ("long", "folder")}
    if not rounds["long"]:
        print("\nFrom the disk: skipped (dropping the page cache needs root)")
        return
    for name, names, title in (
            ("long", ["cp", "cat", "tessaly-convert"], "Long file"),
            ("folder", ["cp -r", "cat", "tessaly-convert"], "Folder of 1000 one-second files")):
        times = [[] for _ in names]
        for path in rounds[name]:
            with open(path) as f:
                for k, result in enumerate(json.load(f)["results"]):
                    times[k] += result["times"]
        medians = spread_table(
            f"{title} from the disk, the page cache dropped before each run, "
            f"{len(rounds[name])} rounds", names[:2], list(zip(names, times)))
        print()
        verdict(f"tessaly-convert time over {names[0]}",
                medians["tessaly-convert"] / medians[names[0]], 1.0, True)
        if name == "long":
            verdict("tessaly-convert time over cat, stretch",
                    medians["tessaly-convert"] / medians["cat"], 1.3, True)


# What each window run dropped, by the name window_drop.py wrote it under, and the most its
# time may be over tessaly-convert's.
WINDOW_RUNS = [("drop", "disk", 1.5), ("drop-tmpfs", "tmpfs", 1.5), ("long", "disk", 1.1),
               ("long-tmpfs", "tmpfs", 1.1)]


def window(work):
    for name, where, most in WINDOW_RUNS:
        path = f"{work}/window-{name}.json"
        if not os.path.exists(path):
            continue
        with open(path) as f:
            runs = json.load(f)
        what = (f"A drop of {runs['files']} files of a tenth of a second"
                if runs["files"] > 1 else f"One long file of {runs['bytes'] >> 20} MiB dropped")
        medians = spread_table(
            f"{what} on the window, on {where}, from the drop to the last file written, against "
            f"tessaly-convert on the same files (settings as the window starts: nothing "
            f"changed), {len(runs['window'])} runs each, taking turns",
            ["tessaly-convert"],
            [("window", runs["window"]), ("tessaly-convert", runs["convert"])])
        print()
        verdict(f"window time over tessaly-convert ({name})",
                medians["window"] / medians["tessaly-convert"], most, True)


# The most each conversion's time may be over cp's, by its row in formats.cases.
FORMAT_TARGETS = {1: 0.75, 2: 0.5, 3: 0.5}


def formats(work):
    """formats.cases: index|what|source bytes|result bytes|tessaly-convert's peak KiB;
    formats-K-ROUND.json: cp, then tessaly-convert, one run each."""
    path = f"{work}/formats.cases"
    if not os.path.exists(path):
        return
    with open(path) as f:
        cases = [line.rstrip("\n").split("|") for line in f if line.strip()]
    print("\nRecordings of about 345 MB at 48 kHz on tmpfs, each conversion against cp of its "
          "source, taking turns (medians)\n")
    print("| conversion | rounds | cp s | tessaly-convert s | x cp | bytes written / cp's | "
          "peak MiB |")
    print("|---|---:|---:|---:|---:|---:|---:|")
    ratios = []
    for index, what, source, result, peak in cases:
        times = [[], []]
        for run in sorted(glob.glob(f"{work}/formats-{index}-*.json")):
            with open(run) as f:
                for k, r in enumerate(json.load(f)["results"]):
                    times[k] += r["times"]
        cp, ours = statistics.median(times[0]), statistics.median(times[1])
        ratios.append((int(index), what, ours / cp))
        print(f"| {what} | {len(times[0])} | {cp:.3f} | {ours:.3f} | {ours / cp:.2f} | "
              f"{int(result) / int(source):.2f} | {int(peak) / 1024:.0f} |")
    print()
    for index, what, ratio in ratios:
        if index in FORMAT_TARGETS:
            verdict(f"{what} over cp", ratio, FORMAT_TARGETS[index], True)


def resample(work):
    """resample.cases: index|what|source bytes|peak KiB of tessaly-convert, sox and ffmpeg;
    resample-K-ROUND.json: the three, one run each."""
    with open(f"{work}/resample.cases") as f:
        cases = [line.rstrip("\n").split("|") for line in f if line.strip()]
    print("\nResampling keeping the pitch, a 1621 s recording on tmpfs, taking turns (medians)\n")
    print("| conversion | rounds | tessaly-convert s | sox s | ffmpeg (soxr) s | x sox | x ffmpeg "
          "| peak MiB (ours, sox, ffmpeg) |")
    print("|---|---:|---:|---:|---:|---:|---:|---|")
    verdicts = []
    for index, what, source, peaks in cases:
        times = [[], [], []]
        for run in sorted(glob.glob(f"{work}/resample-{index}-*.json")):
            with open(run) as f:
                for k, r in enumerate(json.load(f)["results"]):
                    times[k] += r["times"]
        ours, sox, ffmpeg = (statistics.median(t) for t in times)
        mib = ", ".join(f"{int(p) / 1024:.0f}" for p in peaks.split())
        print(f"| {what} | {len(times[0])} | {ours:.3f} | {sox:.3f} | {ffmpeg:.3f} | "
              f"{ours / sox:.2f} | {ours / ffmpeg:.2f} | {mib} |")
        if index == "0":
            verdicts += [(f"{what} over sox", ours / sox, 0.5),
                         (f"{what} over ffmpeg", ours / ffmpeg, 0.6)]
    print()
    for what, ratio, target in verdicts:
        verdict(what, ratio, target, True)


def main():
    work, runs, own_kib, copy_rate = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), float(
        sys.argv[4])
    if sys.argv[5:] == ["formats"]:
        formats(work)
        return
    if sys.argv[5:] == ["resample"]:
        resample(work)
        return
    print(f"Memory bandwidth: memcpy of 256 MiB copies {copy_rate / 1e9:.1f} GB/s")
    long_file(work, runs, own_kib / 1024, copy_rate)
    folder(work, runs, copy_rate)
    cold(work)
    window(work)
    formats(work)


if __name__ == "__main__":
    main()
