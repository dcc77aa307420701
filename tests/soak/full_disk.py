#!/usr/bin/env python3
"""Fills the station record's disk under praxilo-cli and checks that the line stops, goes on once there is room,
and gives up on a stop, with nothing torn or lost. The record folder is a small tmpfs mounted in a user and mount
namespace of its own, filled up by a filler file that is deleted to make room.

    tests/soak/full_disk.py --out build/out --work /tmp/full-disk

Phase A: the disk fills during a run; the trouble line comes, the filler goes, "written again" comes; later the disk
fills again where only the day files need room, so their appends fail and are caught up; the run ends with every
attempt in the database, the JSONL and the CSV alike, nothing left unfiled, and every farm session recorded. Phase B: the disk fills again, the run is stopped while it waits: exit code 3, the summary counts the
unrecorded attempts, no torn line; a last run on a freed disk files whatever the day files still lack.
Exit code 77: this machine cannot mount a file system for the test (the reason is printed).
"""
import argparse
import csv
import errno
import glob
import json
import os
import shutil
import signal
import sqlite3
import subprocess
import sys
import tempfile
import threading
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import kill_check  # noqa: E402
import soak  # noqa: E402
import soak_check  # noqa: E402

SKIP = 77
# The tool's own lines, not the log's copies of them.
TROUBLE = "praxilo-cli: The station record cannot be written to {}: "
WAITING = ". No port goes on until it can; trying again every 3 s"
RECOVERED = "praxilo-cli: the station record is written again; the ports go on."
# The log's line, on stderr as well, when a day file misses a record the journal has.
DAY_FILE_FAILED = "Station day file not written"
WAL_PAGES = 1000
# The database writes ahead up to a thousand pages (4 MiB) before it folds them in, so the freed disk must hold that.
DISK = "8m"
# Room left beside the filler: the tool starts and fills it within its first few attempts.
MARGIN = 128 * 1024
FILLER = ".filler"
ENDLESS = 1000000
BOUND = 60  # seconds any awaited line or run end may take


class Failure(Exception):
    pass


def await_condition(condition, what, process=None):
    deadline = time.monotonic() + BOUND
    while not condition():
        if (process and process.poll() is not None) or time.monotonic() > deadline:
            raise Failure(f"waited in vain for {what}")
        time.sleep(0.05)


def page_size(wal):
    with open(wal, "rb") as header:
        return int.from_bytes(header.read(12)[8:], "big")


def mountable():
    """Empty when this machine lets an unprivileged test mount a tmpfs in namespaces of its own; else why not."""
    if shutil.which("unshare") is None:
        return "no unshare command"
    with tempfile.TemporaryDirectory() as probe:
        done = subprocess.run(["unshare", "-rm", "mount", "-t", "tmpfs", "-o", "size=64k", "tmpfs", probe],
                              capture_output=True, text=True)
    return "" if done.returncode == 0 else "unshare -rm mount -t tmpfs failed: " + done.stderr.strip()


def fill(record, margin=MARGIN):
    """Writes the filler until the disk is full, then gives margin back."""
    # Unbuffered: a buffer would hold what the disk refused and fail again at the truncation and the close.
    with open(os.path.join(record, FILLER), "wb", buffering=0) as filler:
        block = bytes(64 * 1024)
        try:
            while True:
                filler.write(block)
        except OSError as error:
            if error.errno != errno.ENOSPC:
                raise
        filler.truncate(max(0, filler.tell() - margin))


class Station:
    """One start of the tool: stdout read on a thread (its JSON events), stderr in a file watched for lines."""

    def __init__(self, args, env, phase, rows, devices):
        self.errors = os.path.join(args.work, f"cli-stderr-{phase}.log")
        with open(self.errors, "w") as errors:
            self.process = subprocess.Popen(soak.cli_command(args, rows, devices), env=env, cwd=args.work,
                                            stdout=subprocess.PIPE, stderr=errors, text=True)
        self.summary, self.begin, self.events = None, soak.now(), []
        self.reader = threading.Thread(target=self.read)
        self.reader.start()

    def read(self):
        for line in self.process.stdout:
            event = json.loads(line)
            self.events.append(event)
            if event.get("event") == "summary":
                self.summary = event

    def lines(self, text):
        with open(self.errors, errors="replace") as errors:
            return [line for line in errors if line.startswith(text)]

    def said(self, text):
        return len(self.lines(text))

    def await_line(self, text):
        await_condition(lambda: self.said(text), f"\"{text}\" in {self.errors}", self.process)
        return soak.now()

    def end(self):
        try:
            code = self.process.wait(BOUND)
        except subprocess.TimeoutExpired:
            self.process.kill()
            raise Failure(f"the tool did not end within {BOUND} s, see {self.errors}")
        self.reader.join()
        return code


