#!/usr/bin/env python3
"""Kills praxilo-cli again and again at random moments while it flashes sixteen rows on the farm and publishes to
a broker, restarts it each time on the same record folder and farm, ends with a clean run, then checks
(kill_check.py) that every session the farm saw has exactly one record and every record one session, identical
in JSONL, CSV and station.db, with exactly one WorkCompleted at the broker, and no OK the farm did not see.

Short form as CTest runs it:  tests/soak/kill_campaign.py --out build/out --work /tmp/kill --kills 5
Campaign:                     tests/soak/kill_campaign.py --out build/out --work /tmp/kill --kills 40
The seed is printed; --seed replays the same choice of moments (the moments themselves depend on the machine).
"""
import argparse
import json
import os
import random
import signal
import subprocess
import sys
import threading
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import kill_check  # noqa: E402
import soak  # noqa: E402

QUEUE = "kill"
# Rows never reach this many good devices before their kill.
ENDLESS = 1000000


class Broker:
    """The test broker behind pxl_soak_broker, for as long as the campaign holds it."""

    def __init__(self, out, folder):
        self.process = subprocess.Popen([os.path.join(out, "pxl_soak_broker"), folder], stdin=subprocess.PIPE,
                                        stdout=subprocess.PIPE, text=True)
        answer = json.loads(self.process.stdout.readline() or '{"error": "pxl_soak_broker said nothing"}')
        if "url" not in answer:
            self.close()
            raise RuntimeError("the broker did not start: " + answer.get("error", ""))
        self.url = answer["url"]

    def read(self, queue, path):
        self.process.stdin.write(f"read {queue} {path}\n")
        self.process.stdin.flush()
        return json.loads(self.process.stdout.readline())

    def close(self):
        self.process.stdin.close()
        try:
            self.process.wait(60)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()


class StationRun:
    """One start of the tool, killed with SIGKILL after `records` records and `delay` seconds more (records 0:
    `delay` seconds after its start, which may fall in its start-up and the closing of what the last kill left)."""

    def __init__(self, args, env, rows, command):
        self.result = {"begin": soak.now(), "rows": list(rows), "killed": False}
        self.process = soak.start_cli(args, env, command)
        self.records = 0
        self.timer = None
        self.lock = threading.Lock()

    def kill(self):
        with self.lock:
            if self.process.poll() is None and not self.result["killed"]:
                self.process.send_signal(signal.SIGKILL)
                self.result["killed"] = True
                self.result["end"] = soak.now()

    def arm(self, delay):
        self.timer = threading.Timer(delay, self.kill)
        self.timer.start()

    def wait(self, records, delay, limit):
        if records == 0:
            self.arm(delay)
        watchdog = threading.Timer(limit, self.process.kill)
        watchdog.start()
        for line in self.process.stdout:
            event = json.loads(line)
            if event.get("event") == "record":
                self.records += 1
                if self.records == records:
                    self.arm(delay)
            elif event.get("event") == "summary":
                self.result["summary"] = event
        code = self.process.wait()
        watchdog.cancel()
        if self.timer:
            self.timer.cancel()
        self.result.setdefault("end", soak.now())
        self.result.update(exitCode=code, recordsSeen=self.records)
        return self.result


def moment(chance, rows):
    """A quarter of the kills come within the first two seconds, by the clock alone; the rest after a number of
    records and a pause of up to a tenth of a second, so they fall anywhere in an attempt."""
    if chance.random() < 0.25:
        return 0, chance.uniform(0, 2.0)
    return chance.randint(1, 4 * rows), chance.uniform(0, 0.1)


def campaign(args, env, broker):
    chance = random.Random(args.seed)
    extra = ["--broker", broker.url]
    rows = range(1, args.rows + 1)
    runs = []
    for kill in range(args.kills):
        records, delay = moment(chance, args.rows)
        run = StationRun(args, env, rows, soak.cli_command(args, rows, ENDLESS) + extra)
        result = run.wait(records, delay, args.limit)
        runs.append(result)
        print(f"kill {kill + 1}/{args.kills}: after {result['recordsSeen']} records "
              f"(aimed at {records} + {delay:.3f} s), exit {result['exitCode']}", flush=True)
        if not result["killed"]:
            raise RuntimeError(f"run {kill + 1} ended by itself with {result['exitCode']} before its kill")
    # A clean start closes what the last kill left and hands every message over, then ends each row after one
    # good device.
    final = StationRun(args, env, rows, soak.cli_command(args, rows, 1) + extra)
    result = final.wait(None, 0, args.limit)
    runs.append(result)
    print(f"clean run: exit {result['exitCode']}", flush=True)
    if result["exitCode"] not in (0, 1):
        raise RuntimeError(f"the clean run ended with {result['exitCode']}")
    return runs


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--out", required=True, help="the build's output folder (praxilo-cli, pxl_sample_load, "
                                                     "pxl_soak_broker)")
    parser.add_argument("--work", required=True, help="a scratch folder; emptied first")
    parser.add_argument("--kills", type=int, default=40)
    parser.add_argument("--seed", type=int, help="default: a new one, printed")
    parser.add_argument("--rows", type=int, default=16)
    parser.add_argument("--load-mib", type=int, default=4)
    parser.add_argument("--fault-rate", type=float, default=0.05)
    parser.add_argument("--answer-timeout-ms", type=int, default=1000)
    parser.add_argument("--swap-failed-after", type=int, default=2)
    parser.add_argument("--limit", type=float, default=120, help="seconds any one run may take")
    args = parser.parse_args(argv)
    if args.seed is None:
        args.seed = random.SystemRandom().randrange(1 << 31)
    print(f"seed {args.seed}", flush=True)
    args.out, args.work = os.path.abspath(args.out), os.path.abspath(args.work)
    args.time_scale = "0"
    began = time.monotonic()
    env = soak.prepare(args, f"[Factory]\nAddress=/queue/{QUEUE}\nEndpointHandle=Kill.Station\n")
    broker = Broker(args.out, os.path.join(args.work, "broker"))
    try:
        runs = campaign(args, env, broker)
        with open(os.path.join(args.work, "runs.json"), "w") as out:
            json.dump(runs, out, indent=1)
        read = broker.read(QUEUE, os.path.join(args.work, "messages.jsonl"))
    finally:
        broker.close()
    if read.get("error"):
        print(f"reading the broker: {read['error']}", file=sys.stderr)
        return 1
    counts = kill_check.check(args.work)
    print(f"{time.monotonic() - began:.0f} s, {read['read']} messages at the broker", flush=True)
    return 1 if kill_check.failed(counts) else 0


if __name__ == "__main__":
    sys.exit(main())
