#!/usr/bin/env python3
"""Prints the medians of benchmark runs and the ratios the targets are set on.

Usage: report.py RESULT.json...   (Google Benchmark JSON output, from runs
with --benchmark_repetitions; a run without repetitions is read as its own
median.)

Times are CPU time per iteration in nanoseconds; throughput (items/s) is
events per second of wall-clock time, all threads of a row together. Ratios
compare medians of the same run, which is what counts on a shared machine
whose absolute timings drift.
"""
import json
import sys


def load_medians(paths):
    """The median entry of each benchmark: its median aggregate, or, for a
    benchmark run once in each of several files (seal_bench's turns), the
    run with the median throughput (or time)."""
    medians, plain, context = {}, {}, None
    for path in paths:
        with open(path) as handle:
            result = json.load(handle)
        context = context or result.get("context", {})
        # In the order the program registers its benchmarks, also when their
        # repetitions ran interleaved in random order.
        entries = sorted(result["benchmarks"],
                         key=lambda e: (e.get("family_index", 0), e.get("per_family_instance_index", 0)))
        seen = set()
        for entry in entries:
            name = entry.get("run_name", entry["name"])
            if entry.get("run_type") == "aggregate":
                if entry.get("aggregate_name") == "median":
                    medians[name] = entry
            elif name not in seen:
                seen.add(name)
                plain.setdefault(name, []).append(entry)
    for name, runs in plain.items():
        runs.sort(key=lambda e: e.get("items_per_second", -e.get("cpu_time", 0)))
        medians.setdefault(name, runs[len(runs) // 2])
    return medians, context


def nanoseconds(entry):
    scale = {"ns": 1.0, "us": 1e3, "ms": 1e6, "s": 1e9}[entry.get("time_unit", "ns")]
    return entry["cpu_time"] * scale


def main(paths):
    medians, context = load_medians(paths)
    if context:
        print(f"{context.get('date', '')}  {context.get('host_name', '')}  "
              f"{context.get('num_cpus', '?')} CPUs at {context.get('mhz_per_cpu', '?')} MHz  "
              f"load {' '.join(f'{x:.2f}' for x in context.get('load_avg', []))}")
        print()

    width = max([len(name) for name in medians] + [9])
    print(f"{'Benchmark':<{width}}  {'median ns':>12}  {'allocs':>8}  {'items/s':>10}")
    print(f"{'-' * width}  {'-' * 12}  {'-' * 8}  {'-' * 10}")
    for name, entry in medians.items():
        allocs = entry.get("allocs")
        allocs_text = f"{allocs:8.1f}" if allocs is not None else f"{'':8}"
        rate = entry.get("items_per_second")
        rate_text = f"{rate:10.0f}" if rate is not None else ""
        print(f"{name:<{width}}  {nanoseconds(entry):12.1f}  {allocs_text}  {rate_text}".rstrip())
    print()

    def time(name):
        return nanoseconds(medians[name]) if name in medians else None

    def wall_microseconds(name):
        if name not in medians:
            return None
        entry = medians[name]
        return entry["real_time"] * {"ns": 1e-3, "us": 1.0, "ms": 1e3, "s": 1e6}[entry.get("time_unit", "ns")]

    def allocs(name):
        return medians[name].get("allocs") if name in medians else None

    def worst(name, *counters):
        # The largest of a benchmark's counters, each a ratio of its own.
        values = [medians[name].get(counter) for counter in counters] if name in medians else [None]
        return None if None in values else max(values)

    def ratio(numerator, denominator):
        a, b = time(numerator), time(denominator)
        return None if a is None or b is None else a / b

    def throughput_ratio(numerator, denominator):
        a, b = (medians[name].get("items_per_second") if name in medians else None
                for name in (numerator, denominator))
        return None if a is None or b is None else a / b

    def appender_row(benchmark, path, threads):
        # Named with the row's settings in between, such as min_time.
        prefix, suffix = f"{benchmark}_{path}/", f"/threads:{threads}"
        return next((name for name in medians if name.startswith(prefix) and name.endswith(suffix)), None)

    def share(whole, baseline):
        a, b = time(whole), time(baseline)
        return None if a is None or b is None else (a - b) / a

    # (what, value, target text, test)
    checks = [
        ("XDAS record / RapidJSON", ratio("BM_XdasRecord_Quorvel/0", "BM_XdasRecord_RapidJson/0"),
         "<= 0.40", lambda v: v <= 0.4),
        ("XDAS record 4 KiB: quorvel / RapidJSON",
         ratio("BM_XdasRecord_Quorvel/4096", "BM_XdasRecord_RapidJson/4096"), "<= 1.00", lambda v: v <= 1.0),
        ("XDAS record / nlohmann", ratio("BM_XdasRecord_Quorvel/0", "BM_XdasRecord_Nlohmann/0"),
         "<= 0.25", lambda v: v <= 0.25),
        ("XDAS record 4 KiB typical text: quorvel / RapidJSON",
         ratio("BM_XdasRecord_Quorvel_Typical/4096", "BM_XdasRecord_RapidJson_Typical/4096"), "<= 0.30",
         lambda v: v <= 0.3),
        ("CEF line / fmt floor", ratio("BM_CefLine_Quorvel/0", "BM_CefLine_FmtFloor/0"),
         "<= 1.50", lambda v: v <= 1.5),
        ("CEF line 4 KiB typical text: quorvel / fmt floor",
         ratio("BM_CefLine_Quorvel_Typical/4096", "BM_CefLine_FmtFloor_Typical/4096"), "<= 4.00", lambda v: v <= 4.0),
        ("CEF line 4 KiB escape-heavy: quorvel / fmt floor",
         ratio("BM_CefLine_Quorvel/4096", "BM_CefLine_FmtFloor/4096"), "<= 10.00", lambda v: v <= 10.0),
        ("XDAS_Log disabled / bare by name", ratio("BM_XdasLog_Disabled", "BM_XdasBareByName_Disabled"),
         "<= 1.15", lambda v: v <= 1.15),
        ("CEF_Log disabled / bare by name", ratio("BM_CefLog_Disabled", "BM_CefBareByName_Disabled"),
         "<= 1.15", lambda v: v <= 1.15),
        ("XDAS_Log / bare by name", ratio("BM_XdasLog_Enabled", "BM_XdasBareByName_Enabled"),
         "<= 1.60", lambda v: v <= 1.6),
        ("CEF_Log / bare by name", ratio("BM_CefLog_Enabled", "BM_CefBareByName_Enabled"),
         "<= 1.30", lambda v: v <= 1.3),
        ("allocations per XDAS record", allocs("BM_XdasRecord_Quorvel/0"), "<= 2", lambda v: v <= 2.0),
        ("allocations per CEF line", allocs("BM_CefLine_Quorvel/0"), "<= 2", lambda v: v <= 2.0),
        ("XDAS record, 4 KiB / 2 KiB fields", ratio("BM_XdasRecord_Quorvel/4096", "BM_XdasRecord_Quorvel/2048"),
         "about 2 (1.7-2.3)", lambda v: 1.7 <= v <= 2.3),
        ("CEF line, 4 KiB / 2 KiB fields", ratio("BM_CefLine_Quorvel/4096", "BM_CefLine_Quorvel/2048"),
         "about 2 (1.7-2.3)", lambda v: 1.7 <= v <= 2.3),
        ("expansion, 100,000 / 10 entries", ratio("BM_CatalogExpand/100000", "BM_CatalogExpand/10"),
         "flat (<= 1.25)", lambda v: v <= 1.25),
        ("catalogue peak / file size (16 MiB lines, million lines)",
         worst("BM_CatalogLoadMemory", "long_lines_peak", "million_lines_peak"), "<= 2.00", lambda v: v <= 2.0),
        ("catalogue kept / file size (16 MiB lines, million lines)",
         worst("BM_CatalogLoadMemory", "long_lines_kept", "million_lines_kept"), "<= 1.50", lambda v: v <= 1.5),
    ] + [
        # Throughput through real appenders: the library's call against the
        # bare caller of the same logger, so higher is better.
        (f"{call} / bare items/s, {path.lower()}, {threads} thr",
         throughput_ratio(appender_row(f"BM_{kind}Log", path, threads),
                          appender_row(f"BM_{kind}BareByName", path, threads)),
         ">= 0.80", lambda v: v >= 0.8)
        for kind, call in (("Xdas", "XDAS_Log"), ("Cef", "CEF_Log"))
        for path in ("File", "Rsyslog")
        for threads in (1, 2)
    ] + [
        # Sealing on against off, through the buffered FileAppender.
        (f"sealed / unsealed {call} items/s, {threads} thr",
         throughput_ratio(appender_row(f"BM_{kind}Log", "Sealed", threads),
                          appender_row(f"BM_{kind}Log", "Unsealed", threads)),
         ">= 0.80", lambda v: v >= 0.8)
        for kind, call in (("Xdas", "XDAS_Log"), ("Cef", "CEF_Log"))
        for threads in (1, 2)
    ] + [
        (f"seal bytes / event bytes, {kind} worked example",
         medians["BM_VerifyTrail"].get(f"{kind}_seal_share") if "BM_VerifyTrail" in medians else None,
         "<= 0.07", lambda v: v <= 0.07)
        for kind in ("cef", "xdas")
    ] + [
        ("quorvel-verify lines/s, one core",
         medians["BM_VerifyTrail"].get("items_per_second") if "BM_VerifyTrail" in medians else None,
         ">= 500000", lambda v: v >= 500000),
        ("attested session opening, wall-clock us", wall_microseconds("BM_SessionOpening_Attested/real_time"),
         "<= 200", lambda v: v <= 200),
    ]
    def floor_share(baseline):
        # The least share the library can have while it looks its logger up
        # on every call: rendering and the level test taken as free.
        lookup, bare = time("BM_LoggerNamed"), time(baseline)
        return None if lookup is None or bare is None else lookup / (lookup + bare)

    def fleet_name(hosts):
        return f"BM_VerifyFleetDay/{hosts}/iterations:1/real_time"

    def fleet_day(hosts):
        return medians.get(fleet_name(hosts))

    def fleet_seconds(hosts):
        return None if fleet_day(hosts) is None else wall_microseconds(fleet_name(hosts)) / 1e6

    informative = [
        ("XDAS_Log library share", share("BM_XdasLog_Enabled", "BM_XdasForcedLog")),
        ("CEF_Log library share", share("BM_CefLog_Enabled", "BM_CefForcedLog")),
        ("getLogger alone / bare forcedLog (CEF)", ratio("BM_GetLogger", "BM_CefForcedLog")),
        ("library's lookup / getLogger", ratio("BM_LoggerNamed", "BM_GetLogger")),
        ("XDAS_Log's steps, logger found before / bare by name",
         ratio("BM_XdasSteps_LoggerFound", "BM_XdasBareByName_Enabled")),
        ("CEF_Log's steps, logger found before / bare by name",
         ratio("BM_CefSteps_LoggerFound", "BM_CefBareByName_Enabled")),
        ("XDAS_Log's steps, logger named / XDAS_Log", ratio("BM_XdasSteps_LoggerNamed", "BM_XdasLog_Enabled")),
        ("CEF_Log's steps, logger named / CEF_Log", ratio("BM_CefSteps_LoggerNamed", "BM_CefLog_Enabled")),
        ("least XDAS_Log share with the lookup", floor_share("BM_XdasForcedLog")),
        ("least CEF_Log share with the lookup", floor_share("BM_CefForcedLog")),
        ("XDAS_Log disabled / enabled", ratio("BM_XdasLog_Disabled", "BM_XdasLog_Enabled")),
        ("CEF_Log disabled / enabled", ratio("BM_CefLog_Disabled", "BM_CefLog_Enabled")),
        ("unattested session opening, wall-clock us", wall_microseconds("BM_SessionOpening_Unattested/real_time")),
        ("seal reported to the agent, wall-clock us", wall_microseconds("BM_SealReport")),
        ("verifier, a day of a 20-host fleet, wall-clock s", fleet_seconds(20)),
        ("  its growth: 20 hosts / 5 hosts", None if None in (fleet_seconds(20), fleet_seconds(5))
         else fleet_seconds(20) / fleet_seconds(5)),
        ("ledger kB per host and day", None if fleet_day(5) is None
         else fleet_day(5)["ledger_bytes_per_host_day"] / 1000),
    ]

    label = max([len(what) for what, *_ in checks + informative] + [40])
    print(f"{'Ratio':<{label}}  {'value':>7}  {'target':<18}  result")
    print(f"{'-' * label}  {'-' * 7}  {'-' * 18}  ------")
    missed = 0
    for what, value, target, test in checks:
        if value is None:
            print(f"{what:<{label}}  {'n/a':>7}  {target:<18}  not measured")
            missed += 1
            continue
        met = test(value)
        missed += not met
        shown = f"{value:7.0f}" if value >= 1000 else f"{value:7.2f}"
        print(f"{what:<{label}}  {shown}  {target:<18}  {'met' if met else 'MISSED'}")
    for what, value in informative:
        print(f"{what:<{label}}  {'n/a' if value is None else f'{value:7.2f}':>7}  {'(for information)':<18}")
    print()
    print("all targets met" if missed == 0 else f"{missed} target(s) not met")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
