#!/usr/bin/env python3
"""Runs the tcpflash benchmarks on loopback and prints one report.

Every server is started here on 127.0.0.1 with a free port and a deadline of
its own: the count-only sink (bench/count_sink.cc) for the throughput, and
tcpflash-sim for the image check, the peak memory and the whole run. Every
child process runs under a timeout. The figures are informational: the exit
status is 0 when everything ran, 1 when something failed to run.

usage: run_bench.py BUILD_DIR [--quick]
"""

import filecmp
import hashlib
import json
import os
import re
import shutil
import signal
import statistics
import subprocess
import sys
import tempfile
import threading
import time

MB = 1 << 20
IMAGE_BLOCK = 750  # image bytes per data frame
RATIO_GOAL = 0.85  # tool/limit streaming throughput
LINK_100MBIT = 12.5e6  # bytes/s a 100 Mbit board link carries
FIXED_PAUSES_S = 1.0  # 500 ms before the first state poll, 500 ms before the close
SIM_TIMEOUT_S = 120
TOOL_TIMEOUT_S = 90


class BenchError(Exception):
    pass


def verdict(ok):
    return "PASS" if ok else "MISS"


def read_port(server, what):
    """The port from the "port N" line a server just started prints; stops
    the server and raises when it prints none."""
    line = server.proc.stdout.readline().decode("ascii", "replace")
    m = re.match(r"port (\d+)", line)
    if not m:
        server.stop()
        raise BenchError("%s did not report its port: %r" % (what, line))
    return int(m.group(1))


class Server:
    """A benchmark server process (self.proc, its stderr in self.log)."""

    def stop(self):
        if self.proc.poll() is None:
            self.proc.kill()
            self.proc.wait()
        if self.proc.stdout:
            self.proc.stdout.close()
        self.log.close()


class Sim(Server):
    """A tcpflash-sim in loader mode for one session, its log in a file."""

    def __init__(self, build, workdir, extra=()):
        self.log_path = os.path.join(workdir, "sim-%d.log" % time.monotonic_ns())
        self.log = open(self.log_path, "wb")
        args = [os.path.join(build, "sim", "tcpflash-sim"), "--port", "0", "--once",
                "--mode", "2", "--quiet", "--timeout", str(SIM_TIMEOUT_S)] + list(extra)
        self.proc = subprocess.Popen(args, stdout=subprocess.PIPE, stderr=self.log)
        self.port = read_port(self, "simulator")

    def finish(self, timeout=30):
        try:
            status = self.proc.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            self.stop()
            raise BenchError("simulator did not end")
        self.proc.stdout.close()
        self.log.close()
        with open(self.log_path, "r", encoding="latin-1") as f:
            text = f.read()
        if status != 0:
            raise BenchError("simulator ended with status %d:\n%s" % (status, text[-2000:]))
        return text


class CountSink(Server):
    """A tcpflash_count_sink for one session: answers the loader dialogue and
    times the data phase from its first to its last data byte."""

    def __init__(self, build, workdir, expect):
        self.log_path = os.path.join(workdir, "sink-%d.log" % time.monotonic_ns())
        self.log = open(self.log_path, "wb")
        args = [os.path.join(build, "bench", "tcpflash_count_sink"), "--timeout",
                str(SIM_TIMEOUT_S), "--expect", str(expect)]
        self.proc = subprocess.Popen(args, stdout=subprocess.PIPE, stderr=self.log)
        self.port = read_port(self, "count sink")

    def finish(self, timeout=30):
        """(wire bytes, seconds) of the data phase."""
        try:
            out, _ = self.proc.communicate(timeout=timeout)
        except subprocess.TimeoutExpired:
            self.stop()
            raise BenchError("count sink did not end")
        self.log.close()
        with open(self.log_path, "r", encoding="latin-1") as f:
            err = f.read()
        text = out.decode("ascii", "replace")
        m = re.search(r"data: (\d+) wire bytes, ([0-9.]+) s", text)
        if self.proc.returncode != 0 or not m:
            raise BenchError("count sink ended with status %d: %s %s" %
                             (self.proc.returncode, text.strip(), err.strip()))
        return int(m.group(1)), float(m.group(2))


def expected_wire_bytes(path):
    """Bytes of the data frames the tool sends for the image at path."""
    with open(path, "rb") as f:
        data = f.read()
    size = len(data)
    stuffed = data.count(b"\xfd") + data.count(b"\xfe") + data.count(b"\xff")
    # Full frames carry length 751 (02 EF, never stuffed); the last frame holds
    # the rest, possibly nothing, and its length's low byte may need stuffing.
    frames = size // IMAGE_BLOCK + 1
    last_low = (size % IMAGE_BLOCK + 1) & 0xFF
    return size + stuffed + 5 * frames + (1 if last_low >= 0xFD else 0)


