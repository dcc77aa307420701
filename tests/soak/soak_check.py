#!/usr/bin/env python3
"""Joins the station record with the farm's ledger and reports every attempt that disagrees with the farm.

An attempt belongs to the farm session that claimed a device on the attempt's port between the attempt's
start and end: both sides stamp UTC milliseconds from the same wall clock. An attempt a kill left open is closed
at the next start as CANL with the failure kind "interrupted", so its end is not the session's: it belongs to
the session claimed on its port after the row's attempt before it ended and before the kill.
"""
import argparse
import collections
import datetime
import glob
import json
import os
import sys


def stamp(text):
    return datetime.datetime.strptime(text, "%Y-%m-%dT%H:%M:%S.%fZ").replace(tzinfo=datetime.timezone.utc)


class Session:
    def __init__(self, device, sid, claimed):
        self.device, self.sid, self.claimed = device, sid, claimed
        self.images = []  # (whole, checksumMatches)
        self.commands = {}  # name -> result of its latest run
        self.failures = []  # error texts of the calls the device failed, in order
        self.cancelled = False
        self.released = None  # True/False: whether the farm counted it failed; None: never released
        self.ended = claimed  # the session's latest line
        self.records = []

    def written_whole(self):
        return bool(self.images) and all(whole and matches is True for whole, matches in self.images)

    def good(self):
        return (self.written_whole() and self.commands.get("CMD:FLASH-ALL") == "ok"
                and self.commands.get("CMD:REBOOT") == "ok" and not self.failures)


class Device:
    def __init__(self, number, port, arrived, fault, socid):
        self.number, self.port, self.arrived, self.fault = number, port, arrived, fault
        self.socid = socid  # the unit's own id as the farm made it; None in a ledger that predates it
        self.departed, self.reason = None, None
        self.sessions = []

    def good_session(self):
        good = [s for s in self.sessions if s.good()]
        return good[0] if good and self.reason == "rebooted" else None


def read_ledger(path):
    devices, sessions, known, open_sessions = {}, [], {}, {}
    with open(path, encoding="utf-8") as ledger:
        for line in ledger:
            try:
                event = json.loads(line)
            except ValueError:
                continue  # the half line an abrupt kill leaves behind
            kind, time = event.get("event"), stamp(event["time"])
            if kind in ("start", "stop"):
                for device in devices.values():
                    if device.departed is None:
                        device.departed, device.reason = time, "farm ended"
                open_sessions.clear()
                continue
            number = int(event["device"])
            if kind == "arrival":
                devices[number] = Device(number, event["port"], time, event.get("fault", "none"), event.get("socid"))
                continue
            device = devices.get(number)
            if device is None:
                continue
            if kind == "departure":
                device.departed, device.reason = time, event["reason"]
                for key in [key for key in open_sessions if key[0] == number]:
                    open_sessions.pop(key).ended = time  # ended by the device leaving, not cut by the farm ending
                continue
            if kind == "session":
                session = Session(device, event["session"], time)
                device.sessions.append(session)
                sessions.append(session)
                open_sessions[(number, event["session"])] = session
                known[(number, event["session"])] = session
                continue
            session = known.get((number, event.get("session")))
            if kind == "release":
                for s in [s for (n, _), s in open_sessions.items() if n == number]:
                    s.released, s.ended = bool(event["failed"]), time
                    del open_sessions[(number, s.sid)]
                continue
            if session is None:
                continue
            session.ended = max(session.ended, time)
            if kind == "image":
                session.images.append((event["whole"], event.get("checksumMatches")))
            elif kind in ("stage", "command"):
                result = event["result"]
                if kind == "command":
                    session.commands[event["command"]] = result
                if result == "failed":
                    session.failures.append(event.get("error", ""))
                elif result == "cancelled":
                    session.cancelled = True
    return devices, sessions


INTERRUPTED = "interrupted"


def interrupted(record):
    return record.get("failureKind") == INTERRUPTED


