#!/usr/bin/env python3
"""Whole-program benchmark: tri2stl against the floor of its design.

Generates an "input.txt" of N triangles and the "output.stl" it must give
(generate_input.py) in a temporary folder, then runs tri2stl and tri2stl_floor
in turn, R rounds, both in the same folder on the same input, each run
overwriting the "output.stl" the previous one left. After one untimed warm-up
run of each, every run is timed (wall clock from spawn to reaped exit) and its
output compared with the expected bytes. Prints the median wall time of each,
their ratio, and tri2stl's peak resident memory against the budget of 36 bytes
per triangle plus 4 MiB.

The floor's figures exclude the loading of its reference copy: the floor
reports that duration and its processor time itself, and they are subtracted
from its wall and processor times.

Builds nothing. Exits 0 unless a program could not be run or failed.

    bench/run_bench.py [--tri2stl PATH] [--floor PATH] [--triangles N] [--rounds R] [--keep]
"""

import argparse
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import generate_input  # noqa: E402  (for its default seed only)

repository = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
default_tri2stl = os.path.join(repository, "build", "release", "converter", "tri2stl")
default_floor = os.path.join(repository, "build", "release", "bench", "tri2stl_floor")

memory_budget_bytes_per_triangle = 36
memory_budget_fixed_bytes = 4 * 1024 * 1024
compare_piece_bytes = 1 << 20


class run_failure(Exception):
    pass


def run_timed(program, arguments, folder, log_name):
    """Runs program in folder; returns (wall ns, rusage, standard output text, resident bound).

    The kernel carries the spawning process's peak resident size into the
    child at exec, so the child's ru_maxrss is never below this process's own
    peak at the time of the spawn: the resident bound. A child's figure above
    the bound is its own. Resetting this process's peak to its current size
    first keeps the bound as low as it can be."""
    try:
        with open("/proc/self/clear_refs", "w") as f:
            f.write("5")
    except OSError:
        pass
    spawner_peak = read_peak_resident_bytes()
    read_end, write_end = os.pipe()
    log_path = os.path.join(os.path.dirname(folder), log_name)
    log = os.open(log_path, os.O_WRONLY | os.O_CREAT | os.O_TRUNC, 0o644)
    previous = os.getcwd()
    os.chdir(folder)
    try:
        started = time.perf_counter_ns()
        pid = os.posix_spawn(program, [program] + arguments, os.environ,
                             file_actions=[(os.POSIX_SPAWN_DUP2, write_end, 1),
                                           (os.POSIX_SPAWN_DUP2, log, 2)])
        _, status, usage = os.wait4(pid, 0)
        finished = time.perf_counter_ns()
    finally:
        os.chdir(previous)
        os.close(write_end)
        os.close(log)
    with os.fdopen(read_end, "r") as pipe:
        output = pipe.read()
    code = os.waitstatus_to_exitcode(status)
    if code != 0:
        with open(log_path, "r", errors="replace") as f:
            diagnostic = f.read().strip()
        raise run_failure(f"{program} ended with status {code}" + (f":\n{diagnostic}" if diagnostic else ""))
    return finished - started, usage, output, spawner_peak


def parse_floor_report(text):
    fields = dict(item.split("=", 1) for item in text.split())
    return int(fields["load_ns"]), int(fields["load_cpu_ns"]), int(fields["work_ns"])


def read_peak_resident_bytes():
    """This process's own peak resident size (VmHWM)."""
    with open("/proc/self/status") as f:
        for line in f:
            if line.startswith("VmHWM:"):
                return int(line.split()[1]) * 1024
    return 0


