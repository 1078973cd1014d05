#!/usr/bin/env python3
"""Measures what tovik costs beyond the command it runs.

Every comparison runs the compared commands interleaved (A B A B ...) in one
run and reports the median of the pair-by-pair ratios, so that a noisy,
shared machine shifts both sides of a pair alike. Only the standard library.
"""

import argparse
import os
import platform
import re
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

# The same job as tovik, done by the shell alone: both header lines, then the
# command with its streams appended to the two files.
HEADERS = 'printf "%s\\n" "$0" >>stdout.err; printf "%s\\n" "$0" >>stderr.err; '
SHELL_ALONE = HEADERS + 'eval "$0" >>stdout.err 2>>stderr.err'
# The same through tee, the two streams kept apart: each stream passes through
# a pipe and a tee process that copies it into its file.
TEE_PIPELINE = HEADERS + ('{ { eval "$0" | tee -a stdout.err >/dev/null; } 2>&1 '
                          '| tee -a stderr.err >/dev/null; }')

GIB = 1 << 30


def variants(tovik, static, musl, floor):
    """Name -> function from a command line to the argv that captures it."""
    found = {'tovik': lambda c: [tovik, c]}
    if static:
        found['tovik static'] = lambda c: [static, c]
    if musl:
        found['tovik musl'] = lambda c: [musl, c]
    if floor:
        # Not a capture: only the second process start that any tool of
        # this kind makes (bench/spawn_floor.c, linked like the default).
        found['spawn floor'] = lambda c: [floor, c]
    found['sh alone'] = lambda c: ['/bin/sh', '-c', SHELL_ALONE, c]
    # logsave copies both streams, mixed, into one file and to its own stdout.
    found['logsave -a'] = lambda c: [shutil.which('logsave') or '/usr/sbin/logsave', '-a',
                                     'stdout.err', '/bin/sh', '-c', c]
    found['tee pipeline'] = lambda c: ['/bin/sh', '-c', TEE_PIPELINE, c]
    return found


def run_once(argv):
    """Runs argv in the current directory: (wall seconds, CPU seconds)."""
    devnull = os.open(os.devnull, os.O_RDWR)
    try:
        actions = [(os.POSIX_SPAWN_DUP2, devnull, 0), (os.POSIX_SPAWN_DUP2, devnull, 1),
                   (os.POSIX_SPAWN_DUP2, devnull, 2)]
        start = time.perf_counter()
        pid = os.posix_spawn(argv[0], argv, {'PATH': '/usr/bin:/bin:/usr/sbin:/sbin'},
                             file_actions=actions)
        _, status, usage = os.wait4(pid, 0)
        wall = time.perf_counter() - start
    finally:
        os.close(devnull)
    if os.waitstatus_to_exitcode(status) != 0:
        sys.exit(f'failed: {argv}')
    # wait4 counts the child and every descendant it waited for.
    return wall, usage.ru_utime + usage.ru_stime


def clear_files():
    for name in ('stdout.err', 'stderr.err'):
        if os.path.exists(name):
            os.unlink(name)


def interleaved(found, command, rounds, prepare=clear_files):
    """Runs every variant once per round, in turn: {name: [(wall, cpu), ...]}."""
    names = list(found)
    times = {name: [] for name in names}
    for name in names:  # a warm-up round, not counted
        prepare()
        run_once(found[name](command))
    for round_number in range(rounds):
        # Each round starts with the next variant, so that none always runs
        # right after the same other one (and after the removal of its files).
        start = round_number % len(names)
        for name in names[start:] + names[:start]:
            prepare()
            times[name].append(run_once(found[name](command)))
    prepare()
    return times


def ratios(times, name, base, index):
    return [a[index] / b[index] for a, b in zip(times[name], times[base])]


def median_ratio(times, name, base, index):
    return statistics.median(ratios(times, name, base, index))


def spread(times, name, base, index):
    """The median ratio with its interquartile range, as text."""
    values = ratios(times, name, base, index)
    if len(values) < 4 or name == base:
        return f'{statistics.median(values):.3f}'
    low, _, high = statistics.quantiles(values, n=4)
    return f'{statistics.median(values):.3f} ({low:.2f}-{high:.2f})'


def check_output(found):
    """Stops unless each capture that keeps the streams apart leaves the same
    stdout.err as tovik for the same command (logsave mixes and dates them)."""
    for name, make in found.items():
        if name in ('spawn floor', 'logsave -a'):
            continue
        clear_files()
        run_once(make('echo out; echo err >&2'))
        with open('stdout.err') as out:
            got = out.read()
        if got != 'echo out; echo err >&2\nout\n':
            sys.exit(f'{name} left {got!r} in stdout.err')
    clear_files()