def read_records(folder):
    records = []
    for path in sorted(glob.glob(os.path.join(folder, "station-*.jsonl"))):
        with open(path, encoding="utf-8") as lines:
            for line in lines:
                if line.strip():
                    record = json.loads(line)
                    record["_start"] = stamp(record["start"])
                    # An attempt closed after a kill may not know when it ended.
                    record["_end"] = stamp(record["end"]) if record.get("end") else record["_start"]
                    records.append(record)
    return records


class Checker:
    """journal: the station keeps every attempt that found its device across a kill, so a kill excuses no lost
    session."""

    def __init__(self, devices, sessions, records, segments, journal=False):
        self.devices, self.sessions, self.records, self.segments = devices, sessions, records, segments
        self.journal = journal
        self.mismatches = []
        self.unclaimed = []  # interrupted records of attempts killed between their scan and the farm's claim

    def mismatch(self, text):
        self.mismatches.append(text)

    def cut_by_kills(self):
        """Sessions a kill may have left without a record: at most one per row of the killed run, each claimed
        after the last record of the row it is given to (a row works on one attempt at a time)."""
        excused = set()
        if self.journal:
            return excused
        for segment in self.segments:
            if not segment.get("killed"):
                continue
            begin, end = stamp(segment["begin"]), stamp(segment["end"])
            unrecorded = sorted((s for s in self.sessions if begin <= s.claimed <= end and not s.records),
                                key=lambda s: s.claimed)
            last = {row: begin for row in segment["rows"]}
            for record in self.records:
                if begin <= record["_end"] <= end and record["row"] in last:
                    last[record["row"]] = max(last[record["row"]], record["_end"])
            thresholds = sorted(last.values())
            if len(unrecorded) <= len(thresholds) and all(
                    session.claimed >= threshold for session, threshold in zip(unrecorded, thresholds)):
                excused.update(id(session) for session in unrecorded)
        return excused

    def killed_run(self, record):
        for segment in self.segments:
            if segment.get("killed") and stamp(segment["begin"]) <= record["_start"] <= stamp(segment["end"]):
                return segment
        return None

    def join_interrupted(self, record, on_port):
        """The session claimed on the record's port after the row's attempt before it ended and before the kill,
        nearest the record's start (which may be taken when the scan ended or when the device was claimed); none
        when the kill came between the scan and the claim, while the device still waited on the port."""
        segment = self.killed_run(record)
        if segment is None:
            self.mismatch(f"interrupted record {describe(record)} started in no run that was killed")
            return
        if record["result"] != "CANL":
            self.mismatch(f"interrupted record {describe(record)} is not CANL")
        killed = stamp(segment["end"])
        later = [r for r in self.records if r is not record and r["row"] == record["row"]
                 and record["_start"] < r["_start"] <= killed]
        if later:
            self.mismatch(f"interrupted record {describe(record)} is not its row's last attempt before the kill")
        begin = stamp(segment["begin"])
        before = max([r["_end"] for r in self.records if r is not record and r["row"] == record["row"]
                      and begin <= r["_end"] <= record["_start"]] + [begin])
        found = sorted((s for s in on_port if before <= s.claimed <= killed),
                       key=lambda s: abs((s.claimed - record["_start"]).total_seconds()))
        if found:
            found[0].records.append(record)
        elif record.get("device") and any(d.port == record["port"] and d.arrived <= killed
                                          and (d.departed is None or d.departed >= record["_start"])
                                          for d in self.devices.values()):
            self.unclaimed.append(record)
        else:
            self.mismatch(f"interrupted record {describe(record)} has no device on the farm")

    def join(self):
        by_port = collections.defaultdict(list)
        for session in self.sessions:
            by_port[session.device.port].append(session)
        for record in self.records:
            if interrupted(record):
                continue
            found = [s for s in by_port[record["port"]] if record["_start"] <= s.claimed and s.ended <= record["_end"]]
            # Another row may run a whole session on the same port while this one scans or writes its record;
            # the attempt's own session was claimed when its scan ended.
            scanned = record["_start"] + datetime.timedelta(milliseconds=scan_ms(record))
            found.sort(key=lambda s: abs((s.claimed - scanned).total_seconds()))
            if not found:
                if record["result"] == "OK" or record.get("device"):
                    self.mismatch(f"record {describe(record)} has no device on the farm")
                continue
            found[0].records.append(record)
        # After the others, whose ends bound where the row's interrupted attempt may have begun.
        for record in filter(interrupted, self.records):
            self.join_interrupted(record, by_port[record["port"]])

    def check_sessions(self):
        excused = self.cut_by_kills()
        for session in self.sessions:
            records, name = session.records, f"device {session.device.number} on {session.device.port}"
            if len(records) > 1:
                self.mismatch(f"{name}: one session has {len(records)} records")
            if not records:
                if id(session) not in excused:
                    self.mismatch(f"{name}: a session at {session.claimed.isoformat()} has no record")
                continue
            for unit in {r["unit"] for r in records if r.get("unit")}:
                # Hex either way, and a station may write it in capitals.
                if unit.lower() != (session.device.socid or "").lower():
                    self.mismatch(f"{name}: a record names unit {unit}, the farm's device is {session.device.socid}")
            record = records[0]
            if record["result"] == "OK" and not session.good():
                self.mismatch(f"{name}: OK record {describe(record)} but the farm did not write it whole and reboot it")
            if session.failures and record["result"] not in ("FAIL", "CANL"):
                self.mismatch(f"{name}: the farm failed the session ({session.failures[-1]}) but the record says {record['result']}")
            if session.failures and record["result"] == "FAIL" and session.failures[-1] not in record.get("error", ""):
                self.mismatch(f"{name}: FAIL record's error \"{record.get('error')}\" lacks the engine's \"{session.failures[-1]}\"")

    def check_attempt_ids(self):
        """Each attempt has an id of its own, across the runs and restarts of the soak; lines of a version before
        the id have none."""
        seen = {}
        for record in self.records:
            attempt = record.get("attempt")
            if attempt and attempt in seen:
                self.mismatch(f"records {describe(seen[attempt])} and {describe(record)} share the attempt id {attempt}")
            elif attempt:
                seen[attempt] = record

    def check_failure_reasons(self):
        """A failed attempt always says why: an empty error leaves the operator and the factory guessing."""
        for record in self.records:
            if record.get("result") == "FAIL" and not str(record.get("error") or "").strip():
                self.mismatch(f"FAIL record {describe(record)} has an empty error")

    def check_devices(self):
        excused = self.cut_by_kills()
        for device in self.devices.values():
            good = device.good_session()
            oks = [r for s in device.sessions for r in s.records if r["result"] == "OK"]
            # A kill may cut an attempt after the farm wrote and rebooted its device, before the station knew; a
            # session with no record at all is reported as such.
            cut = good is not None and (id(good) in excused or all(interrupted(r) for r in good.records))
            if good is not None and len(oks) != 1 and not (not oks and cut):
                self.mismatch(f"device {device.number} on {device.port} was written and rebooted but has {len(oks)} OK records")
            if good is None and oks:
                self.mismatch(f"device {device.number} on {device.port} has an OK record but the farm never completed it")

    def check_segments(self):
        for index, segment in enumerate(self.segments):
            self.check_resources(index, segment)
            self.check_shown(index, segment)
            summary = segment.get("summary")
            if summary is None:
                continue
            begin, end = stamp(segment["begin"]), stamp(segment["end"])
            counted = collections.Counter()
            for record in self.records:
                # An attempt closed at this start was the killed run's, which showed it nowhere.
                if begin <= record["_end"] <= end and not interrupted(record):
                    counted[(record["row"], record["result"])] += 1
            for row in summary["rows"]:
                for result, key in (("OK", "ok"), ("FAIL", "fail"), ("CANL", "canl")):
                    if counted[(row["row"], result)] != row[key]:
                        self.mismatch(f"run {index + 1} row {row['row']}: the summary shows {row[key]} {result}, "
                                      f"the record has {counted[(row['row'], result)]}")

    def check_shown(self, index, segment):
        """The window shows no per-row counts, only the good devices of the run so far. It is read just before the
        close; each row may still finish the attempt it is in before the close ends it, and that success is
        recorded but never shown."""
        shown = segment.get("shownOk")
        if shown is None:
            return
        begin, end = stamp(segment["begin"]), stamp(segment["end"])
        recorded = sum(1 for r in self.records if begin <= r["_end"] <= end and r["result"] == "OK")
        if not shown <= recorded <= shown + len(segment["rows"]):
            self.mismatch(f"run {index + 1}: the window showed {shown} good devices, the record has {recorded} OK")

    def check_resources(self, index, segment):
        first, last = segment.get("first"), segment.get("last")
        if first and last:
            # Only growth is a leak: the start's own short-lived work (the log budget's first pass on a
            # thread of its own, walking the dump folders) can still hold a thread or a folder open at the
            # first sample and be gone by the last.
            for key in ("threads", "files"):
                if last[key] > first[key]:
                    self.mismatch(f"run {index + 1}: {key} {first[key]} at its first device, {last[key]} at its last")
        memory = segment.get("memory")
        if memory and memory["lastKiB"] >= memory["firstKiB"] * 1.10:
            self.mismatch(f"run {index + 1}: resident memory grew from {memory['firstKiB']} to {memory['lastKiB']} KiB")

    def run(self):
        self.join()
        self.check_sessions()
        self.check_attempt_ids()
        self.check_failure_reasons()
        self.check_devices()
        self.check_segments()
        return self.mismatches