def data_phase(log):
    """(image bytes, seconds) of the last data phase the simulator logged."""
    found = re.findall(r"data phase: (\d+) frames, (\d+) image bytes, ([0-9.]+) s", log)
    if not found:
        raise BenchError("no data phase in the simulator log")
    frames, nbytes, seconds = found[-1]
    return int(nbytes), float(seconds)


def peak_of_image(pid):
    """VmHWM of pid in KiB: the peak resident set of the program it runs now."""
    try:
        with open("/proc/%d/status" % pid) as f:
            m = re.search(r"^VmHWM:\s*(\d+) kB", f.read(), re.M)
    except OSError:
        return 0
    return int(m.group(1)) if m else 0


def run_measured(args, cwd, timeout, watch_memory=False):
    """Runs args; returns (status, wall seconds, peak RSS in KiB) of that process.

    The peak is VmHWM polled from /proc while the program runs (its runs end
    with a 500 ms pause, so the last polls see the final peak). ru_maxrss of
    os.wait4 would not do: Linux carries it over fork and exec, so it starts
    at this Python process's own resident set.
    """
    peak = [0]
    with open(os.path.join(cwd, "out.txt"), "wb") as out:
        start = time.monotonic()
        proc = subprocess.Popen(args, cwd=cwd, stdin=subprocess.DEVNULL, stdout=out,
                                stderr=subprocess.STDOUT)
        done = threading.Event()

        def watch():
            while not done.is_set():
                peak[0] = max(peak[0], peak_of_image(proc.pid))
                done.wait(0.01)

        watcher = threading.Thread(target=watch) if watch_memory else None
        if watcher:
            watcher.start()
        killer = threading.Timer(timeout, lambda: os.kill(proc.pid, signal.SIGKILL))
        killer.start()
        try:
            _, status, usage = os.wait4(proc.pid, 0)
        finally:
            killer.cancel()
            done.set()
            if watcher:
                watcher.join()
        wall = time.monotonic() - start
        proc.returncode = os.waitstatus_to_exitcode(status)
    if proc.returncode != 0:
        with open(os.path.join(cwd, "out.txt"), "rb") as f:
            tail = f.read()[-1000:].decode("latin-1")
        raise BenchError("%s ended with status %d:\n%s" % (args[0], proc.returncode, tail))
    return proc.returncode, wall, peak[0] if watch_memory else usage.ru_maxrss


def image_dir(workdir, name, writer):
    d = os.path.join(workdir, name)
    os.makedirs(d)
    with open(os.path.join(d, "image.uncompressed"), "wb") as f:
        writer(f)
    return d


def random_writer(size):
    def write(f):
        left = size
        while left > 0:
            n = min(left, 4 * MB)
            f.write(os.urandom(n))
            left -= n
    return write


