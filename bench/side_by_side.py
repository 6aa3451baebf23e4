#!/usr/bin/env python3
"""Runs the benchmark columns side by side over the corpus and prints medians.

    side_by_side.py BUILD_DIR CORPUS_DIR

Columns, per corpus file (milliseconds, medians of BENCH_RUNS runs, default 5):
  lower bound   bench's lower_bound program, many grabs in one process
  warm          the server, one process, from the moment it takes the command
                to the event after the last row
  idle          the same request timed from its write to the idle server, so
                the server's poll pace is included
  lb proc       lower_bound as a fresh process for the one file
  cold          a fresh server: spawn to the event after the last row
  ffmpegthumb   ffmpegthumbnailer -s 256, one process per file
  ffmpeg        the ffmpeg tool: precise seek to the position the lower bound
                chose, one frame decoded and converted to bgr24
Every column of a file runs back to back, round after round, so the load of a
shared machine falls on all of them alike. Then processor time, peak memory on
the 4K and 8K files and the HDR files with their SDR twins (NAME_sdrtwin.EXT:
the same pictures in SDR), the batch of 20 mixed files (ffmpegthumbnailer one
and two at a time) and the performance targets. A column whose
program is missing is left out. Results also go to
BUILD_DIR/bench-results.txt.
"""

import os
import resource
import shutil
import statistics
import subprocess
import sys
import time

RUNS = int(os.environ.get("BENCH_RUNS", "5"))
BATCH_RUNS = int(os.environ.get("BENCH_BATCH_RUNS", "3"))
BATCH_SIZE = 20
FFT_TWO = "ffmpegthumbnailer -s 256, two at a time (xargs -P 2)"


def log(text):
    print(f"bench: {text}", file=sys.stderr, flush=True)


