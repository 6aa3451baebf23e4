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
and two at a time, the tool's walk and its scored choice), then the hour-long file and its ten-minute cut (kept out
of the table above):
  sprites       a tile every 10 s at 320 px, 10 x 10 to a JPEG: thumbnail
                --sprites (a fresh process), the ffmpeg tool's fps, scale and
                tile filters (once: it decodes the whole hour, minutes on two
                cores; BENCH_SKIP_FFMPEG_SPRITES=1 leaves it out) and the
                lower bound's sprites, medians of BENCH_SPRITE_RUNS (default 3)
  contact sheet thumbnail --sheet 4x4, a fresh process
  peak memory   of the server, of the tool itself and of the lower bound,
                sprites of the hour
                against ten minutes
then single thumbnails at 256 px by the tool (its scored choice, and --walk),
a fresh process each, against ffmpegthumbnailer, and the performance targets, each met, missed or not
measured. A column whose program or option is missing is left out with a
line that says so. Results also go to BUILD_DIR/bench-results.txt; the batch
is held against the one in the results before it (BENCH_BASELINE names
another results file).
"""

import glob
import os
import re
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
# The server's walk, and the tool's default: the scored choice.
TOOL_BATCH = "thumbnail -j 2 -s 256 --walk"
CHOICE_BATCH = "thumbnail -j 2 -s 256, the scored choice"
SPRITE_RUNS = int(os.environ.get("BENCH_SPRITE_RUNS", "3"))
SKIP_FFMPEG_SPRITES = os.environ.get("BENCH_SKIP_FFMPEG_SPRITES", "") not in ("", "0")
SPRITE_INTERVAL_S = 10
SPRITE_EDGE = 320
# Made by copying one minute end to end: too long for the table's columns.
HOUR = "h264_1080p_1h.mp4"
TEN_MINUTES = "h264_1080p_10min.mp4"
# Single thumbnails at the tool's own size, against ffmpegthumbnailer.
SMALL_FILES = ("h264_1080p.mp4", "hevc_8k.mp4", "hevc_4k_hdr10.mkv", "hevc_4k_hdr10_sdrtwin.mkv",
               "hevc_1080p_hlg.mkv", "hevc_1080p_hlg_sdrtwin.mkv")


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


def timed_lines(command):
    """Wall seconds of one run of command (None when it fails) and the tab-separated lines it printed."""
    start = time.perf_counter()
    done = subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
    elapsed = time.perf_counter() - start
    return (elapsed if done.returncode == 0 else None), [line.split("\t") for line in done.stdout.splitlines() if line]


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


def read_lines(path):
    try:
        with open(path) as lines:
            return [line.strip() for line in lines]
    except OSError:
        return []


def median(values):
    values = [v for v in values if v is not None]
    return statistics.median(values) if values else None


def fmt_ms(value):
    return "-" if value is None else f"{value:.0f}" if value >= 100 else f"{value:.1f}"


def fmt_ratio(value, base):
    return "-" if value is None or not base else f"{value / base:.2f}"


def previous_batch_ratio(path):
    """The tool's batch rate against ffmpegthumbnailer two at a time in an earlier results file, or None."""
    try:
        with open(path) as earlier:
            text = earlier.read()
    except OSError:
        return None
    found = re.search(rf"^  {re.escape(TOOL_BATCH)}: .*?([0-9.]+) x its rate two at a time", text, re.M)
    return float(found.group(1)) if found else None


class Check:
    """One performance target: met (True), missed (False) or not measured (None), with its figures."""

    def __init__(self, text, ok, detail):
        self.text, self.ok, self.detail = text, ok, detail

    def line(self):
        verdict = "not measured" if self.ok is None else "met" if self.ok else "MISSED"
        return f"  {self.text}: {verdict}" + (f" ({self.detail})" if self.detail else "")


