#!/usr/bin/env python3
"""Times quorvel-verify on a collector's sealed trail and on hostile trails.

Usage: verify_bench.py BUILD_DIR [--sessions S] [--lines N] [--hostile-sessions S]
                       [--hostile-lines N] [--timeout SECONDS] [--tmp DIR]

Builds nothing: BUILD_DIR must hold bench/trail_collection and
tools/quorvel-verify. For each case the generator writes a trail into a
temporary directory, the verifier checks it once, and the trail is removed.
Prints one table: the case, its lines, the verifier's wall-clock seconds,
lines per second of wall-clock time, user seconds and peak resident memory,
the time per line against the case's baseline of the same size (in-order for
interleaved, untouched for the hostile cases), the verifier's exit status, the "complete" value of the JSON it wrote and
its lines out of sealed order (none: the generator keeps each session's order); then whether each target is met. A miss is reported, not failed: the script exits
non-zero only when the verifier crashes (an exit status other than 0 and 1)
or the generator fails. A run that takes longer than --timeout is stopped
and shown as a timeout.

Cases: "interleaved", S sessions merged at random into about N lines, against
"in-order", the same sessions one after another; "untouched", a smaller
trail (the hostile size), against which each hostile case is set:
"huge-index" (a genuine seal copied with index 16777215), "forged-openings"
(openings made with the auditor's public key, half claiming a genuine
session's id, one per 400 lines), "short-sessions" (sessions of three lines,
one per 200 lines), "long-lines" (a 2 MiB line, and 64 MiB without a newline
at the end), "many-starts" ("CEF:" 400 times in a line, one per 400 lines),
"seal-flood" (one session sealing every three lines, a seal per four lines).
"""
import argparse
import json
import os
import platform
import shutil
import signal
import subprocess
import sys
import tempfile
import threading
import time

LINES_TARGET = 500000  # lines per second, interleaved trail
HOSTILE_TARGET = 2.0  # time per line against the untouched baseline
DAY_MS = 86400000