def median_ms(samples, index):
    return 1000 * statistics.median(s[index] for s in samples)


def overhead(found, rounds, cpus=None):
    where = f'all on CPU {min(cpus)}' if cpus else 'on any CPU'
    print(f'\n## 1. Overhead: command `true`, {rounds} interleaved rounds, {where}\n')
    if cpus:
        saved = os.sched_getaffinity(0)
        os.sched_setaffinity(0, cpus)
    try:
        times = interleaved(found, 'true', rounds)
    finally:
        if cpus:
            os.sched_setaffinity(0, saved)
    print('| command | median wall | this / sh alone (IQR) | tovik / this (IQR) |')
    print('|---|---|---|---|')
    for name in found:
        print(f'| {name} | {median_ms(times[name], 0):.2f} ms | '
              f'{spread(times, name, "sh alone", 0)} | {spread(times, "tovik", name, 0)} |')
    return {name: median_ratio(times, name, 'sh alone', 0) for name in times}


def throughput(found, rounds, size):
    results = {}
    half = size // 2
    jobs = [('stdout', f'head -c {size} /dev/zero'),
            ('both streams', f'head -c {half} /dev/zero; head -c {half} /dev/zero >&2')]
    for label, command in jobs:
        print(f'\n## 2. Throughput: {size // (1 << 20)} MiB to {label}, '
              f'{rounds} interleaved rounds\n')
        times = interleaved(found, command, rounds)
        print('| capture | median wall | median CPU | tovik / this, wall (IQR) | '
              'tovik / this, CPU (IQR) |')
        print('|---|---|---|---|---|')
        for name in found:
            print(f'| {name} | {median_ms(times[name], 0):.0f} ms | '
                  f'{median_ms(times[name], 1):.0f} ms | '
                  f'{spread(times, "tovik", name, 0)} | {spread(times, "tovik", name, 1)} |')
        results[label] = (median_ratio(times, 'tovik', 'sh alone', 0),
                          median_ratio(times, 'tovik', 'sh alone', 1))
    return results


def large_files(tovik, rounds):
    print(f'\n## 3. Existing capture files of 10 GiB (sparse) against empty ones, '
          f'{rounds} interleaved rounds\n')

    def sparse():
        for name in ('stdout.err', 'stderr.err'):
            with open(name, 'wb') as f:
                f.truncate(10 * GIB)

    def empty():
        for name in ('stdout.err', 'stderr.err'):
            open(name, 'wb').close()

    samples = {'10 GiB': [], 'empty': []}
    for _ in range(rounds):
        for label, prepare in (('10 GiB', sparse), ('empty', empty)):
            prepare()
            samples[label].append(run_once([tovik, 'true']))
    clear_files()
    ratio = median_ratio(samples, '10 GiB', 'empty', 0)
    print('| files | median wall |')
    print('|---|---|')
    for label in samples:
        print(f'| {label} | {median_ms(samples[label], 0):.2f} ms |')
    print(f'\n10 GiB / empty: {ratio:.2f}')
    return ratio


def memory_kib(argv):
    """Peak resident memory (VmHWM) and proportional share (Pss) of the
    process that runs the measuring command, read by that command from /proc
    while the process waits for it; the median of five runs each."""
    peaks, shares = [], []
    for _ in range(5):
        clear_files()
        subprocess.run(argv, check=True, stdout=subprocess.DEVNULL)
        with open('stdout.err') as f:
            text = f.read()
        peaks.append(int(re.search(r'VmHWM:\s*(\d+) kB', text).group(1)))
        shares.append(int(re.search(r'Pss:\s*(\d+) kB', text).group(1)))
    clear_files()
    return statistics.median(peaks), statistics.median(shares)