def day_lines(record):
    """The JSONL lines, all of which must parse, and the CSV rows, each as long as its file's header."""
    attempts = []
    for path in glob.glob(os.path.join(record, "station-*.jsonl")):
        with open(path, encoding="utf-8") as lines:
            for number, line in enumerate(lines, 1):
                try:
                    attempts.append(json.loads(line)["attempt"])
                except (ValueError, KeyError):
                    raise Failure(f"{os.path.basename(path)} line {number} is torn: {line[:120]!r}")
    rows = 0
    for path in kill_check.day_files(record, "station-*.csv"):
        with open(path, encoding="utf-8", newline="") as lines:
            table = list(csv.reader(lines))
        for number, row in enumerate(table[1:], 2):
            if len(row) != len(table[0]):
                raise Failure(f"{os.path.basename(path)} row {number} has {len(row)} fields, its header {len(table[0])}")
        rows += len(table) - 1
    return attempts, rows


def check_stores(record):
    """The database, the JSONL and the CSV hold the same attempts, and nothing waits to be filed."""
    attempts, rows = day_lines(record)
    database = sqlite3.connect(f"file:{os.path.join(record, 'station.db')}?mode=ro", uri=True)
    try:
        journal = {row[0] for row in database.execute("SELECT attempt_uid FROM attempt")}
        unfiled = database.execute("SELECT COUNT(*) FROM unfiled").fetchone()[0]
    finally:
        database.close()
    if len(journal) != len(attempts) or set(attempts) != journal or rows != len(journal) or unfiled:
        raise Failure(f"database {len(journal)} attempts, JSONL {len(attempts)} ({len(set(attempts) ^ journal)} "
                      f"not in both), CSV {rows}, unfiled {unfiled}")
    return len(journal)


def phase_a(args, env):
    record = os.path.join(args.work, "record")
    trouble = TROUBLE.format(record)
    fill(record)
    station = Station(args, env, "a", range(1, args.rows + 1), args.devices)
    stopped = station.await_line(trouble)
    if WAITING not in station.lines(trouble)[0]:
        raise Failure(f"the trouble line does not say that the ports wait: {station.lines(trouble)[0]!r}")
    # The line stays stopped for a while, so that a port going on regardless would leave its session in the ledger;
    # the check below holds for a hold of any length.
    time.sleep(2)
    freed = soak.now()
    os.remove(os.path.join(record, FILLER))
    station.await_line(RECOVERED)
    # Once the database has folded its first thousand pages in, it writes over them: a full disk now fails the
    # day files, not the journal, and their lines are caught up later.
    wal = os.path.join(record, "station.db-wal")
    await_condition(lambda: os.path.exists(wal) and os.path.getsize(wal) >= WAL_PAGES * (page_size(wal) + 24),
                    "a full write-ahead log", station.process)
    fill(record, 0)
    # Should the database need room after all (a checkpoint growing it), the line stops again instead.
    await_condition(lambda: station.said(DAY_FILE_FAILED) or station.said(trouble) > 1,
                    "a day file or the journal failing", station.process)
    os.remove(os.path.join(record, FILLER))
    code = station.end()
    if code not in (0, 1):
        raise Failure(f"phase A ended with {code}, expected 0 or 1")
    if station.said(RECOVERED) != station.said(trouble):
        raise Failure(f"phase A told the trouble {station.said(trouble)} times and the recovery "
                      f"{station.said(RECOVERED)} times")
    devices, sessions = soak_check.read_ledger(os.path.join(args.work, "ledger.jsonl"))
    claimed = [s for s in sessions if soak_check.stamp(stopped) <= s.claimed <= soak_check.stamp(freed)]
    # A port that opened its attempt before the journal failed may still claim its device; none starts another.
    if len(claimed) > args.rows:
        raise Failure(f"{len(claimed)} farm sessions began while the line was stopped, at most {args.rows} may")
    run = {"begin": station.begin, "end": soak.now(), "rows": list(range(1, args.rows + 1)), "summary": station.summary}
    mismatches = soak_check.Checker(devices, sessions, soak_check.read_records(record), [run], journal=True).run()
    if mismatches:
        raise Failure("phase A against the farm's ledger: " + "; ".join(mismatches[:10]))
    print(f"phase A: exit {code}, {check_stores(record)} attempts in all three stores, "
          f"{len(claimed)} sessions began while stopped", flush=True)