def cases(args):
    """(name, generator options, baseline name) in the order they run; each
    baseline runs before the cases set against it."""
    h = args.hostile_lines
    small = ["--sessions", str(args.hostile_sessions), "--lines", str(h)]
    big = ["--sessions", str(args.sessions), "--lines", str(args.lines)]
    return [
        ("in-order", big + ["--in-order"], "in-order"),
        ("interleaved", big, "in-order"),
        ("untouched", small, "untouched"),
        ("huge-index", small + ["--huge-index"], "untouched"),
        ("forged-openings", small + ["--forged-openings", str(h // 400)], "untouched"),
        ("short-sessions", small + ["--short-sessions", str(h // 200)], "untouched"),
        ("long-lines", small + ["--long-lines"], "untouched"),
        ("many-starts", small + ["--many-starts", str(h // 400)], "untouched"),
        ("seal-flood", ["--sessions", "1", "--lines", str(h * 3 // 4), "--seal-every", "3"], "untouched"),
    ]


def generate(build, options, directory):
    """Writes the case's trail and keys; returns the generator's summary
    (lines, bytes, sessions, seals, end) as integers."""
    started = time.perf_counter()
    done = subprocess.run([os.path.join(build, "bench", "trail_collection"), "--out", directory] + options,
                          check=True, capture_output=True, text=True)
    summary = {key: int(value) for key, value in (field.split("=") for field in done.stdout.split())}
    summary["generated"] = time.perf_counter() - started
    return summary


def verify_command(build, key, json_out, at, trail):
    """quorvel-verify's command line: the one place that knows it."""
    return [os.path.join(build, "tools", "quorvel-verify"), "--key", key, "--json", json_out, "--at", str(at), trail]


def run_verifier(command, timeout):
    """Runs the verifier once: wall seconds, user seconds, peak RSS in KiB
    and exit status (None after a timeout). The verifier runs under
    /usr/bin/time, which reports its peak RSS: a process forked from this
    script would carry the script's own peak into its ru_maxrss across
    exec. User time comes from wait4, the verifier's and time's together."""
    with tempfile.NamedTemporaryFile(mode="r") as peak:
        started = time.perf_counter()
        process = subprocess.Popen(["/usr/bin/time", "-f", "%M", "-o", peak.name] + command,
                                   stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, start_new_session=True)
        timed_out = threading.Event()

        def stop():
            timed_out.set()
            os.killpg(process.pid, signal.SIGKILL)

        timer = threading.Timer(timeout, stop)
        timer.start()
        # stderr is read while the child runs, so that a long message cannot
        # block it; the verifier writes little there.
        errors = process.stderr.read()
        _, status, usage = os.wait4(process.pid, 0)
        seconds = time.perf_counter() - started
        timer.cancel()
        process.returncode = os.waitstatus_to_exitcode(status)
        process.stderr.close()
        exit_status = None if timed_out.is_set() else process.returncode
        reported = peak.read().split()
        rss = int(reported[-1]) if reported and reported[-1].isdigit() else 0
    return seconds, usage.ru_utime, rss, exit_status, errors.decode(errors="replace")


def verdict_of(path):
    """The JSON verdict's "complete" and its lines out of sealed order summed
    over the sessions; "-" for what cannot be read."""
    try:
        with open(path) as handle:
            verdict = json.load(handle)
        return verdict.get("complete", "-"), sum(session["reordered"] for session in verdict["sessions"])
    except (OSError, ValueError, AttributeError, KeyError, TypeError):
        return "-", "-"


def measure(build, name, options, work, timeout):
    directory = os.path.join(work, name)
    summary = generate(build, options, directory)
    print(f"{name}: {summary['lines']:,} lines, {summary['bytes'] / 2**20:,.0f} MiB, {summary['sessions']:,} "
          f"sessions, {summary['seals']:,} seals, written in {summary['generated']:.1f} s", file=sys.stderr)
    json_out = os.path.join(directory, "verdict.json")
    command = verify_command(build, os.path.join(directory, "auditor.key"), json_out, summary["end"] + DAY_MS,
                             os.path.join(directory, "trail.log"))
    seconds, user, rss, status, errors = run_verifier(command, timeout)
    result = {"name": name, "lines": summary["lines"], "seconds": seconds, "user": user, "rss": rss,
              "status": status, "errors": errors}
    result["complete"], result["reordered"] = verdict_of(json_out)
    shutil.rmtree(directory)
    return result


def ratio_of(result, baseline):
    """Time per line against the baseline's, and what a timeout makes of it:
    "" exact, ">" a lower bound (the case was stopped), "<" an upper bound
    (the baseline was); None when both were stopped."""
    if baseline is None or (result["status"] is None and baseline["status"] is None):
        return None, ""
    value = (result["seconds"] / result["lines"]) / (baseline["seconds"] / baseline["lines"])
    if baseline["status"] is None:
        return value, "<"
    return value, ">" if result["status"] is None else ""


def verdict(met, missed):
    return "met" if met else "missed" if missed else "unknown"


def target_text(name, result, ratio, bound):
    if name == "interleaved":
        # After a timeout the rate is an upper bound.
        rate = result["lines"] / result["seconds"]
        finished = result["status"] is not None
        ordered = result["reordered"] == 0
        return f">= {LINES_TARGET:,} lines/s, no order fault: " \
               f"{verdict(finished and ordered and rate >= LINES_TARGET, rate < LINES_TARGET or not ordered)}"
    if name in ("in-order", "untouched"):
        return ""
    if ratio is None:
        return f"<= {HOSTILE_TARGET:.0f}x: unknown"
    met = bound != ">" and ratio <= HOSTILE_TARGET
    missed = bound != "<" and ratio > HOSTILE_TARGET
    return f"<= {HOSTILE_TARGET:.0f}x: {verdict(met, missed)}"


def print_table(results, baselines, timeout):
    load = " ".join(f"{x:.2f}" for x in os.getloadavg())
    print(f"{time.strftime('%Y-%m-%dT%H:%M:%S%z')}  {platform.node()}  {os.cpu_count()} CPUs  load {load}")
    print()
    header = f"{'Case':<16}  {'lines':>11}  {'seconds':>8}  {'lines/s':>10}  {'user s':>8}  {'max RSS':>9}  " \
             f"{'ratio':>6}  {'exit':>7}  {'complete':>8}  {'order':>5}  target"
    print(header)
    print("-" * len(header))
    for result in results:
        ratio, bound = ratio_of(result, baselines.get(result["name"]))
        ratio_shown = "?" if ratio is None else f"{bound}{ratio:.2f}"
        status = "timeout" if result["status"] is None else str(result["status"])
        # A run stopped at the timeout read its lines slower than this.
        rate = f"{'<' if result['status'] is None else ''}{result['lines'] / result['seconds']:,.0f}"
        print(f"{result['name']:<16}  {result['lines']:>11,}  {result['seconds']:>8.2f}  {rate:>10}  "
              f"{result['user']:>8.2f}  {result['rss'] / 1024:>5,.0f} MiB  {ratio_shown:>6}  {status:>7}  "
              f"{str(result['complete']):>8}  {str(result['reordered']):>5}  "
              f"{target_text(result['name'], result, ratio, bound)}".rstrip())
    print()
    print("ratio: seconds per line against the baseline's (interleaved: in-order; hostile cases: untouched);")
    print(f"timeout: stopped after {timeout:.0f} s, its lines per second and ratio bounds; max RSS: the verifier's peak;")
    print("order: lines found after lines their session numbered later (the generator keeps each session's order)")


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("build", help="the build directory")
    parser.add_argument("--sessions", type=int, default=1000)
    parser.add_argument("--lines", type=int, default=10000000)
    parser.add_argument("--hostile-sessions", type=int, default=100)
    parser.add_argument("--hostile-lines", type=int, default=4000000)
    parser.add_argument("--timeout", type=float, default=600, help="seconds one verifier run may take")
    parser.add_argument("--tmp", help="where to write the trails (default: the system's temporary directory)")
    args = parser.parse_args()

    results, by_name, baselines, crashed = [], {}, {}, False
    with tempfile.TemporaryDirectory(prefix="verify-bench-", dir=args.tmp) as work:
        for name, options, baseline in cases(args):
            result = measure(args.build, name, options, work, args.timeout)
            by_name[name] = result
            baselines[name] = by_name.get(baseline)
            results.append(result)
            if result["status"] not in (0, 1, None):
                crashed = True
                print(f"{name}: quorvel-verify exited with {result['status']}: {result['errors'][-2000:]}",
                      file=sys.stderr)
    print_table(results, baselines, args.timeout)
    return 1 if crashed else 0


if __name__ == "__main__":
    sys.exit(main())
