#!/usr/bin/env python3
"""Runs praxilo-cli on the simulated farm with seeded faults, interrupts and restarts it, then checks the
station record against the farm's ledger (soak_check.py).

Short run as CI does it:  tests/soak/soak.py --out build/out --work /tmp/soak
Long run:                 tests/soak/soak.py --out build/out --work /tmp/soak-long --devices 1000 --fault-rate 0.05
"""
import argparse
import collections
import datetime
import json
import os
import random
import shutil
import signal
import subprocess
import sys
import threading
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import soak_check  # noqa: E402


MARGIN = 3



def now():
    return datetime.datetime.now(datetime.timezone.utc).strftime("%Y-%m-%dT%H:%M:%S.%f")[:-3] + "Z"


def sample(pid, work):
    """Threads, open files and resident memory of the process, from /proc. Files that one attempt opens
    and closes again (images being streamed, the record being appended, the feedback file) are left out."""
    passing = tuple(os.path.join(work, name) + "/" for name in ("load", "record", "Tmp"))
    try:
        with open(f"/proc/{pid}/status") as status:
            fields = dict(line.split(":", 1) for line in status if ":" in line)
        files = 0
        for fd in os.listdir(f"/proc/{pid}/fd"):
            try:
                target = os.readlink(f"/proc/{pid}/fd/{fd}")
            except OSError:
                continue
            if not target.startswith(passing) and not target.endswith("(deleted)"):
                files += 1
        return {"threads": int(fields["Threads"]), "files": files, "rssKiB": int(fields["VmRSS"].split()[0])}
    except (OSError, KeyError, ValueError):
        return None


class MemoryLevel:
    """Resident memory of one run: the median of the first and of the last `window` samples taken once the run has
    made `warmup` attempts per row (counted over all rows: a row that meets a few hanging devices lags far behind
    the others, yet the memory settles with the attempts of the whole tool). Small blocks (caches, the database's pages, each worker's arena) still settle over
    the first ~3 000 attempts of 16 rows (17 to 19.3 MiB, flat after that), and a single sample catches whatever
    buffers the rows have in flight at that moment (up to 2 MiB more), so neither the run's first sample nor one
    sample alone is its level."""

    def __init__(self, rows, warmup, window):
        self.attempts = {row: 0 for row in rows}
        self.warmup, self.window = warmup, window
        self.first, self.last, self.samples = [], collections.deque(maxlen=window), 0

    def attempt(self, row):
        self.attempts[row] += 1

    def settled(self):
        return sum(self.attempts.values()) >= self.warmup * len(self.attempts)

    def add(self, rss_kib):
        if not self.settled():
            return
        self.samples += 1
        if len(self.first) < self.window:
            self.first.append(rss_kib)
        self.last.append(rss_kib)

    def result(self):
        """None until the two windows are made of different samples."""
        if self.samples < 2 * self.window:
            return None
        return {"firstKiB": median(self.first), "lastKiB": median(self.last), "samples": self.samples,
                "warmupPerRow": self.warmup, "window": self.window}


def median(values):
    ordered = sorted(values)
    middle = len(ordered) // 2
    return ordered[middle] if len(ordered) % 2 else (ordered[middle - 1] + ordered[middle]) // 2


class Run:
    """One start of the tool: reads its JSON events, samples /proc at each record, stops it when told."""

    def __init__(self, args, env, rows, devices, stop_after, kill):
        self.args, self.stop_after, self.kill = args, stop_after, kill
        self.result = {"begin": now(), "rows": rows, "devices": devices, "interrupted": False, "killed": False}
        self.process = start_cli(args, env, cli_command(args, rows, devices))
        self.records = 0
        self.ok = {row: 0 for row in rows}
        self.seen = set()
        self.steady = True  # every row still working and no signal sent yet
        self.memory = MemoryLevel(rows, args.warmup, args.window)

    def wait(self, limit):
        timer = threading.Timer(limit, self.process.kill)
        timer.start()
        for line in self.process.stdout:
            event = json.loads(line)
            if event.get("event") == "record":
                self.records += 1
                row = event["row"]
                self.ok[row] += event["result"] == "OK"
                self.memory.attempt(row)
                # A row that reaches its count ends its worker, and its last records may still be on their way
                # here, so sampling stops while every row still has a few devices to go.
                self.steady = self.steady and self.ok[row] < self.result["devices"] - MARGIN
                # The first sample waits until every row has finished an attempt, so start-up allocations are done.
                self.seen.add(row)
                measured = sample(self.process.pid, self.args.work) if self.steady else None
                if measured:
                    rss = measured.pop("rssKiB")
                    if not self.args.ignore_memory:
                        self.memory.add(rss)
                if measured and len(self.seen) == len(self.ok):
                    self.result.setdefault("first", measured)
                    self.result["last"] = measured
                if self.records == self.stop_after:
                    self.steady = False
                    self.result["interrupted" if not self.kill else "killed"] = True
                    if self.kill:
                        self.result["end"] = now()
                        self.process.send_signal(signal.SIGKILL)
                    else:
                        self.process.send_signal(signal.SIGINT)
            elif event.get("event") == "summary":
                self.result["summary"] = event
        code = self.process.wait()
        timer.cancel()
        self.result.setdefault("end", now())
        self.result["exitCode"] = code
        if self.memory.result():
            self.result["memory"] = self.memory.result()
        return self.result


