#!/usr/bin/env python3
"""The record's disk below [Station] MinFreeMB under praxilo-cli: the line pauses before its next devices, says so
once (stderr, JSON), goes on by itself with room, and the journal never meets the full disk. Mounts its tmpfs as
full_disk.py does (exit 77 where it cannot).   tests/soak/disk_floor.py --out build/out --work /tmp/disk-floor"""
import json
import os
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import full_disk  # noqa: E402
import soak  # noqa: E402
import soak_check  # noqa: E402

FLOOR_MB, ROWS, DEVICES = 8, 4, 40
LOW, ROOM = "praxilo-cli: The disk of {} has ", "praxilo-cli: The disk of {} has room again"


class Station(full_disk.Station):
    def __init__(self, *args):
        self.disk, self.records = [], 0  # before the reader starts
        super().__init__(*args)

    def read(self):
        for line in self.process.stdout:
            event = json.loads(line)
            self.records += event.get("event") == "record"
            self.disk += [event] if event.get("event") == "disk" else []
            self.summary = event if event.get("event") == "summary" else self.summary

    def lines(self, text):
        # Anywhere in a line: a console line of the log's that lacks its end of line may come first.
        with open(self.errors, errors="replace") as errors:
            return [line for line in errors if text in line]


def run(args, env):
    record = os.path.join(args.work, "record")
    low, room = LOW.format(record), ROOM.format(record)
    station = Station(args, env, "floor", range(1, ROWS + 1), DEVICES)
    full_disk.await_condition(lambda: station.records >= ROWS, "the first records", station.process)
    # Down to a few MB in one go: running the disk full on the way, as full_disk's filler does, could fail a commit.
    disk = os.statvfs(record)
    with open(os.path.join(record, full_disk.FILLER), "wb") as filler:
        filler.write(bytes(disk.f_bavail * disk.f_frsize - 3 * 1024 * 1024))
    paused = station.await_line(low)
    time.sleep(2)  # a port starting devices regardless would leave sessions in the ledger meanwhile
    freed = soak.now()
    os.remove(os.path.join(record, full_disk.FILLER))
    station.await_line(room)
    code = station.end()
    pauses = station.said(low) - station.said(room)  # the room line begins as the pause line does
    _, sessions = soak_check.read_ledger(os.path.join(args.work, "ledger.jsonl"))
    # A port that passed its look before the disk came down may still claim its device; none claims another.
    claimed = [s for s in sessions if soak_check.stamp(paused) <= s.claimed <= soak_check.stamp(freed)]
    ok = sum(1 for attempt in soak_check.read_records(record) if attempt["result"] == "OK")
    states = [(event["state"], event["folder"], event["floorMB"], event["freeMB"] < FLOOR_MB) for event in station.disk]
    checks = {f"exit {code}": code == 0, f"{pauses} pause and {station.said(room)} room lines": (pauses, station.said(room)) == (1, 1),
              "the journal met the full disk": not station.said(full_disk.TROUBLE.format(record)),
              f"disk events {station.disk}": states == [("low", record, FLOOR_MB, True), ("room", record, FLOOR_MB, False)],
              f"{len(claimed)} sessions began while paused": len(claimed) <= ROWS, f"{ok} OK devices": ok == ROWS * DEVICES}
    failed = [what for what, good in checks.items() if not good]
    if failed:
        raise full_disk.Failure("; ".join(failed))
    print(f"paused and went on; {full_disk.check_stores(record)} attempts in all three stores", flush=True)


def main():
    args = full_disk.argparse.Namespace(out=os.path.abspath(sys.argv[sys.argv.index("--out") + 1]),
                                        work=os.path.abspath(sys.argv[sys.argv.index("--work") + 1]), load_mib=1, seed=1,
                                        time_scale="0", fault_rate=0, answer_timeout_ms=1000, swap_failed_after=2, rows=ROWS)
    if "--inside" not in sys.argv:
        why = full_disk.mountable()
        if why:
            print(f"skipped: {why}")
            return full_disk.SKIP
        return subprocess.run(["unshare", "-rm", sys.executable] + sys.argv + ["--inside"]).returncode
    env = soak.prepare(args, f"[Station]\nMinFreeMB={FLOOR_MB}\n")
    subprocess.run(["mount", "-t", "tmpfs", "-o", "size=24m", "tmpfs", os.path.join(args.work, "record")], check=True)
    try:
        run(args, env)
        return 0
    except full_disk.Failure as failure:
        print(f"FAILED: {failure}", file=sys.stderr)
        return 1


if __name__ == "__main__":
    sys.exit(main())
