#!/usr/bin/env python3
"""Times a drop of many files on the real window against tessaly-convert on the same files.

Usage: window_drop.py TESSALY XPEER CONVERT SOURCES WORK RUNS NAME
Starts an X server of its own (Xvfb) and, for each run, a fresh copy of the window (TESSALY) in
WORK/window, so that its "Waves" folder is this script's; XPEER, the end-to-end test's drag
source, drops every *.wav file of SOURCES on it over XDND. A run lasts from the drop to the
last file written (the newest modification time in Waves once every file is there). The window
and a run of CONVERT on the same files, with the window's settings (none changed) into a fresh
folder, take turns, each going first every other round, every run starting after a sync (the
previous run's files written back). Writes WORK/window-NAME.json:
{"window": [seconds...], "convert": [seconds...], "files": N, "bytes": total source bytes}.
"""
import glob
import json
import os
import shutil
import subprocess
import sys
import time
import urllib.parse

TITLE = "Tessaly Ver 1.1"
PATIENCE = 300  # seconds: a window that takes longer has hung


def ask(peer, line):
    peer.stdin.write(line + "\n")
    peer.stdin.flush()
    return peer.stdout.readline().strip()


def written(folder):
    """The finished files in folder: a save renames its temporary file into place."""
    return [e for e in os.scandir(folder) if not e.name.startswith(".tessaly-")]


def window_run(tessaly, xpeer, sources, work):
    program = os.path.join(work, "window")
    shutil.rmtree(program, ignore_errors=True)
    os.makedirs(os.path.join(program, "Waves"))
    shutil.copy(tessaly, program)
    subprocess.run(["sync"], check=True)
    window = subprocess.Popen([os.path.join(program, "tessaly")], stdout=subprocess.DEVNULL,
                              stderr=subprocess.DEVNULL)
    peer = subprocess.Popen([xpeer], stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
    try:
        x, y = map(int, ask(peer, "window " + TITLE).split()[:2])
        urls = " ".join("file://" + urllib.parse.quote(s) for s in sources)
        start = time.time()
        answer = ask(peer, f"drag {x + 300} {y + 300} {urls}")
        if not answer.startswith("copy"):
            raise SystemExit(f"the window did not take the drop: {answer}")
        waves = os.path.join(program, "Waves")
        deadline = time.time() + PATIENCE
        while len(files := written(waves)) < len(sources):
            if time.time() > deadline:
                raise SystemExit(f"only {len(files)} of {len(sources)} files written")
            time.sleep(0.05)
        return max(e.stat().st_mtime for e in files) - start
    finally:
        peer.terminate()
        window.terminate()
        peer.wait()
        window.wait()


def convert_run(convert, sources, work):
    out = os.path.join(work, "window-convert")
    shutil.rmtree(out, ignore_errors=True)
    os.makedirs(out)
    subprocess.run(["sync"], check=True)
    start = time.perf_counter()
    subprocess.run([convert, "--dir", out] + sources, check=True, stdout=subprocess.DEVNULL)
    return time.perf_counter() - start


def main():
    tessaly, xpeer, convert, source_folder, work, runs, name = sys.argv[1:8]
    sources = sorted(glob.glob(os.path.join(source_folder, "*.wav")))
    server = subprocess.Popen(["Xvfb", "-displayfd", "1", "-screen", "0", "1280x1024x24",
                               "-nolisten", "tcp"], stdout=subprocess.PIPE, text=True)
    try:
        os.environ["DISPLAY"] = ":" + server.stdout.readline().strip()
        os.environ.pop("QT_QPA_PLATFORM", None)
        times = {"window": [], "convert": [], "files": len(sources),
                 "bytes": sum(os.path.getsize(s) for s in sources)}
        for round in range(int(runs)):
            turns = [("window", lambda: window_run(tessaly, xpeer, sources, work)),
                     ("convert", lambda: convert_run(convert, sources, work))]
            for kind, run in turns if round % 2 == 0 else reversed(turns):
                times[kind].append(run())
        with open(os.path.join(work, f"window-{name}.json"), "w") as f:
            json.dump(times, f)
    finally:
        server.terminate()
        server.wait()
        shutil.rmtree(os.path.join(work, "window"), ignore_errors=True)
        shutil.rmtree(os.path.join(work, "window-convert"), ignore_errors=True)


if __name__ == "__main__":
    main()