class Bench:
    def __init__(self, build, corpus):
        self.build = os.path.abspath(build)
        self.bin = os.path.join(self.build, "bin")
        self.corpus = os.path.abspath(corpus)
        listed = sorted(f for f in os.listdir(self.corpus) if not f.startswith("."))
        self.files = [os.path.join(self.corpus, f) for f in listed if f not in (HOUR, TEN_MINUTES)]
        self.long = {f: os.path.join(self.corpus, f) for f in listed if f in (HOUR, TEN_MINUTES)}
        self.lower_bound = self.tool("lower_bound")
        self.client = self.tool("bench_client")
        self.server = self.tool("thumbnail-server")
        self.thumbnail = self.tool("thumbnail")
        self.fft = shutil.which("ffmpegthumbnailer")
        self.ffmpeg = shutil.which("ffmpeg")
        self.peak_report = os.path.join(self.bin, "peak_report.so")
        self.scratch = os.path.join(self.build, "bench-scratch")
        os.makedirs(self.scratch, exist_ok=True)
        self.results = os.path.join(self.build, "bench-results.txt")
        self.baseline = os.environ.get("BENCH_BASELINE") or self.results
        self.previous_batch = previous_batch_ratio(self.baseline)
        self.tool_help = ""
        if self.thumbnail:
            self.tool_help = subprocess.run([self.thumbnail, "--help"], stdout=subprocess.PIPE,
                                            stderr=subprocess.STDOUT, text=True).stdout
        self.checks = []
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

    def offers(self, option):
        """Whether the tool's --help names option; says so when it does not."""
        if not self.thumbnail:
            return False
        if re.search(rf"(^|\s){re.escape(option)}\b", self.tool_help):
            return True
        self.say(f"  thumbnail has no {option} option: its columns are left out")
        return False

    def check(self, text, ok, detail=""):
        self.checks.append(Check(text, ok, detail))

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
        long_runs = {"sprites": self.sprites(), "sheet": self.sheet(), "memory": self.long_memory()}
        small = self.small_thumbnails()
        self.targets(medians, peaks, batch, long_runs, small)
        with open(self.results, "w") as out:
            out.write("\n".join(self.out) + "\n")
        log(f"results in {self.results}")
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

            def tool_run(*how):
                shutil.rmtree(output, ignore_errors=True)
                os.makedirs(output)
                seconds = wall([self.thumbnail, "-q", "-j", "2", "-s", "256", *how, "-o", output] + batch, False)
                written = len(os.listdir(output))
                if written < BATCH_SIZE:
                    log(f"batch: thumbnail wrote {written} of {BATCH_SIZE} pictures")
                return seconds
            results[TOOL_BATCH] = median(tool_run("--walk") for _ in range(BATCH_RUNS))
            log("batch: thumbnail -j 2, the scored choice")
            results[CHOICE_BATCH] = median(tool_run() for _ in range(BATCH_RUNS))
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

    def sprites(self):
        """Sprites of the hour: the tool, the ffmpeg tool and the lower bound, in seconds."""
        self.say()
        self.say(f"Sprites of {HOUR}, a tile every {SPRITE_INTERVAL_S} s, {SPRITE_EDGE} px wide, "
                 f"10 x 10 to a JPEG; medians of {SPRITE_RUNS} runs, each a fresh process")
        hour = self.long.get(HOUR)
        if not hour:
            self.say(f"  no {HOUR} in the corpus: left out")
            return {"missing": f"no {HOUR}"}
        found = {}
        tool = self.offers("--sprites")
        if not tool:
            found["missing tool"] = "thumbnail has no --sprites option"
        folder = os.path.join(self.scratch, "sprites")
        bound, inside, tool_runs, tiles = [], [], [], []
        for run in range(SPRITE_RUNS):
            log(f"sprites: round {run + 1} of {SPRITE_RUNS}")
            seconds, rows = timed_lines([self.lower_bound, "--sprites", str(SPRITE_INTERVAL_S), str(SPRITE_EDGE), hour])
            if seconds is not None and rows and len(rows[0]) >= 10:
                bound.append(seconds)
                inside.append(rows[0])
            if tool:
                shutil.rmtree(folder, ignore_errors=True)
                os.makedirs(folder)
                tool_runs.append(wall([self.thumbnail, "--sprites", "-o", folder, hour]))
                tiles.append(self.sprite_tiles(folder))
        if bound:
            row = inside[len(inside) // 2]
            found["lb"] = median(bound)
            self.say(f"  lower bound: {found['lb'] * 1000:.0f} ms as a process ({row[1]} tiles of {row[3]} on "
                     f"{row[2]} sheets); inside it {median(float(r[4]) for r in inside):.0f} ms for the frames "
                     f"(open {float(row[7]):.0f}, seek and decode {float(row[8]):.0f}, scale {float(row[9]):.0f}) "
                     f"and {median(float(r[5]) for r in inside):.0f} ms for the sheets' JPEG encoding")
        else:
            self.say("  lower bound: failed")
        if tool:
            found["tool"] = median(tool_runs)
            shown = "failed" if found["tool"] is None else f"{found['tool'] * 1000:.0f} ms"
            versus = f", {found['tool'] / found['lb']:.2f} x the lower bound" if found["tool"] and found.get("lb") else ""
            self.say(f"  thumbnail --sprites: {shown} ({', '.join(str(t) for t in tiles)} tiles in its WebVTT){versus}")
        if SKIP_FFMPEG_SPRITES:
            self.say("  ffmpeg: skipped (BENCH_SKIP_FFMPEG_SPRITES)")
            found["missing ffmpeg"] = "skipped by BENCH_SKIP_FFMPEG_SPRITES"
        elif self.ffmpeg:
            log("sprites: the ffmpeg tool decodes every frame of the hour, once: minutes on two cores")
            out = os.path.join(self.scratch, "ffmpeg-sprites")
            shutil.rmtree(out, ignore_errors=True)
            os.makedirs(out)
            found["ffmpeg"] = wall([self.ffmpeg, "-hide_banner", "-v", "error", "-nostdin", "-i", hour, "-vf",
                                    f"fps=1/{SPRITE_INTERVAL_S},scale={SPRITE_EDGE}:-2,tile=10x10",
                                    os.path.join(out, "OUT%03d.jpg")])
            shown = "failed" if found["ffmpeg"] is None else f"{found['ffmpeg']:.1f} s"
            versus = (f"; thumbnail --sprites is {found['ffmpeg'] / found['tool']:.0f} x faster"
                      if found["ffmpeg"] and found.get("tool") else "")
            self.say(f"  ffmpeg -vf fps=1/{SPRITE_INTERVAL_S},scale={SPRITE_EDGE}:-2,tile=10x10: {shown}, "
                     f"one run (it decodes every frame){versus}")
        return found

    @staticmethod
    def sprite_tiles(folder):
        """The cues of the WebVTT file the tool wrote under folder: one a tile."""
        for vtt in glob.glob(os.path.join(folder, "*", "thumbnails.vtt")):
            with open(vtt) as cues:
                return sum("-->" in line for line in cues)
        return 0

    def sheet(self):
        """A 4 x 4 contact sheet of the hour by a fresh tool and server, in seconds."""
        self.say()
        self.say(f"Contact sheet 4x4 of {HOUR}, medians of {RUNS} runs, each a fresh tool and server")
        hour = self.long.get(HOUR)
        if not hour:
            self.say(f"  no {HOUR} in the corpus: left out")
            return {"missing": f"no {HOUR}"}
        if not self.offers("--sheet"):
            return {"missing": "thumbnail has no --sheet option"}
        picture = os.path.join(self.scratch, "sheet.jpg")
        runs = []
        for _ in range(RUNS):
            if os.path.exists(picture):
                os.remove(picture)
            runs.append(wall([self.thumbnail, "--sheet", "4x4", "-o", picture, hour]))
        seconds = median(runs)
        self.say(f"  thumbnail --sheet 4x4: {'failed' if seconds is None else f'{seconds * 1000:.0f} ms'}")
        return {"seconds": seconds}

    def long_memory(self):
        """Peaks in MiB of the server, of the tool itself and of the lower bound, sprites of the hour and of ten minutes."""
        self.say()
        self.say(f"Peak resident memory making sprites, MiB: {HOUR} against {TEN_MINUTES}")
        if HOUR not in self.long or TEN_MINUTES not in self.long:
            self.say("  the long files are not in the corpus: left out")
            return {"missing": "the long files are not in the corpus"}
        if not self.offers("--sprites"):
            return {"missing": "thumbnail has no --sprites option"}
        if not os.path.exists(self.peak_report) or not self.server:
            self.say(f"  {self.peak_report} or the server is missing: left out")
            return {"missing": "peak_report.so or the server is missing"}
        # The server runs under GNU time, which appends its peak to a log; the
        # tool reports its own peak as it ends, apart from its server's.
        wrapper = os.path.join(self.scratch, "server-under-time")
        with open(wrapper, "w") as script:
            script.write("#!/bin/sh\n"
                         "log=$BENCH_SERVER_PEAK_LOG\n"
                         "unset LD_PRELOAD BENCH_PEAK_LOG BENCH_SERVER_PEAK_LOG\n"
                         f"exec /usr/bin/time -a -o \"$log\" -f %M {self.server} \"$@\"\n")
        os.chmod(wrapper, 0o755)
        found = {}
        for name in (TEN_MINUTES, HOUR):
            server_log = os.path.join(self.scratch, "server-peaks.txt")
            tool_log = os.path.join(self.scratch, "tool-peak.txt")
            for stale in (server_log, tool_log):
                if os.path.exists(stale):
                    os.remove(stale)
            folder = os.path.join(self.scratch, "sprites-memory")
            shutil.rmtree(folder, ignore_errors=True)
            os.makedirs(folder)
            env = dict(os.environ, THUMBNAIL_SERVER=wrapper, BENCH_SERVER_PEAK_LOG=server_log,
                       LD_PRELOAD=self.peak_report, BENCH_PEAK_LOG=tool_log)
            log(f"memory: sprites of {name}")
            tool = subprocess.Popen([self.thumbnail, "--sprites", "-o", folder, self.long[name]], env=env,
                                    stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            ok = tool.wait() == 0
            servers = [int(line) for line in read_lines(server_log) if line.isdigit()]
            own = [int(fields[1]) for fields in (line.split("\t") for line in read_lines(tool_log))
                   if len(fields) == 2 and fields[0] == str(tool.pid) and fields[1].isdigit()]
            # The same file's index and frames in the lower bound: what of a
            # long file's weight is the demuxer's own.
            bound = peak_kib([self.lower_bound, "--sprites", str(SPRITE_INTERVAL_S), str(SPRITE_EDGE), self.long[name]])
            found[name] = {"server": max(servers) / 1024 if servers and ok else None,
                           "tool": own[0] / 1024 if own and ok else None,
                           "lower bound": bound / 1024 if bound else None}
            cells = [f"{who} {'-' if mib is None else f'{mib:.0f}'}" for who, mib in found[name].items()]
            self.say(f"  {name}: " + ", ".join(cells) + ("" if ok else " (the tool failed)"))
        return found

    def small_thumbnails(self):
        """Single thumbnails at 256 px by a fresh tool and by ffmpegthumbnailer: medians in ms by file name."""
        self.say()
        self.say(f"Single thumbnails at 256 px, medians of {RUNS} runs, each a fresh process, milliseconds")
        files = [f for f in self.files if os.path.basename(f) in SMALL_FILES]
        if not self.thumbnail or not files:
            self.say("  no tool or none of the files: left out")
            return {}
        picture = os.path.join(self.scratch, "small.png")
        png = os.path.join(self.scratch, "ffmpegthumbnailer.png")
        runs = {f: {"tool": [], "walk": [], "fft": []} for f in files}
        for run in range(RUNS):
            log(f"256 px thumbnails: round {run + 1} of {RUNS}")
            for f in files:
                if os.path.exists(picture):
                    os.remove(picture)
                for who, how in (("tool", []), ("walk", ["--walk"])):
                    if os.path.exists(picture):
                        os.remove(picture)
                    runs[f][who].append(ms(wall([self.thumbnail, "-s", "256", *how, "-o", picture, f])))
                if self.fft:
                    runs[f]["fft"].append(ms(wall([self.fft, "-s", "256", "-i", f, "-o", png])))
        found = {os.path.basename(f): {who: median(times) for who, times in runs[f].items()} for f in files}
        lines = [["file", "thumbnail", "--walk", "fft", "x fft"]]
        for name, figures in found.items():
            lines.append([name, fmt_ms(figures["tool"]), fmt_ms(figures["walk"]), fmt_ms(figures["fft"]),
                          fmt_ratio(figures["tool"], figures["fft"])])
        widths = [max(len(row[i]) for row in lines) for i in range(len(lines[0]))]
        for row in lines:
            self.say("  " + "  ".join(cell.ljust(widths[i]) if i == 0 else cell.rjust(widths[i])
                                      for i, cell in enumerate(row)))
        return found

    def targets(self, med, peaks, batch, long_runs, small):
        """The performance targets, each with the figures that decide it."""
        check = self.check
        by_name = lambda name: next((f for f in self.files if os.path.basename(f) == name), None)
        warm, lb = med.get("warm", {}), med.get("lb", {})
        if warm:
            over = [f"{os.path.basename(f)} {fmt_ratio(warm.get(f), lb.get(f))}" for f in self.files
                    if warm.get(f) is None or not lb.get(f) or warm[f] > lb[f]]
            check("warm <= 1.0 x lower bound on every file", not over, f"over: {', '.join(over)}" if over else "")
        tool, fft_two = batch.get(TOOL_BATCH), batch.get(FFT_TWO)
        if tool and fft_two:
            check("batch >= 1.2 x the files/s of ffmpegthumbnailer two at a time", fft_two / tool >= 1.2,
                  f"{fft_two / tool:.2f}")
            # Against ffmpegthumbnailer's rate, which the machine's load moves
            # alike, a little noise allowed.
            before = self.previous_batch
            check("batch at least as fast as before", None if before is None else fft_two / tool >= 0.95 * before,
                  f"{fft_two / tool:.2f} x ffmpegthumbnailer two at a time, before {before:.2f} ({self.baseline})"
                  if before is not None else f"no earlier batch figure in {self.baseline}")
        choice = batch.get(CHOICE_BATCH)
        if tool and choice:
            check("batch of the scored choice no slower than the walk's", choice <= tool,
                  f"{choice:.2f} s against {tool:.2f} s, {choice / tool:.2f} x")
        h264 = by_name("h264_1080p.mp4")
        cold, fft_one = med.get("cold", {}).get(h264), med.get("fft", {}).get(h264)
        if cold and fft_one:
            check("cold 1080p H.264 <= one ffmpegthumbnailer run", cold <= fft_one,
                  f"{cold:.0f} ms against {fft_one:.0f} ms")
        dark = by_name("hevc_4k_dark.mp4")
        if warm and dark:
            worst = warm.get(dark)
            check("all eight positions on the dark 4K HEVC file under 1.5 s", worst is not None and worst < 1500,
                  f"{fmt_ms(worst)} ms")
        for f in self.files:
            if "8k" not in os.path.basename(f):
                continue
            cold, fft_one = med.get("cold", {}).get(f), med.get("fft", {}).get(f)
            if cold and fft_one:
                check(f"{os.path.basename(f)} cold no slower than ffmpegthumbnailer", cold <= fft_one,
                      f"{cold:.0f} ms against {fft_one:.0f} ms")
        for f in self.files:
            twin = twin_of(f)
            if not twin or not warm:
                continue
            hdr, sdr = warm.get(f), warm.get(twin)
            check(f"{os.path.basename(f)} <= 1.3 x its SDR twin", hdr is not None and bool(sdr) and hdr <= 1.3 * sdr,
                  fmt_ratio(hdr, sdr))
        server, lower = peaks
        for f in self.files:
            twin = twin_of(f)
            frame = self.frames.get(f)
            width, _, height = frame[9].partition("x") if frame else ("", "", "")
            size = int(width) * int(height) * 3 if width.isdigit() and height.isdigit() else 0
            if twin and f in server and twin in server and size:
                frame_mib = size / 2**20
                check(f"{os.path.basename(f)} peak <= twin's + one frame", server[f] <= server[twin] + frame_mib,
                      f"{server[f]:.0f} MiB against {server[twin]:.0f} + {frame_mib:.0f}")
        over = [f"{os.path.basename(f)} {server[f]:.0f} against {lower[f]:.0f}" for f in self.files
                if is_large(f) and f in server and f in lower and server[f] > 1.1 * lower[f]]
        if any(is_large(f) and f in server and f in lower for f in self.files):
            check("server peak <= lower bound's + 10 % on every 4K and 8K file", not over,
                  f"over, MiB: {', '.join(over)}" if over else "")
        eight_bit = by_name("hevc_4k_8bit.mp4")
        if eight_bit in server:
            check("server peak on 4K 8-bit <= 200 MiB", server[eight_bit] <= 200, f"{server[eight_bit]:.0f} MiB")
        self.long_targets(long_runs)
        self.small_targets(small)

        self.say()
        self.say("Targets")
        for line in self.checks:
            self.say(line.line())
        met = sum(c.ok is True for c in self.checks)
        missed = [c.text for c in self.checks if c.ok is False]
        unmeasured = [c.text for c in self.checks if c.ok is None]
        self.say(f"{met} of {len(self.checks)} targets met; {len(missed)} missed"
                 + (f" ({'; '.join(missed)})" if missed else "")
                 + f"; {len(unmeasured)} not measured" + (f" ({'; '.join(unmeasured)})" if unmeasured else ""))

    def long_targets(self, long_runs):
        """The targets of the sprites, the contact sheet and the long files' memory."""
        check = self.check
        sprites = long_runs["sprites"]
        tool, ffmpeg, lb = sprites.get("tool"), sprites.get("ffmpeg"), sprites.get("lb")
        why = sprites.get("missing") or sprites.get("missing tool")
        check("sprites of the hour: thumbnail >= 50 x faster than ffmpeg's filters",
              None if not (tool and ffmpeg) else ffmpeg / tool >= 50,
              f"{ffmpeg / tool:.0f} x" if tool and ffmpeg else why or sprites.get("missing ffmpeg") or "a run failed")
        check("sprites of the hour: thumbnail <= 1.2 x the lower bound (frames and JPEG)",
              None if not (tool and lb) else tool <= 1.2 * lb,
              f"{tool * 1000:.0f} ms against {lb * 1000:.0f} ms, {tool / lb:.2f} x" if tool and lb
              else why or "a run failed")
        sheet = long_runs["sheet"]
        seconds = sheet.get("seconds")
        check("contact sheet 4x4 of the hour, cold, under 0.5 s", None if seconds is None else seconds < 0.5,
              f"{seconds * 1000:.0f} ms" if seconds is not None else sheet.get("missing", "the runs failed"))
        memory = long_runs["memory"]
        for who in ("server", "tool"):
            hour, ten = (memory.get(name, {}).get(who) for name in (HOUR, TEN_MINUTES))
            check(f"{who} peak, sprites of the hour within 10 % of ten minutes'",
                  None if not (hour and ten) else abs(hour - ten) <= 0.1 * ten,
                  f"{hour:.0f} MiB against {ten:.0f} MiB" if hour and ten
                  else memory.get("missing", "not read"))

    def small_targets(self, small):
        """The targets of single thumbnails at 256 px."""
        h264 = small.get("h264_1080p.mp4", {})
        if h264.get("tool") and h264.get("fft"):
            self.check("h264_1080p.mp4 at 256 px, the tool's scored choice, no slower than ffmpegthumbnailer",
                       h264["tool"] <= h264["fft"], f"{h264['tool']:.0f} ms against {h264['fft']:.0f} ms"
                       f" (the walk {fmt_ms(h264.get('walk'))} ms)")
        for name, figures in small.items():
            if "8k" in name and figures["tool"] and figures["fft"]:
                self.check(f"{name} at 256 px, cold tool, no slower than ffmpegthumbnailer -s 256",
                           figures["tool"] <= figures["fft"],
                           f"{figures['tool']:.0f} ms against {figures['fft']:.0f} ms")
        hdr, sdr = small.get("hevc_4k_hdr10.mkv", {}).get("tool"), small.get("hevc_4k_hdr10_sdrtwin.mkv", {}).get("tool")
        if hdr and sdr:
            self.check("hevc_4k_hdr10.mkv at 256 px <= 1.1 x its SDR twin", hdr <= 1.1 * sdr,
                       f"{hdr:.0f} ms against {sdr:.0f} ms, {hdr / sdr:.2f} x")


if __name__ == "__main__":
    if len(sys.argv) != 3:
        print(__doc__, file=sys.stderr)
        sys.exit(2)
    sys.exit(Bench(sys.argv[1], sys.argv[2]).run())