def timed(command, need_success=True):
    """Wall and processor seconds of one run of command (None, None when it fails)."""
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    start = time.perf_counter()
    done = subprocess.run(command, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    elapsed = time.perf_counter() - start
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    cpu = after.ru_utime + after.ru_stime - before.ru_utime - before.ru_stime
    return (elapsed, cpu) if done.returncode == 0 or not need_success else (None, None)


def wall(command, need_success=True):
    return timed(command, need_success)[0]


def peak_kib(command):
    """Peak resident memory of command in KiB (GNU time), or None."""
    done = subprocess.run(["/usr/bin/time", "-f", "%M"] + command,
                          stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
    lines = done.stderr.strip().splitlines()
    return int(lines[-1]) if done.returncode == 0 and lines and lines[-1].isdigit() else None


def tab_lines(command):
    """The tab-separated lines a bench program prints, split into fields."""
    done = subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
    return [line.split("\t") for line in done.stdout.splitlines() if line]


def twin_of(path):
    """The SDR twin of an HDR corpus file, or None."""
    stem, ext = os.path.splitext(path)
    twin = f"{stem}_sdrtwin{ext}"
    return twin if os.path.exists(twin) else None


def is_large(path):
    """A 4K or 8K file, by its name."""
    name = os.path.basename(path)
    return "4k" in name or "8k" in name


def in_twin_pair(path):
    return "_sdrtwin" in os.path.basename(path) or twin_of(path) is not None


def ms(seconds):
    return None if seconds is None else seconds * 1000


class Answerer:
    """A bench program in --serve mode: one path in, one result line out."""

    def __init__(self, command):
        self.process = subprocess.Popen(command, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                        stderr=subprocess.DEVNULL, text=True, bufsize=1)

    def ask(self, path):
        try:
            self.process.stdin.write(path + "\n")
            self.process.stdin.flush()
            line = self.process.stdout.readline()
        except (BrokenPipeError, OSError):
            return None
        return line.rstrip("\n").split("\t") if line else None

    def close(self):
        try:
            self.process.stdin.close()
        except OSError:
            pass
        self.process.wait()


def median(values):
    values = [v for v in values if v is not None]
    return statistics.median(values) if values else None


def fmt_ms(value):
    return "-" if value is None else f"{value:.0f}" if value >= 100 else f"{value:.1f}"


def fmt_ratio(value, base):
    return "-" if value is None or not base else f"{value / base:.2f}"


class Bench:
    def __init__(self, build, corpus):
        self.build = os.path.abspath(build)
        self.bin = os.path.join(self.build, "bin")
        self.corpus = os.path.abspath(corpus)
        self.files = sorted(os.path.join(self.corpus, f) for f in os.listdir(self.corpus)
                            if not f.startswith("."))
        self.lower_bound = self.tool("lower_bound")
        self.client = self.tool("bench_client")
        self.server = self.tool("thumbnail-server")
        self.thumbnail = self.tool("thumbnail")
        self.fft = shutil.which("ffmpegthumbnailer")
        self.ffmpeg = shutil.which("ffmpeg")
        self.scratch = os.path.join(self.build, "bench-scratch")
        os.makedirs(self.scratch, exist_ok=True)
        self.out = []

    def tool(self, name):
        path = os.path.join(self.bin, name)
        if os.access(path, os.X_OK):
            return path
        log(f"{path} is missing: its columns are left out")
        return None

    def say(self, text=""):
        print(text, flush=True)
        self.out.append(text)

    def run(self):
        if not self.lower_bound:
            log("no lower_bound program: build the bench targets first")
            return 1
        with_server = bool(self.client and self.server)
        png = os.path.join(self.scratch, "ffmpegthumbnailer.png")
        lb = Answerer([self.lower_bound, "--serve"])
        warm = Answerer([self.client, "--server", self.server, "--serve"]) if with_server else None
        log("warming up the lower bound and the server (every file once)")
        for f in self.files:
            lb.ask(f)
            if warm:
                warm.ask(f)
        # Every column of a file runs back to back, round after round, so
        # that the load of a shared machine falls on all of them alike.
        names = ("lb", "warm", "idle", "lbproc", "cold", "fft", "ffmpeg")
        columns = {name: {f: [] for f in self.files} for name in names}
        cpu = {name: {f: [] for f in self.files} for name in names}

        def per_process(name, f, command):
            seconds, processor = timed(command)
            columns[name][f].append(ms(seconds))
            cpu[name][f].append(ms(processor))
        frames, cold_rows, failures = {}, [], {}

        def failed(column, f, row):
            reason = " ".join(row[2:]) if row and len(row) > 2 else "no answer"
            failures.setdefault((column, os.path.basename(f)), []).append(reason)
        for run in range(RUNS):
            log(f"round {run + 1} of {RUNS}")
            for f in self.files:
                row = lb.ask(f)
                if row and row[1] != "fail":
                    columns["lb"][f].append(float(row[1]))
                    cpu["lb"][f].append(float(row[10]))
                    frames[f] = row
                else:
                    failed("lower bound", f, row)
                if warm:
                    row = warm.ask(f)
                    if row and row[1] != "fail":
                        columns["warm"][f].append(float(row[1]))
                        columns["idle"][f].append(float(row[3]))
                        cpu["warm"][f].append(float(row[4]))
                    else:
                        failed("warm", f, row)
                per_process("lbproc", f, [self.lower_bound, f])
                if with_server:
                    rows = tab_lines([self.client, "--server", self.server, "--cold", f])
                    cold_rows += rows
                    columns["cold"][f] += [float(r[1]) for r in rows if len(r) >= 5 and r[1] != "fail"]
                    cpu["cold"][f] += [float(r[4]) for r in rows if len(r) >= 5 and r[1] != "fail"]
                    if not any(len(r) >= 4 and r[1] != "fail" for r in rows):
                        failed("cold", f, rows[0] if rows else None)
                if self.fft:
                    per_process("fft", f, [self.fft, "-s", "256", "-i", f, "-o", png])
                if self.ffmpeg:
                    per_process("ffmpeg", f, self.ffmpeg_command(f, frames.get(f)))
        lb.close()
        if warm:
            warm.close()
        if not with_server:
            for name in ("warm", "idle", "cold"):
                del columns[name]
                del cpu[name]
        del cpu["idle"]

        self.frames = frames
        medians = self.table(columns, frames)
        for (column, name), reasons in sorted(failures.items()):
            self.say(f"  failed: {column} on {name}, {len(reasons)} of {RUNS} runs ({', '.join(sorted(set(reasons)))})")
        self.cpu_table(cpu)
        peaks = self.memory(cold_rows)
        batch = self.batch()
        self.targets(medians, peaks, batch)
        with open(os.path.join(self.build, "bench-results.txt"), "w") as out:
            out.write("\n".join(self.out) + "\n")
        log(f"results in {os.path.join(self.build, 'bench-results.txt')}")
        return 0

    def ffmpeg_command(self, f, frame):
        position = frame[7] if frame else "0.3"
        return [self.ffmpeg, "-hide_banner", "-v", "error", "-nostdin", "-ss", position, "-i", f,
                "-an", "-sn", "-frames:v", "1", "-pix_fmt", "bgr24", "-f", "rawvideo", "-y", os.devnull]

    def table(self, columns, frames):
        med = {name: {f: median(times.get(f, [])) for f in self.files} for name, times in columns.items()}
        get = lambda name, f: med.get(name, {}).get(f)
        self.say(f"Medians of {RUNS} runs, milliseconds per file; x = ratio")
        header = ["file", "frame", "lower bd", "warm", "x lb", "idle", "x lb",
                  "lb proc", "cold", "x lbproc", "x fft", "fft", "ffmpeg"]
        lines = [header]
        for f in self.files:
            frame = frames.get(f)
            shown = f"{frame[7]}s/{frame[6]} {frame[9]}" if frame else "fail"
            lb, warm, idle = get("lb", f), get("warm", f), get("idle", f)
            lbproc, cold, fft = get("lbproc", f), get("cold", f), get("fft", f)
            lines.append([os.path.basename(f), shown, fmt_ms(lb), fmt_ms(warm), fmt_ratio(warm, lb),
                          fmt_ms(idle), fmt_ratio(idle, lb), fmt_ms(lbproc), fmt_ms(cold),
                          fmt_ratio(cold, lbproc), fmt_ratio(cold, fft), fmt_ms(fft), fmt_ms(get("ffmpeg", f))])
        widths = [max(len(row[i]) for row in lines) for i in range(len(header))]
        for row in lines:
            self.say("  ".join(cell.ljust(widths[i]) if i < 2 else cell.rjust(widths[i])
                               for i, cell in enumerate(row)))
        self.say("frame: position chosen by the lower bound / positions tried, size")
        return med

    def cpu_table(self, cpu):
        """Processor time: what each program costs whatever the machine's load."""
        med = {name: {f: median(times.get(f, [])) for f in self.files} for name, times in cpu.items()}
        get = lambda name, f: med.get(name, {}).get(f)
        self.say()
        self.say(f"Processor time, all threads, medians of {RUNS} runs, milliseconds per file")
        header = ["file", "lower bd", "warm", "x lb", "lb proc", "cold", "x lbproc", "x fft", "fft", "ffmpeg"]
        lines = [header]
        for f in self.files:
            lb, warm, lbproc, cold, fft = (get(n, f) for n in ("lb", "warm", "lbproc", "cold", "fft"))
            lines.append([os.path.basename(f), fmt_ms(lb), fmt_ms(warm), fmt_ratio(warm, lb), fmt_ms(lbproc),
                          fmt_ms(cold), fmt_ratio(cold, lbproc), fmt_ratio(cold, fft), fmt_ms(fft),
                          fmt_ms(get("ffmpeg", f))])
        widths = [max(len(row[i]) for row in lines) for i in range(len(header))]
        for row in lines:
            self.say("  ".join(cell.ljust(widths[i]) if i < 1 else cell.rjust(widths[i])
                               for i, cell in enumerate(row)))
        self.say("warm: the server's own time in 10 ms ticks; cold: the whole server process")

    def memory(self, cold_rows):
        """Peaks of the server (cold runs), the lower bound and ffmpegthumbnailer, in MiB."""
        self.say()
        self.say("Peak resident memory, MiB")
        server_peak = {}
        worst, lower = {}, {}
        for fields in cold_rows:
            if len(fields) >= 5 and fields[1] != "fail":
                server_peak.setdefault(fields[0], []).append(int(fields[3]))
        for f in self.files:
            if not is_large(f) and not in_twin_pair(f):
                continue
            cells = []
            if server_peak.get(f):
                worst[f] = max(server_peak[f]) / 1024
                cells.append(f"server {worst[f]:.0f}")
            lb = peak_kib([self.lower_bound, f])
            if lb:
                lower[f] = lb / 1024
                cells.append(f"lower bound {lower[f]:.0f}")
            if self.fft:
                fft = peak_kib([self.fft, "-s", "256", "-i", f, "-o",
                                os.path.join(self.scratch, "ffmpegthumbnailer.png")])
                if fft:
                    cells.append(f"ffmpegthumbnailer {fft / 1024:.0f}")
            self.say(f"  {os.path.basename(f)}: " + ", ".join(cells))
        return worst, lower

    def batch(self):
        """20 mixed files (the corpus without its 4K and 8K files, cycled)."""
        # The HDR pairs would tilt the mix towards 10-bit HEVC.
        mixed = [f for f in self.files if not is_large(f) and not in_twin_pair(f)]
        if not mixed:
            return {}
        folder = os.path.join(self.scratch, "batch")
        shutil.rmtree(folder, ignore_errors=True)
        os.makedirs(folder)
        batch = []
        for i in range(BATCH_SIZE):
            source = mixed[i % len(mixed)]
            # Copies, not links: the tool does a file named twice once.
            copy = os.path.join(folder, f"{i:02d}_{os.path.basename(source)}")
            shutil.copyfile(source, copy)
            batch.append(copy)
        output = os.path.join(self.scratch, "batch-out")
        self.say()
        self.say(f"Batch of {BATCH_SIZE} mixed files, medians of {BATCH_RUNS} runs")
        results = {}
        log("batch: lower bound in one process")
        results["lower bound, one process"] = median(
            wall([self.lower_bound] + batch) for _ in range(BATCH_RUNS))
        if self.fft:
            log("batch: ffmpegthumbnailer once per file")
            png = os.path.join(self.scratch, "ffmpegthumbnailer.png")
            runs = []
            for _ in range(BATCH_RUNS):
                start = time.perf_counter()
                ok = all(wall([self.fft, "-s", "256", "-i", f, "-o", png]) is not None for f in batch)
                runs.append(time.perf_counter() - start if ok else None)
            results["ffmpegthumbnailer -s 256, once per file"] = median(runs)
            log("batch: ffmpegthumbnailer two at a time")
            # Each picture beside its copy in the scratch folder.
            listing = "\0".join(batch).encode()

            def two_at_a_time():
                start = time.perf_counter()
                done = subprocess.run(["xargs", "-0", "-P", "2", "-I", "{}", self.fft, "-s", "256", "-i", "{}",
                                       "-o", "{}.png"], input=listing, stdout=subprocess.DEVNULL,
                                      stderr=subprocess.DEVNULL)
                return time.perf_counter() - start if done.returncode == 0 else None
            results[FFT_TWO] = median(two_at_a_time() for _ in range(BATCH_RUNS))
        if self.thumbnail:
            log("batch: thumbnail -j 2")

            def tool_run():
                shutil.rmtree(output, ignore_errors=True)
                os.makedirs(output)
                seconds = wall([self.thumbnail, "-q", "-j", "2", "-s", "256", "-o", output] + batch, False)
                written = len(os.listdir(output))
                if written < BATCH_SIZE:
                    log(f"batch: thumbnail wrote {written} of {BATCH_SIZE} pictures")
                return seconds
            results["thumbnail -j 2 -s 256"] = median(tool_run() for _ in range(BATCH_RUNS))
        fft = results.get("ffmpegthumbnailer -s 256, once per file")
        for name, seconds in results.items():
            if seconds is None:
                self.say(f"  {name}: failed")
                continue
            rate = BATCH_SIZE / seconds
            versus = f", {(fft / seconds):.2f} x ffmpegthumbnailer's rate" if fft else ""
            if results.get(FFT_TWO):
                versus += f", {(results[FFT_TWO] / seconds):.2f} x its rate two at a time"
            self.say(f"  {name}: {seconds:.2f} s, {rate:.1f} files/s{versus}")
        return results

    def targets(self, med, peaks, batch):
        """The performance targets, each with the figures that decide it."""
        self.say()
        self.say("Targets")
        verdict = lambda ok: "met" if ok else "MISSED"
        by_name = lambda name: next((f for f in self.files if os.path.basename(f) == name), None)
        warm, lb = med.get("warm", {}), med.get("lb", {})
        if warm:
            over = [f"{os.path.basename(f)} {fmt_ratio(warm.get(f), lb.get(f))}" for f in self.files
                    if warm.get(f) is None or not lb.get(f) or warm[f] > lb[f]]
            self.say(f"  warm <= 1.0 x lower bound on every file: {verdict(not over)}"
                     + (f" (over: {', '.join(over)})" if over else ""))
        tool, fft_two = batch.get("thumbnail -j 2 -s 256"), batch.get(FFT_TWO)
        if tool and fft_two:
            self.say(f"  batch >= 1.2 x the files/s of ffmpegthumbnailer two at a time: "
                     f"{verdict(fft_two / tool >= 1.2)} ({fft_two / tool:.2f})")
        h264 = by_name("h264_1080p.mp4")
        cold, fft_one = med.get("cold", {}).get(h264), med.get("fft", {}).get(h264)
        if cold and fft_one:
            self.say(f"  cold 1080p H.264 <= one ffmpegthumbnailer run: {verdict(cold <= fft_one)}"
                     f" ({cold:.0f} ms against {fft_one:.0f} ms)")
        dark = by_name("hevc_4k_dark.mp4")
        if warm and dark:
            worst = warm.get(dark)
            self.say(f"  all eight positions on the dark 4K HEVC file under 1.5 s: "
                     f"{verdict(worst is not None and worst < 1500)} ({fmt_ms(worst)} ms)")
        for f in self.files:
            if "8k" not in os.path.basename(f):
                continue
            cold, fft_one = med.get("cold", {}).get(f), med.get("fft", {}).get(f)
            if cold and fft_one:
                self.say(f"  {os.path.basename(f)} cold no slower than ffmpegthumbnailer: {verdict(cold <= fft_one)}"
                         f" ({cold:.0f} ms against {fft_one:.0f} ms)")
        for f in self.files:
            twin = twin_of(f)
            if not twin or not warm:
                continue
            hdr, sdr = warm.get(f), warm.get(twin)
            ratio_ok = hdr is not None and sdr and hdr <= 1.3 * sdr
            self.say(f"  {os.path.basename(f)} <= 1.3 x its SDR twin: {verdict(ratio_ok)} ({fmt_ratio(hdr, sdr)})")
        server, lower = peaks
        for f in self.files:
            twin = twin_of(f)
            frame = self.frames.get(f)
            width, _, height = frame[9].partition("x") if frame else ("", "", "")
            size = int(width) * int(height) * 3 if width.isdigit() and height.isdigit() else 0
            if twin and f in server and twin in server and size:
                frame_mib = size / 2**20
                self.say(f"  {os.path.basename(f)} peak <= twin's + one frame: "
                         f"{verdict(server[f] <= server[twin] + frame_mib)}"
                         f" ({server[f]:.0f} MiB against {server[twin]:.0f} + {frame_mib:.0f})")
        over = [f"{os.path.basename(f)} {server[f]:.0f} against {lower[f]:.0f}" for f in self.files
                if is_large(f) and f in server and f in lower and server[f] > 1.1 * lower[f]]
        measured = [f for f in self.files if is_large(f) and f in server and f in lower]
        if measured:
            self.say(f"  server peak <= lower bound's + 10 % on every 4K and 8K file: {verdict(not over)}"
                     + (f" (over, MiB: {', '.join(over)})" if over else ""))
        eight_bit = by_name("hevc_4k_8bit.mp4")
        if eight_bit in server:
            self.say(f"  server peak on 4K 8-bit <= 200 MiB: {verdict(server[eight_bit] <= 200)}"
                     f" ({server[eight_bit]:.0f} MiB)")

if __name__ == "__main__":
    if len(sys.argv) != 3:
        print(__doc__, file=sys.stderr)
        sys.exit(2)
    sys.exit(Bench(sys.argv[1], sys.argv[2]).run())
