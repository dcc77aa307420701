#!/usr/bin/env python3
"""The soak checker must fail on every kind of disagreement between the station record and the ledger."""
import io
import json
import os
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import kill_check  # noqa: E402
import soak  # noqa: E402
import soak_check  # noqa: E402

BASE = "2026-01-01T10:00:{:02d}.{:03d}Z"


def at(ms):
    return BASE.format(ms // 1000, ms % 1000)


def socid(device):
    return f"{device:064x}"


def good_device(device, port, t, sid):
    """A device the farm wrote whole and rebooted, with its session from t+1 to t+9."""
    return [
        {"event": "arrival", "device": device, "port": port, "fault": "none", "socid": socid(device), "time": at(t)},
        {"event": "session", "device": device, "port": port, "session": sid, "time": at(t + 1)},
        {"event": "stage", "stage": "connect", "result": "ok", "device": device, "port": port, "session": sid, "time": at(t + 2)},
        {"event": "image", "image": "a.img", "whole": True, "checksumMatches": True, "device": device, "port": port, "session": sid, "time": at(t + 3)},
        {"event": "command", "command": "CMD:FLASH-ALL", "result": "ok", "device": device, "port": port, "session": sid, "time": at(t + 4)},
        {"event": "command", "command": "CMD:REBOOT", "result": "ok", "device": device, "port": port, "session": sid, "time": at(t + 5)},
        {"event": "release", "failed": False, "device": device, "port": port, "time": at(t + 9)},
        {"event": "departure", "reason": "rebooted", "device": device, "port": port, "time": at(t + 9)},
    ]


def failing_device(device, port, t, sid, error="Device on COM4 failed CMD:FLASH-ALL"):
    return [
        {"event": "arrival", "device": device, "port": port, "fault": "command:CMD:FLASH-ALL", "socid": socid(device), "time": at(t)},
        {"event": "session", "device": device, "port": port, "session": sid, "time": at(t + 1)},
        {"event": "command", "command": "CMD:FLASH-ALL", "result": "failed", "error": error, "device": device, "port": port, "session": sid, "time": at(t + 4)},
        {"event": "release", "failed": True, "device": device, "port": port, "time": at(t + 9)},
        {"event": "departure", "reason": "swapped", "device": device, "port": port, "time": at(t + 9)},
    ]


def record(row, port, start, end, result, error=""):
    return {"row": row, "port": port, "start": at(start), "end": at(end), "result": result, "error": error,
            "stages": [{"name": "scan", "ms": 1}]}


class CheckerTest(unittest.TestCase):
    def check(self, ledger, records, runs=None, journal=False):
        with tempfile.TemporaryDirectory() as folder:
            with open(os.path.join(folder, "ledger.jsonl"), "w") as out:
                out.write("".join(json.dumps(line) + "\n" for line in ledger))
            os.mkdir(os.path.join(folder, "record"))
            with open(os.path.join(folder, "record", "station-2026-01-01.jsonl"), "w") as out:
                out.write("".join(json.dumps(line) + "\n" for line in records))
            devices, sessions = soak_check.read_ledger(os.path.join(folder, "ledger.jsonl"))
            records = soak_check.read_records(os.path.join(folder, "record"))
            mismatches = soak_check.Checker(devices, sessions, records, runs or [], journal).run()
            soak_check.report(devices, records, runs or [], mismatches, io.StringIO())
            return mismatches

    def setUp(self):
        self.ledger = good_device(1, "COM3", 0, 1) + failing_device(2, "COM4", 0, 2)
        self.records = [record(1, "COM3", 0, 10, "OK"), record(2, "COM4", 0, 10, "FAIL", "Device on COM4 failed CMD:FLASH-ALL")]

    def test_agreeing_record_and_ledger_pass(self):
        self.assertEqual(self.check(self.ledger, self.records), [])

    def test_a_planted_false_ok_fails(self):
        self.records[1]["result"] = "OK"
        self.assertTrue(any("OK record" in m for m in self.check(self.ledger, self.records)))

    def test_a_dropped_record_fails(self):
        self.assertTrue(any("has no record" in m for m in self.check(self.ledger, self.records[1:])))

    def test_a_record_twice_fails(self):
        self.assertTrue(any("2 records" in m for m in self.check(self.ledger, self.records + [self.records[0]])))

    def test_a_record_without_a_device_fails(self):
        stray = record(3, "COM5", 0, 10, "OK")
        self.assertTrue(any("no device" in m for m in self.check(self.ledger, self.records + [stray])))

    def test_an_attempt_id_twice_fails_and_lines_without_one_pass(self):
        self.records[0]["attempt"] = self.records[1]["attempt"] = "3f0e8b1c-5d2a-4c7e-9b61-0a4f2d8e7c35"
        self.assertTrue(any("share the attempt id" in m for m in self.check(self.ledger, self.records)))
        self.records[1]["attempt"] = "7a1d2c3b-0000-4000-8000-000000000001"
        self.assertEqual(self.check(self.ledger, self.records), [])

    def test_a_fail_without_the_engines_text_fails(self):
        self.records[1]["error"] = "something else"
        self.assertTrue(any("lacks the engine's" in m for m in self.check(self.ledger, self.records)))

    def test_a_fail_without_any_error_fails(self):
        self.records[1]["error"] = "  "
        self.assertTrue(any("has an empty error" in m for m in self.check(self.ledger, self.records)))

    def test_a_corrupt_image_must_not_pass(self):
        self.ledger[3]["checksumMatches"] = False
        self.assertTrue(any("OK record" in m for m in self.check(self.ledger, self.records)))

    def test_a_records_unit_must_be_the_farms_socid(self):
        for row, unit, agrees in ((0, "", True), (0, socid(1), True), (1, socid(2).upper(), True),
                                  (0, socid(2), False), (1, "no ledger socid", None)):
            with self.subTest(unit=unit):
                records = [dict(r) for r in self.records]
                records[row]["unit"] = unit
                ledger = [dict(line) for line in self.ledger]
                if agrees is None:
                    del ledger[len(good_device(1, "COM3", 0, 1))]["socid"]  # device 2's arrival
                found = [m for m in self.check(ledger, records) if "names unit" in m]
                self.assertEqual(found == [], bool(agrees), found)

    def test_a_kill_may_cut_only_the_rows_last_attempt(self):
        ledger = good_device(1, "COM3", 0, 1) + good_device(2, "COM3", 20, 2) + [{"event": "start", "time": at(40)}]
        killed = [{"begin": at(0), "end": at(35), "rows": [1], "killed": True}]
        # The row's last attempt may be lost with the kill...
        self.assertEqual(self.check(ledger, [record(1, "COM3", 0, 10, "OK")], killed), [])
        # ...but not one it finished before starting another.
        self.assertNotEqual(self.check(ledger, [record(1, "COM3", 20, 30, "OK")], killed), [])

    def test_an_interrupted_record_stands_only_for_a_session_a_kill_cut(self):
        """A kill after the farm claimed device 2 (here it even wrote and rebooted it): the next start closes the
        attempt as interrupted. With the journal nothing excuses a lost session."""
        waiting = {"event": "arrival", "device": 3, "port": "COM4", "fault": "none", "socid": socid(3), "time": at(31)}
        ledger = good_device(1, "COM3", 0, 1) + good_device(2, "COM3", 20, 2) + [waiting, {"event": "start", "time": at(40)}]
        killed = [{"begin": at(0), "end": at(35), "rows": [1, 2], "killed": True}]
        done = record(1, "COM3", 0, 10, "OK")
        closed = dict(record(1, "COM3", 20, 41, "CANL"), failureKind="interrupted", device="7&2B1F0C3&0&00")
        for name, records, runs, journal, expected in (
                ("closed at the next start", [done, closed], killed, True, None),
                ("without an end", [done, dict(closed, end="")], killed, True, None),
                ("started when its device was claimed", [done, dict(closed, start=at(22))], killed, True, None),
                ("lost", [done], killed, True, "has no record"),
                ("claimed in no killed run", [done, closed], [dict(killed[0], killed=False)], True, "no run that was killed"),
                ("said OK", [done, dict(closed, result="OK")], killed, True, "is not CANL"),
                ("beside its own record", [done, closed, record(1, "COM3", 20, 30, "OK")], killed, True, "2 records"),
                ("before the kill's row's last attempt", [done, dict(closed, start=at(0)), record(1, "COM3", 20, 30, "OK")],
                 killed, True, "not its row's last"),
                ("found, killed before the claim", [done, closed, dict(closed, row=2, port="COM4", start=at(33))],
                 killed, True, None),
                ("found nothing on the farm", [done, closed, dict(closed, row=2, port="COM5", start=at(33))],
                 killed, True, "no device on the farm")):
            with self.subTest(name):
                found = self.check(ledger, records, runs, journal)
                if expected is None:
                    self.assertEqual(found, [])
                else:
                    self.assertTrue(any(expected in m for m in found), found)

    def test_summary_counts_must_equal_the_record(self):
        runs = [{"begin": at(0), "end": at(50), "rows": [1, 2],
                 "summary": {"rows": [{"row": 1, "ok": 1, "fail": 0, "canl": 0}, {"row": 2, "ok": 0, "fail": 2, "canl": 0}]}}]
        self.assertTrue(any("summary shows 2 FAIL" in m for m in self.check(self.ledger, self.records, runs)))

    def test_leaked_threads_files_or_memory_fail(self):
        first = {"threads": 18, "files": 9}
        memory = {"firstKiB": 1000, "lastKiB": 1099, "samples": 64, "warmupPerRow": 200, "window": 32}
        runs = [{"begin": at(0), "end": at(50), "rows": [1], "first": first, "last": dict(first, threads=19)},
                {"begin": at(60), "end": at(70), "rows": [1], "first": first, "last": dict(first, files=10)},
                {"begin": at(80), "end": at(90), "rows": [1], "first": first, "last": first,
                 "memory": dict(memory, lastKiB=1100)},
                {"begin": at(92), "end": at(95), "rows": [1], "first": first, "last": first, "memory": memory},
                {"begin": at(96), "end": at(99), "rows": [1], "first": first, "last": dict(first, files=8)}]
        found = self.check(self.ledger, self.records, runs)
        self.assertEqual(sorted(m.split(":")[0] for m in found if m.startswith("run ")), ["run 1", "run 2", "run 3"])

    def test_the_windows_count_of_good_devices_must_match_the_record(self):
        def run(shown):
            return [{"begin": at(0), "end": at(50), "rows": [1, 2], "interrupted": True, "shownOk": shown}]
        self.assertEqual(self.check(self.ledger, self.records, run(1)), [])
        self.assertEqual(self.check(self.ledger, self.records, run(0)), [])  # the close came before its display
        self.assertTrue(any("window showed 2" in m for m in self.check(self.ledger, self.records, run(2))))
        ledger = self.ledger + good_device(3, "COM3", 20, 3) + good_device(4, "COM3", 30, 4)
        records = self.records + [record(1, "COM3", 20, 29, "OK"), record(1, "COM3", 30, 39, "OK")]
        self.assertTrue(any("the record has 3 OK" in m for m in self.check(ledger, records, run(0))))


class StoreCheckTest(unittest.TestCase):
    """The kill campaign's stores: each attempt once in each, saying the same, with one WorkCompleted."""

    def completed(self, attempt, result, unique, name=kill_check.WORK_COMPLETED):
        return {"MessageName": name, "UniqueID": unique, "MessageBody": {"TransactionID": attempt, "Result": result}}

    def test_stores_and_messages_must_agree(self):
        ok = {"attempt": "a1", "result": "OK", "failureKind": ""}
        closed = {"attempt": "a2", "result": "CANL", "failureKind": "interrupted"}
        starts = [self.completed(a, None, "s" + a, kill_check.WORK_STARTED) for a in ("a1", "a2")]
        sent = starts + [self.completed("a1", "Completed", "u1"), self.completed("a2", "Aborted", "u2")]
        for name, csv_rows, envelopes, expected in (
                ("agreeing", [ok, closed], sent, None),
                ("sent again with its UniqueID", [ok, closed], sent + sent[:1], None),
                ("missing from one store", [ok], sent, "missing from CSV"),
                ("twice in one store", [ok, closed, closed], sent, "recorded 2 times"),
                ("another failure kind", [ok, dict(closed, failureKind="cancelled")], sent, "CSV CANL/cancelled"),
                ("completed twice", [ok, closed], sent + [self.completed("a2", "Aborted", "u3")], "2 WorkCompleted"),
                ("never started", [ok, closed], sent[1:], "0 WorkStarted"),
                ("never completed", [ok, closed], sent[:3], "0 WorkCompleted"),
                ("completed otherwise", [ok, closed], sent[:3] + [self.completed("a2", "Failed", "u2")], "says Failed"),
                ("completed without a record", [ok, closed], sent + [self.completed("a3", "Aborted", "u4")], "no record")):
            with self.subTest(name):
                database = {"attempt": [ok, closed], "open_attempt": [], "outbox": 0}
                unique = kill_check.unique_envelopes(json.dumps(e) for e in envelopes)
                found = kill_check.StoreCheck([ok, closed], csv_rows, database, unique).run()
                if expected is None:
                    self.assertEqual(found, [])
                else:
                    self.assertTrue(any(expected in d for d in found), found)


class MemoryLevelTest(unittest.TestCase):
    """The driver's resident memory level: after the warm-up, a median at each end of the run."""

    def feed(self, level, values, rows=(1, 2)):
        for value in values:
            for row in rows:
                level.attempt(row)
            level.add(value)

    def test_samples_within_the_warm_up_do_not_count(self):
        level = soak.MemoryLevel([1, 2], warmup=3, window=2)
        for _ in range(5):
            level.attempt(1)  # five of the six attempts the two rows make before the level counts
            level.add(100)
        self.assertIsNone(level.result())
        self.feed(level, [200, 200, 300, 300, 300])
        self.assertEqual((level.result()["firstKiB"], level.result()["lastKiB"]), (200, 300))

    def test_one_sample_with_buffers_in_flight_is_not_the_level(self):
        level = soak.MemoryLevel([1, 2], warmup=0, window=5)
        self.feed(level, [1000, 1300, 1000, 1000, 1000] + [1000] * 10 + [1000, 1000, 1000, 1000, 1300])
        self.assertEqual((level.result()["firstKiB"], level.result()["lastKiB"]), (1000, 1000))

    def test_a_leak_after_the_warm_up_shows_at_the_end(self):
        level = soak.MemoryLevel([1, 2], warmup=10, window=8)
        self.feed(level, [500] * 9 + [600 + n for n in range(200)])  # the tenth attempt of each row samples 600
        result = level.result()
        self.assertEqual((result["firstKiB"], result["lastKiB"]), (603, 795))
        self.assertGreaterEqual(result["lastKiB"], result["firstKiB"] * 1.10)

    def test_a_short_run_has_no_level(self):
        level = soak.MemoryLevel([1], warmup=0, window=4)
        self.feed(level, [100] * 7, rows=(1,))
        self.assertIsNone(level.result())
        self.feed(level, [100], rows=(1,))
        self.assertEqual(level.result()["samples"], 8)


if __name__ == "__main__":
    unittest.main()