def instructions(binary):
    """Instructions the tool itself executes (loader included) for `true`."""
    if not shutil.which('valgrind'):
        return None
    log = os.path.abspath('callgrind.log')
    subprocess.run(['valgrind', '--tool=callgrind', '--callgrind-out-file=/dev/null',
                    f'--log-file={log}', binary, 'true'], check=True)
    with open(log) as f:
        total = re.search(r'Collected : (\d+)', f.read())
    os.unlink(log)
    clear_files()
    return int(total.group(1)) if total else None


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument('--tovik', default='build/tovik')
    parser.add_argument('--static', default='build-static/tovik',
                        help='a fully static build, reported beside the default')
    parser.add_argument('--musl', default='build-musl/tovik',
                        help='the static musl build, reported beside the default')
    parser.add_argument('--floor', default='build/spawn_floor',
                        help='bench/spawn_floor.c built like the default tovik')
    parser.add_argument('--rounds', type=int, default=300, help='rounds for the overhead')
    parser.add_argument('--throughput-rounds', type=int, default=15)
    parser.add_argument('--size-mib', type=int, default=1024)
    parser.add_argument('--dir', help='where the capture files are written '
                        '(default: a fresh directory in /dev/shm, or in $TMPDIR)')
    args = parser.parse_args()

    tovik = os.path.abspath(args.tovik)
    static = os.path.abspath(args.static) if os.path.exists(args.static) else None
    musl = os.path.abspath(args.musl) if os.path.exists(args.musl) else None
    floor = os.path.abspath(args.floor) if os.path.exists(args.floor) else None
    found = variants(tovik, static, musl, floor)
    base = args.dir or ('/dev/shm' if os.path.isdir('/dev/shm') else None)
    work = tempfile.mkdtemp(prefix='tovik-bench-', dir=base)
    os.chdir(work)

    cpu = next((line.split(':', 1)[1].strip() for line in open('/proc/cpuinfo')
                if line.startswith('model name')), platform.processor())
    print(f'# tovik benchmark\n\n{time.strftime("%Y-%m-%d")}, {cpu}, {os.cpu_count()} cores, '
          f'Linux {platform.release()}, capture files in {os.path.dirname(work)}')
    try:
        check_output(found)
        over = overhead(found, args.rounds)
        # On one CPU no process waits for an idle CPU to wake: on a virtual
        # machine such a wake-up costs about as much as a process start, and
        # tovik waits for one more process than the shell does.
        on_one_cpu = overhead(found, args.rounds, {min(os.sched_getaffinity(0))})
        through = throughput({k: v for k, v in found.items()
                              if k not in ('tovik static', 'tovik musl', 'spawn floor')},
                             args.throughput_rounds, args.size_mib << 20)
        growth = large_files(tovik, max(args.rounds // 3, 20))
        print('\n## 4. The tool itself\n')
        print('| process | peak memory (VmHWM) | its share (Pss) | '
              'instructions at start-up (callgrind) |')
        print('|---|---|---|---|')
        memory = {}
        probe = 'grep -E "^(VmHWM|Pss):" /proc/{pid}/status /proc/{pid}/smaps_rollup'
        measured = [(name, [binary, probe.format(pid='$PPID')], binary)
                    for name, binary in (('tovik', tovik), ('tovik static', static),
                                         ('tovik musl', musl)) if binary]
        # The shell alone, measured alike: its command reads the shell's figures.
        measured.append(('sh alone', ['/bin/sh', '-c', SHELL_ALONE, probe.format(pid='$$') + '; :'],
                         None))
        for name, argv, binary in measured:
            memory[name], share = memory_kib(argv)
            count = instructions(binary) if binary else None
            count_text = f'{count:,}' if count else '-'
            print(f'| {name} | {memory[name]:.0f} KiB | {share:.0f} KiB | {count_text} |')
    finally:
        os.chdir('/')
        shutil.rmtree(work, ignore_errors=True)

    goals = [  # (what, measured, at most)
        ('overhead against sh alone', over['tovik'], 2.0),
        ('the same, all on one CPU', on_one_cpu['tovik'], 2.0),
        ('throughput, stdout, wall', through['stdout'][0], 1.05),
        ('throughput, stdout, CPU', through['stdout'][1], 1.05),
        ('throughput, both, wall', through['both streams'][0], 1.05),
        ('throughput, both, CPU', through['both streams'][1], 1.05),
        ('10 GiB files / empty', growth, 1.05),
        # Relative to the shell measured alike: both count the pages of the
        # system's C library that they touch, which differ between its
        # point releases.
        ('peak memory in KiB, below sh alone', memory['tovik'], memory['sh alone'] - 1),
    ]
    if musl:
        goals.append(('musl build: overhead against sh alone', over['tovik musl'], 1.65))
        if static:
            goals.append(('musl build: peak memory in KiB, below the static glibc build',
                          memory['tovik musl'], memory['tovik static'] - 1))
    print('\n## Goals\n')
    print('| goal | measured | |')
    print('|---|---|---|')
    for text, value, limit in goals:
        print(f'| {text} <= {limit} | {value:.4g} | {"met" if value <= limit else "MISSED"} |')
    if 'spawn floor' in over:
        print(f"\nFor comparison, the spawn floor against sh alone: {over['spawn floor']:.3f} "
              f"(on one CPU: {on_one_cpu['spawn floor']:.3f}); tovik against the floor: "
              f"{over['tovik'] / over['spawn floor']:.3f}.")
    return 0 if all(value <= limit for _, value, limit in goals) else 1


if __name__ == '__main__':
    sys.exit(main())