def fill_writer(size, byte):
    def write(f):
        chunk = bytes([byte]) * MB
        for _ in range(size // MB):
            f.write(chunk)
    return write


def sparse_writer(size):
    def write(f):
        f.truncate(size)
    return write


def tool_run(build, imgdir, workdir, watch_memory=False, sim_args=()):
    """One whole tcpflash run from loader mode: (wall s, peak RSS KiB, sim log)."""
    sim = Sim(build, workdir, sim_args)
    try:
        _, wall, rss = run_measured(
            [os.path.join(build, "tcpflash"), "127.0.0.1", str(sim.port)], imgdir,
            TOOL_TIMEOUT_S, watch_memory)
    except BaseException:
        sim.stop()
        raise
    return wall, rss, sim.finish()


def streaming_run(build, kind, imgdir, workdir, expect):
    """One whole run of the tool or of the limit client against a count sink:
    image MB/s over the data phase, from its first to its last byte."""
    sink = CountSink(build, workdir, expect)
    image = os.path.join(imgdir, "image.uncompressed")
    if kind == "tool":
        args = [os.path.join(build, "tcpflash"), "127.0.0.1", str(sink.port)]
    elif kind == "sha256":
        # The hash of what goes out, frame by frame, is the cost of the option;
        # the file's own hash before connecting lies outside the data phase.
        args = [os.path.join(build, "tcpflash"), "--expect-sha256", file_sha256(image),
                "127.0.0.1", str(sink.port)]
    else:
        args = [os.path.join(build, "bench", "tcpflash_limit_client"), str(sink.port), image]
    try:
        run_measured(args, imgdir, TOOL_TIMEOUT_S)
    except BaseException:
        sink.stop()
        raise
    wire, secs = sink.finish()
    if wire != expect:
        raise BenchError("%s sent %d data bytes, %d expected" % (kind, wire, expect))
    return os.path.getsize(image) / secs / 1e6


def file_sha256(path):
    with open(path, "rb") as f:
        return hashlib.file_digest(f, "sha256").hexdigest()


def image_check(build, imgdir, workdir):
    """An untimed tool run against tcpflash-sim: True when the image arrived intact."""
    got = os.path.join(workdir, "got.bin")
    tool_run(build, imgdir, workdir, sim_args=("--image-out", got))
    same = filecmp.cmp(got, os.path.join(imgdir, "image.uncompressed"), shallow=False)
    os.remove(got)
    return same


def spread(values, fmt="%.0f"):
    return (fmt + " [" + fmt + "-" + fmt + "]") % (statistics.median(values), min(values),
                                                  max(values))


def throughput(build, workdir, rounds, size):
    print("1. Image throughput on loopback, %d MB images, against a count-only sink "
          "(bench/count_sink.cc)" % (size // MB))
    print("   timed: the data phase as the sink receives it, first to last data byte; "
          "tcpflash and the limit")
    print("   client (the same dialogue, data frames pre-built, one send each), and tcpflash "
          "with")
    print("   --expect-sha256 (hashing what it sends), in %d interleaved rounds; median "
          "[min-max]" % rounds)
    print("   for scale: a 100 Mbit board link carries %.1f MB/s" % (LINK_100MBIT / 1e6))
    cases = [("random", random_writer(size)), ("all 0xFE", fill_writer(size, 0xFE))]
    setups = []
    checks = []
    for label, writer in cases:
        d = image_dir(workdir, "tp-" + label.replace(" ", ""), writer)
        expect = expected_wire_bytes(os.path.join(d, "image.uncompressed"))
        checks.append("%s %s" % (label, "intact" if image_check(build, d, workdir) else "CORRUPT"))
        setups.append((label, d, expect, {"tool": [], "limit": [], "sha256": []}))
    print("   image check, one untimed run each against tcpflash-sim: %s" % ", ".join(checks))
    # The images were just written: their write-back must not run during the rounds.
    os.sync()
    load_start = os.getloadavg()[0]
    for r in range(rounds):
        # Alternate the order so that a disturbance hits both alike.
        order = ("tool", "limit", "sha256") if r % 2 == 0 else ("sha256", "limit", "tool")
        for _, d, expect, rates in setups:
            for kind in order:
                rates[kind].append(streaming_run(build, kind, d, workdir, expect))
    print("   load average over the rounds: %.1f at the start, %.1f at the end "
          "(2 or more: the figures swing widely)" % (load_start, os.getloadavg()[0]))
    ok = all("CORRUPT" not in c for c in checks)
    for label, d, _, rates in setups:
        tool, limit = rates["tool"], rates["limit"]
        ratio = statistics.median(tool) / statistics.median(limit)
        paired = [t / l for t, l in zip(tool, limit)]
        good = ratio >= RATIO_GOAL
        ok = ok and good
        print("   %-9s tcpflash %s MB/s  limit %s MB/s" % (label, spread(tool), spread(limit)))
        print("             ratio of the medians %.2f  (goal >= %.2f) %s;  per round %s" %
              (ratio, RATIO_GOAL, verdict(good), spread(paired, "%.2f")))
        sha = rates["sha256"]
        print("             with --expect-sha256 %s MB/s, %.2f of tcpflash without it "
              "(no goal)" % (spread(sha), statistics.median(sha) / statistics.median(tool)))
        shutil.rmtree(d)
    return ok


def frame_costs(build, quick):
    print("2. Frame-building costs (Google Benchmark, CPU time; bytes/s of input)")
    print("   data frames are built block after block over 4 MiB streams of distinct blocks")
    exe = os.path.join(build, "bench", "tcpflash_frame_bench")
    if not os.path.exists(exe):
        raise BenchError("%s not built (is libbenchmark-dev installed?)" % exe)
    args = [exe, "--benchmark_format=json"]
    if quick:
        args.append("--benchmark_min_time=0.05")
    out = subprocess.run(args, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, timeout=180,
                         check=True).stdout
    results = {b["name"]: b for b in json.loads(out)["benchmarks"]}
    # Goals: stuffing at least 10 times what a 100 Mbit link carries; a
    # command frame's escape and CRC well under a microsecond. Reading the
    # image has no goal: it is shown for comparison.
    rows = [
        ("BM_StuffStream_Random", "stuff 750 B, random", "rate", 10 * LINK_100MBIT),
        ("BM_StuffStream_PaddedFirmware", "stuff, 0xFF-padded fw", "rate", 10 * LINK_100MBIT),
        ("BM_StuffStream_AllFE", "stuff 750 B, all 0xFE", "rate", 10 * LINK_100MBIT),
        ("BM_EscapeFrame13", "EscapeFrame, 13 B", "time", 1000.0),
        ("BM_ComputeCrc16/9", "ComputeCrc16, 9 B", "time", 1000.0),
        ("BM_ComputeCrc16/750", "ComputeCrc16, 750 B", "rate", 10 * LINK_100MBIT),
        ("BM_ReadBlocks_Fread64k", "read 750 B: fread, 64K", None, None),
        ("BM_ReadBlocks_Read750", "read 750 B: read()", None, None),
        ("BM_ReadBlocks_Read64kInPlace", "read 750 B: read() 64K", None, None),
    ]
    ok = True
    for name, label, kind, goal in rows:
        b = results.get(name)
        if b is None:
            raise BenchError("benchmark %s missing" % name)
        rate = b["bytes_per_second"]
        ns = b["cpu_time"] * {"ns": 1, "us": 1e3, "ms": 1e6}[b["time_unit"]]
        if kind == "rate":
            good = rate >= goal
            tail = "(goal >= %.0f MB/s) %s" % (goal / 1e6, verdict(good))
        elif kind == "time":
            good = ns <= goal
            tail = "(goal <= %.0f ns) %s" % (goal, verdict(good))
        else:
            good = True
            tail = "(no goal)"
        ok = ok and good
        print("   %-24s %9.1f MB/s  %8.1f ns/call  %s" % (label, rate / 1e6, ns, tail))
    print("   (read 750 B: fread through a 64 KiB buffer as the tool reads; one read() per "
          "block;")
    print("    one read() per 64 KiB with the blocks used where they lie)")
    return ok


def memory(build, workdir):
    print("3. Peak memory of tcpflash (maximum resident set, VmHWM, whole run from loader mode)")
    rss = {}
    for size in (1 * MB, 256 * MB):
        d = image_dir(workdir, "mem-%d" % size, sparse_writer(size))
        _, kib, log = tool_run(build, d, workdir, watch_memory=True)
        if data_phase(log)[0] != size:
            raise BenchError("tool did not deliver the whole %d MB image" % (size // MB))
        rss[size] = kib
        shutil.rmtree(d)
    diff = abs(rss[256 * MB] - rss[1 * MB])
    good = diff <= 1024
    print("   1 MB image %6d KiB, 256 MB image %6d KiB, difference %d KiB  "
          "(goal <= 1024 KiB) %s" % (rss[MB], rss[256 * MB], diff, verdict(good)))
    return good


def run_time(build, workdir, repeats):
    print("4. Whole run from loader mode, 1 MB image, less the two fixed 500 ms pauses "
          "(process start to exit, %d runs)" % repeats)
    d = image_dir(workdir, "run-1mb", random_writer(MB))
    own = []
    for _ in range(repeats):
        wall, _, log = tool_run(build, d, workdir)
        if data_phase(log)[0] != MB:
            raise BenchError("tool did not deliver the whole 1 MB image")
        own.append((wall - FIXED_PAUSES_S) * 1e3)
    shutil.rmtree(d)
    med = statistics.median(own)
    good = med < 20.0
    print("   median %.1f ms, min %.1f ms  (goal < 20 ms) %s" % (med, min(own), verdict(good)))
    return good


def main():
    if len(sys.argv) < 2:
        print(__doc__)
        return 1
    build = os.path.abspath(sys.argv[1])
    quick = "--quick" in sys.argv[2:]
    rounds = 3 if quick else 15
    size = (8 if quick else 64) * MB
    workdir = tempfile.mkdtemp(prefix="tcpflash-bench-")
    results = []
    failed = False
    try:
        for step in (lambda: throughput(build, workdir, rounds, size),
                     lambda: frame_costs(build, quick),
                     lambda: memory(build, workdir),
                     lambda: run_time(build, workdir, 2 if quick else 5)):
            try:
                results.append(step())
            except (BenchError, OSError, subprocess.SubprocessError, ValueError) as e:
                print("   FAILED TO RUN: %s" % e)
                failed = True
            sys.stdout.flush()
    finally:
        shutil.rmtree(workdir, ignore_errors=True)
    print("summary: %d of %d figures met their goal%s" %
          (sum(results), len(results), "; some benchmarks failed to run" if failed else ""))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