def phase_b(args, env):
    record = os.path.join(args.work, "record")
    trouble = TROUBLE.format(record)
    fill(record)
    station = Station(args, env, "b", range(1, args.rows + 1), ENDLESS)
    station.await_line(trouble)
    station.process.send_signal(signal.SIGINT)
    code = station.end()
    unrecorded = (station.summary or {}).get("unrecorded")
    if code != 3 or not unrecorded:
        raise Failure(f"phase B ended with {code} and {unrecorded} unrecorded, expected 3 and some")
    said = {e["attempt"]: e["result"] for e in station.events if e.get("event") == "record"}
    listed = [e for e in station.events if e.get("event") == "unrecorded"]
    if len(listed) != unrecorded or any(not e.get("port") or not e.get("row") or e["attempt"] in said for e in listed):
        raise Failure(f"{len(listed)} unrecorded events for {unrecorded} unrecorded attempts, or one also recorded")
    if station.said("praxilo-cli: not in the station record: ") != unrecorded:
        raise Failure(f"standard error names not each of the {unrecorded} unrecorded attempts")
    day_lines(record)
    os.remove(os.path.join(record, FILLER))
    last = Station(args, env, "c", [1], 1)
    code = last.end()
    if code not in (0, 1):
        raise Failure(f"the run after phase B ended with {code}, expected 0 or 1")
    # What the run reported is what the record says, once the record is written again.
    database = sqlite3.connect(f"file:{os.path.join(record, 'station.db')}?mode=ro", uri=True)
    try:
        kept = dict(database.execute("SELECT attempt_uid, result FROM attempt"))
    finally:
        database.close()
    contradicted = [a for a, result in said.items() if kept.get(a) != result]
    if contradicted:
        raise Failure(f"{len(contradicted)} record events the record contradicts, first {contradicted[0]}")
    print(f"phase B: exit 3, {unrecorded} unrecorded; then {check_stores(record)} attempts in all three stores",
          flush=True)


def inside(args):
    # The free-space floor would pause the line before the journal ever met the full disk this test is about.
    env = soak.prepare(args, "[Station]\nMinFreeMB=0\n")
    record = os.path.join(args.work, "record")
    subprocess.run(["mount", "-t", "tmpfs", "-o", f"size={DISK}", "tmpfs", record], check=True)
    try:
        phase_a(args, env)
        phase_b(args, env)
        return 0
    except Failure as failure:
        print(f"FAILED: {failure}", file=sys.stderr)
        return 1
    finally:
        # The mount goes with the namespace; a copy stays to look at.
        shutil.copytree(record, os.path.join(args.work, "record-kept"), ignore=shutil.ignore_patterns(FILLER))


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--out", required=True, help="the build's output folder (praxilo-cli, pxl_sample_load)")
    parser.add_argument("--work", required=True, help="a scratch folder; emptied first")
    parser.add_argument("--rows", type=int, default=4)
    parser.add_argument("--devices", type=int, default=30, help="good devices per row in phase A")
    parser.add_argument("--inside", action="store_true", help=argparse.SUPPRESS)
    args = parser.parse_args(argv)
    args.out, args.work = os.path.abspath(args.out), os.path.abspath(args.work)
    args.load_mib, args.seed, args.time_scale, args.fault_rate = 1, 1, "0", 0.05
    args.answer_timeout_ms, args.swap_failed_after = 1000, 2
    if args.inside:
        return inside(args)
    why = mountable()
    if why:
        print(f"skipped: {why}")
        return SKIP
    began = time.monotonic()
    code = subprocess.run(["unshare", "-rm", sys.executable, os.path.abspath(__file__), "--inside", "--out", args.out,
                           "--work", args.work, "--rows", str(args.rows), "--devices", str(args.devices)]).returncode
    print(f"{time.monotonic() - began:.1f} s", flush=True)
    return code


if __name__ == "__main__":
    sys.exit(main())