def cli_command(args, rows, devices, auto_polling=True):
    """The tool on the work folder's load, settings and record, on the given rows."""
    command = [os.path.join(args.out, "praxilo-cli"), "--flash-xml", os.path.join(args.work, "load", "flash.xml"),
               "--settings", os.path.join(args.work, "station.ini"), "--scene", "format-download",
               "--checksum-level", "2", "--json", "--record", os.path.join(args.work, "record"),
               "--ports", ",".join(str(r) for r in rows)]
    if auto_polling:
        # Every row must reach its count for the ledger to be checked whole: no row leaves by itself.
        command += ["--auto-polling", "--devices", str(devices), "--quarantine-after", "0"]
    return command


def start_cli(args, env, command):
    with open(os.path.join(args.work, "cli-stderr.log"), "a") as errors:
        # The tool keeps its temporary files in its working folder.
        return subprocess.Popen(command, env=env, cwd=args.work, stdout=subprocess.PIPE, stderr=errors)


def prepare(args, station_settings=""):
    """A fresh work folder: the load, the station's settings (with station_settings added), the farm."""
    shutil.rmtree(args.work, ignore_errors=True)
    os.makedirs(os.path.join(args.work, "record"))
    subprocess.run([os.path.join(args.out, "pxl_sample_load"), "--out", os.path.join(args.work, "load"),
                    "--size", f"{args.load_mib}M", "--seed", str(args.seed)], check=True, stdout=subprocess.DEVNULL)
    with open(os.path.join(args.work, "station.ini"), "w") as station:
        station.write("[DownloadSetting]\nAutoPollingEnabled=false\n" + station_settings)
    with open(os.path.join(args.work, "farm.ini"), "w") as farm:
        farm.write(f"[Farm]\nPorts={args.rows}\nTimeScale={args.time_scale}\nLinkMBps=0\nArrivalMs=0\nArrivalStepMs=0\n"
                   f"SwapMs=0\nLedger={os.path.join(args.work, 'ledger.jsonl')}\nFaultRate={args.fault_rate}\n"
                   f"FaultSeed={args.seed}\nAnswerTimeoutMs={args.answer_timeout_ms}\n"
                   f"SwapFailedAfter={args.swap_failed_after}\n")
    env = dict(os.environ, QUILLON_FARM=os.path.join(args.work, "farm.ini"),
               XDG_DATA_HOME=os.path.join(args.work, "data"))
    return env


def remaining(args):
    """Good devices each row still needs, from the station record so far."""
    done = {row: 0 for row in range(1, args.rows + 1)}
    for record in soak_check.read_records(os.path.join(args.work, "record")):
        if record["result"] == "OK":
            done[record["row"]] = done.get(record["row"], 0) + 1
    return {row: args.devices - count for row, count in done.items() if count < args.devices}


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--out", required=True, help="the build's output folder (praxilo-cli, pxl_sample_load)")
    parser.add_argument("--work", required=True, help="a scratch folder; emptied first")
    parser.add_argument("--rows", type=int, default=16)
    parser.add_argument("--devices", type=int, default=10, help="good devices per row")
    parser.add_argument("--load-mib", type=int, default=16)
    parser.add_argument("--fault-rate", type=float, default=0.1)
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--time-scale", default="0")
    parser.add_argument("--answer-timeout-ms", type=int, default=1000)
    parser.add_argument("--swap-failed-after", type=int, default=2)
    parser.add_argument("--interrupts", type=int, default=1, help="runs ended by SIGINT and restarted")
    parser.add_argument("--kills", type=int, default=1, help="runs ended by SIGKILL and restarted")
    parser.add_argument("--limit", type=float, default=900, help="seconds any one run may take")
    parser.add_argument("--warmup", type=int, default=200,
                        help="attempts per row, over all rows, before resident memory is sampled (see MemoryLevel)")
    parser.add_argument("--window", type=int, default=32, help="samples in each of a run's two memory medians")
    parser.add_argument("--ignore-memory", action="store_true",
                        help="leave resident memory out (a sanitizer's shadow memory grows with every new address)")
    args = parser.parse_args(argv)
    args.out, args.work = os.path.abspath(args.out), os.path.abspath(args.work)
    env = prepare(args)
    chance = random.Random(args.seed)
    endings = ["interrupt"] * args.interrupts + ["kill"] * args.kills
    chance.shuffle(endings)
    runs = []
    while True:
        left = remaining(args)
        if not left:
            break
        if len(runs) > len(endings) + args.rows + 2:
            print("the rows did not finish: " + json.dumps(left), file=sys.stderr)
            return 1
        ending = endings[len(runs)] if len(runs) < len(endings) else None
        devices = min(left.values())
        # A random moment within this run's expected records.
        stop_after = chance.randint(1, max(1, devices * len(left) // 2)) if ending else 0
        run = Run(args, env, sorted(left), devices, stop_after, ending == "kill")
        result = run.wait(args.limit)
        runs.append(result)
        expected = {None: (0, 1), "interrupt": (130,), "kill": (-signal.SIGKILL,)}[ending]
        if result["exitCode"] not in expected:
            print(f"run {len(runs)} ended with {result['exitCode']}, expected {expected}", file=sys.stderr)
            with open(os.path.join(args.work, "cli-stderr.log"), errors="replace") as errors:
                lines = errors.read().splitlines()
            reports = [i for i, line in enumerate(lines) if "Sanitizer" in line]
            first = reports[0] if reports else max(0, len(lines) - 40)
            print("\n".join(lines[first:first + 80]), file=sys.stderr)
            return 1
    with open(os.path.join(args.work, "runs.json"), "w") as out:
        json.dump(runs, out, indent=1)
    return soak_check.main(["--ledger", os.path.join(args.work, "ledger.jsonl"),
                            "--record", os.path.join(args.work, "record"),
                            "--runs", os.path.join(args.work, "runs.json"), "--journal"])


if __name__ == "__main__":
    sys.exit(main())