def find_difference(actual_path, expected_path):
    """None when the files are equal, else a description of the first difference.

    Compares piece by piece: this process must keep its resident size small
    (see run_timed)."""
    with open(actual_path, "rb") as actual, open(expected_path, "rb") as expected:
        offset = 0
        while True:
            a = actual.read(compare_piece_bytes)
            e = expected.read(compare_piece_bytes)
            if a != e:
                break
            if not a:
                return None
            offset += len(a)
        at = next((i for i, (x, y) in enumerate(zip(a, e)) if x != y), min(len(a), len(e)))
        if at == len(a):
            return f"output ends after {offset + at} bytes, a prefix of the expected output"
        if at == len(e):
            return f"output goes on past the expected {offset + at} bytes"
        line_start = max(a.rfind(b"\n", 0, at), e.rfind(b"\n", 0, at)) + 1
        got = a[line_start:a.find(b"\n", at) + 1 or None][:80]
        want = e[line_start:e.find(b"\n", at) + 1 or None][:80]
        return f"first difference at byte {offset + at}: got {got!r}, expected {want!r}"


def check_output(folder, reference, who, mismatches):
    difference = find_difference(os.path.join(folder, "output.stl"), reference)
    if difference is not None:
        mismatches.append(f"{who}: {difference}")