def scan_ms(record):
    return sum(stage["ms"] for stage in record.get("stages", []) if stage["name"] == "scan")


def describe(record):
    return f"row {record['row']} {record['port']} {record['result']} {record['start']}..{record['end']}"


def report(devices, records, segments, mismatches, out):
    faults = collections.Counter(d.fault.split(":")[0] for d in devices.values())
    results = collections.Counter(r["result"] for r in records)
    written = sum(1 for d in devices.values() if d.good_session() is not None)
    wall = sum((stamp(s["end"]) - stamp(s["begin"])).total_seconds() for s in segments)
    print(f"devices: {len(devices)} ({written} written and rebooted)", file=out)
    print("faults: " + ", ".join(f"{k} {v}" for k, v in sorted(faults.items())), file=out)
    print(f"records: OK {results['OK']}, FAIL {results['FAIL']}, CANL {results['CANL']} "
          f"({sum(1 for r in records if interrupted(r))} interrupted)", file=out)
    print(f"runs: {len(segments)} ({sum(1 for s in segments if s.get('interrupted'))} interrupted, "
          f"{sum(1 for s in segments if s.get('killed'))} killed)", file=out)
    print(f"wall time: {wall:.1f} s, {results['OK'] * 3600 / wall if wall > 0 else 0:.0f} good devices per hour", file=out)
    for index, segment in enumerate(segments):
        memory = segment.get("memory")
        if memory:
            print(f"memory: run {index + 1} {memory['firstKiB']} KiB after {memory['warmupPerRow']} attempts per row, "
                  f"{memory['lastKiB']} KiB at its end ({memory['samples']} samples)", file=out)
    for text in mismatches[:50]:
        print("MISMATCH " + text, file=out)
    print(f"mismatches: {len(mismatches)}", file=out)


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--ledger", required=True)
    parser.add_argument("--record", required=True, help="the station record folder")
    parser.add_argument("--runs", help="the driver's runs.json: each run's times, summary and /proc samples, "
                                       "or what the window showed (pxl_window_soak)")
    parser.add_argument("--journal", action="store_true", help="a kill may lose no attempt that found its device")
    args = parser.parse_args(argv)
    devices, sessions = read_ledger(args.ledger)
    records = read_records(args.record)
    segments = json.load(open(args.runs, encoding="utf-8")) if args.runs else []
    mismatches = Checker(devices, sessions, records, segments, args.journal).run()
    report(devices, records, segments, mismatches, sys.stdout)
    return 1 if mismatches else 0


if __name__ == "__main__":
    sys.exit(main())
