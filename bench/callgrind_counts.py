#!/usr/bin/env python3
"""Instructions per call of the library's renderers and logging calls and of
their baselines, counted by valgrind's callgrind in the benchmark programs.

Usage: callgrind_counts.py BENCH_DIR [ROW...]
  BENCH_DIR: the directory of the built benchmark programs
             (build-bench/bench); ROW: the rows to count (all by default).

Each row runs one benchmark under callgrind, collecting only inside the
function that does its work, and divides the instructions collected by the
calls of the function that one iteration makes once. Unlike timings, the
counts do not drift with the machine's load; they do not show what cache
misses and branch mispredictions cost.
"""
import os
import re
import subprocess
import sys
import tempfile

# row: (program, benchmark filter, function collected, function called once
# per iteration). Names are the start of callgrind's function names.
ROWS = {
    "xdas record": ("xdas_bench", "BM_XdasRecord_Quorvel/0$", "quorvel::writeXdasRecord(", None),
    "xdas record rapidjson": ("xdas_bench", "BM_XdasRecord_RapidJson/0$", "(anonymous namespace)::rapidRecord(", None),
    "xdas record 4k heavy": ("xdas_bench", "BM_XdasRecord_Quorvel/4096$", "quorvel::writeXdasRecord(", None),
    "xdas record 4k heavy rapidjson":
        ("xdas_bench", "BM_XdasRecord_RapidJson/4096$", "(anonymous namespace)::rapidRecord(", None),
    "xdas record 4k typical": ("xdas_bench", "BM_XdasRecord_Quorvel_Typical/4096$", "quorvel::writeXdasRecord(", None),
    "xdas record 4k typical rapidjson":
        ("xdas_bench", "BM_XdasRecord_RapidJson_Typical/4096$", "(anonymous namespace)::rapidRecord(", None),
    "XDAS_Log enabled": ("xdas_bench", "BM_XdasLog_Enabled$", "XDAS_Event::XDAS_Log(", None),
    "xdas bare by name": ("xdas_bench", "BM_XdasBareByName_Enabled$", "quorvel_bench::runBareByName(",
                          "log4cxx::Logger::forcedLog"),
    "cef line": ("cef_bench", "BM_CefLine_Quorvel/0$", "quorvel::renderCefLine(", None),
    "cef line fmt": ("cef_bench", "BM_CefLine_FmtFloor/0$", "(anonymous namespace)::fmtLine(", None),
    "cef line 4k heavy": ("cef_bench", "BM_CefLine_Quorvel/4096$", "quorvel::renderCefLine(", None),
    "cef line 4k heavy fmt": ("cef_bench", "BM_CefLine_FmtFloor/4096$", "(anonymous namespace)::fmtLine(", None),
    "cef line 4k typical": ("cef_bench", "BM_CefLine_Quorvel_Typical/4096$", "quorvel::renderCefLine(", None),
    "cef line 4k typical fmt":
        ("cef_bench", "BM_CefLine_FmtFloor_Typical/4096$", "(anonymous namespace)::fmtLine(", None),
    "CEF_Log enabled": ("cef_bench", "BM_CefLog_Enabled$", "CEF_EVENT::CEF_Log(", None),
    "cef bare by name": ("cef_bench", "BM_CefBareByName_Enabled$", "quorvel_bench::runBareByName(",
                         "log4cxx::Logger::forcedLog"),
    "XDAS_Log's steps, logger found":
        ("xdas_bench", "BM_XdasSteps_LoggerFound$", "(anonymous namespace)::BM_XdasSteps_LoggerFound(",
         "quorvel::emitLine("),
    "CEF_Log's steps, logger found":
        ("cef_bench", "BM_CefSteps_LoggerFound$", "(anonymous namespace)::BM_CefSteps_LoggerFound(",
         "quorvel::emitLine("),
    "getLogger": ("cef_bench", "BM_GetLogger$", "log4cxx::Logger::getLogger(", None),
    "XDAS_Log's lookup": ("xdas_bench", "BM_XdasLog_Enabled$", "quorvel::loggerNamed(", None),
    "CEF_Log's lookup": ("cef_bench", "BM_CefLog_Enabled$", "quorvel::loggerNamed(", None),
}


def count(bench_dir, program, bench_filter, collected, per_iteration):
    """Instructions collected inside `collected`, per call of `per_iteration`
    (itself by default)."""
    with tempfile.TemporaryDirectory() as tmp:
        out = os.path.join(tmp, "callgrind.out")
        subprocess.run(["valgrind", "--tool=callgrind", f"--callgrind-out-file={out}",
                        f"--toggle-collect={collected}*", os.path.join(bench_dir, program),
                        f"--benchmark_filter={bench_filter}", "--benchmark_min_time=0.05"],
                       check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        with open(out) as handle:
            text = handle.read()
    total = int(re.search(r"^totals: (\d+)", text, re.M).group(1))
    marker = per_iteration or collected
    # Function names are given once and then referred to by their number.
    names = dict(re.findall(r"^c?fn=\((\d+)\) (.*)$", text, re.M))
    calls = 0
    for ident, number in re.findall(r"^cfn=\((\d+)\).*\ncalls=(\d+)", text, re.M):
        if names.get(ident, "").startswith(marker):
            calls += int(number)
    return total / calls if calls else None


def main(argv):
    bench_dir, wanted = argv[1], argv[2:] or list(ROWS)
    for row in wanted:
        per_call = count(bench_dir, *ROWS[row])
        print(f"{row:<36} {per_call:>12,.0f}" if per_call else f"{row:<36} {'?':>12}")


if __name__ == "__main__":
    main(sys.argv)