def format_seconds(ns):
    return f"{ns / 1e9:8.3f} s"


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--tri2stl", default=default_tri2stl, help="default: %(default)s")
    parser.add_argument("--floor", default=default_floor, help="default: %(default)s")
    parser.add_argument("--triangles", type=int, default=1000000)
    parser.add_argument("--rounds", type=int, default=5)
    parser.add_argument("--seed", type=int, default=generate_input.default_seed)
    parser.add_argument("--keep", action="store_true", help="keep the temporary folder and print its path")
    args = parser.parse_args()
    if args.triangles < 0 or args.rounds < 1:
        parser.error("--triangles must be 0 or more and --rounds 1 or more")
    programs = {"tri2stl": os.path.abspath(args.tri2stl), "floor": os.path.abspath(args.floor)}
    for name, path in programs.items():
        if not os.access(path, os.X_OK):
            print(f"run_bench: {name} not found or not executable: {path}", file=sys.stderr)
            return 1

    top = tempfile.mkdtemp(prefix="tri2stl-bench-")
    folder = os.path.join(top, "run")
    os.mkdir(folder)
    reference = os.path.join(top, "reference.stl")
    try:
        # A separate process, so that this one never grows by the size of the files.
        started = time.perf_counter()
        subprocess.run([sys.executable, os.path.join(os.path.dirname(os.path.abspath(__file__)), "generate_input.py"),
                        "--triangles", str(args.triangles), "--seed", str(args.seed), "--output-dir", top],
                       check=True, stdout=subprocess.DEVNULL)
        os.rename(os.path.join(top, "input.txt"), os.path.join(folder, "input.txt"))
        os.rename(os.path.join(top, "expected.stl"), reference)
        lines = 7 * args.triangles + 2
        print(f"input: {args.triangles} triangles, {os.path.getsize(os.path.join(folder, 'input.txt'))} bytes "
              f"(seed {args.seed}); output: {lines} lines, {os.path.getsize(reference)} bytes; "
              f"generated in {time.perf_counter() - started:.1f} s")

        commands = {"tri2stl": (programs["tri2stl"], []), "floor": (programs["floor"], [reference])}
        mismatches = []
        for name in ("tri2stl", "floor"):  # warm-up: page cache, an existing "output.stl" for both
            run_timed(*commands[name], folder, name + ".log")
            check_output(folder, reference, f"{name} (warm-up)", mismatches)

        load_before = os.getloadavg()
        wall = {"tri2stl": [], "floor": []}
        floor_load, floor_work, floor_outside = [], [], []
        tri2stl_rss, resident_bounds = [], []
        cpu = {"tri2stl": [], "floor": []}
        tri2stl_user, tri2stl_system = [], []
        for round_number in range(args.rounds):
            for name in ("tri2stl", "floor"):
                ns, usage, output, resident_bound = run_timed(*commands[name], folder, name + ".log")
                cpu_ns = round((usage.ru_utime + usage.ru_stime) * 1e9)
                if name == "floor":
                    load_ns, load_cpu_ns, work_ns = parse_floor_report(output)
                    floor_load.append(load_ns)
                    floor_work.append(work_ns)
                    floor_outside.append(ns - load_ns - work_ns)
                    ns -= load_ns
                    cpu_ns -= load_cpu_ns
                else:
                    tri2stl_rss.append(usage.ru_maxrss * 1024)  # KiB on Linux
                    tri2stl_user.append(usage.ru_utime)
                    tri2stl_system.append(usage.ru_stime)
                    resident_bounds.append(resident_bound)
                wall[name].append(ns)
                cpu[name].append(cpu_ns)
                check_output(folder, reference, f"{name} (round {round_number + 1})", mismatches)
        load_after = os.getloadavg()

        median = {name: statistics.median(times) for name, times in wall.items()}
        print(f"rounds: {args.rounds}, alternating tri2stl and floor; "
              f"load average before {load_before[0]:.2f}, after {load_after[0]:.2f}")
        for name in ("tri2stl", "floor"):
            per_line = median[name] / lines
            rounds = " ".join(f"{t / 1e9:.3f}" for t in wall[name])
            print(f"{name:8} median {format_seconds(median[name])}  ({per_line:6.0f} ns per line)  "
                  f"min {format_seconds(min(wall[name]))}  rounds: {rounds}")
        ratio = median["tri2stl"] / median["floor"] if median["floor"] > 0 else float("inf")
        print(f"ratio tri2stl/floor (medians): {ratio:.2f}")
        # Processor time (user and system) suffers less than wall time from
        # other load on the machine.
        cpu_median = {name: statistics.median(times) for name, times in cpu.items()}
        split = (f"user {statistics.median(tri2stl_user):.3f} s, "
                 f"system {statistics.median(tri2stl_system):.3f} s", "reference load excluded")
        for name, note in zip(("tri2stl", "floor"), split):
            print(f"{name:8} CPU median {format_seconds(cpu_median[name])}  "
                  f"({cpu_median[name] / lines:6.0f} ns per line)  {note}")
        cpu_ratio = cpu_median["tri2stl"] / cpu_median["floor"] if cpu_median["floor"] > 0 else float("inf")
        print(f"ratio tri2stl/floor of CPU time (medians): {cpu_ratio:.2f}")
        print(f"floor: reference load excluded (median {statistics.median(floor_load) / 1e9:.3f} s), "
              f"work {statistics.median(floor_work) / 1e9:.3f} s, "
              f"outside both {statistics.median(floor_outside) / 1e6:.1f} ms")
        budget = memory_budget_bytes_per_triangle * args.triangles + memory_budget_fixed_bytes
        peak = max(tri2stl_rss)
        bound = max(resident_bounds)
        budget_text = f"budget {budget} bytes ({budget / 2**20:.1f} MiB)"
        if peak > bound:
            verdict = "within budget" if peak <= budget else "OVER budget"
            print(f"tri2stl peak resident memory: {peak} bytes ({peak / 2**20:.1f} MiB), {budget_text}: "
                  f"{verdict}, {peak - budget:+d} bytes")
        else:
            verdict = "within budget" if bound <= budget else "not measurable against the budget"
            print(f"tri2stl peak resident memory: at most {bound} bytes ({bound / 2**20:.1f} MiB), "
                  f"this script's own peak, which masks smaller figures; {budget_text}: {verdict}")
        if mismatches:
            print("output check: MISMATCH")
            for line in mismatches:
                print("  " + line)
        else:
            print(f"output check: all {2 * (args.rounds + 1)} outputs equal the expected bytes")
    except run_failure as failure:
        print(f"run_bench: {failure}", file=sys.stderr)
        return 1
    except subprocess.CalledProcessError as failure:
        print(f"run_bench: generating the input failed: {failure}", file=sys.stderr)
        return 1
    finally:
        if args.keep:
            print(f"kept: {top}")
        else:
            shutil.rmtree(top, ignore_errors=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
