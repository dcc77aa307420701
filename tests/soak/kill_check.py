#!/usr/bin/env python3
"""Checks a kill campaign's work folder: the station record's three stores against each other, the broker's
WorkCompleted messages against the record, and the record against the farm's ledger (soak_check, with no lost
session excused by a kill).

    tests/soak/kill_check.py --work /tmp/kill
"""
import argparse
import collections
import csv
import glob
import json
import os
import sqlite3
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import soak_check  # noqa: E402

# The database's names for the record's fields (record/RecordFields.cpp).
COLUMNS = {"attempt": "attempt_uid", "result": "result", "failureKind": "failure_kind"}
# What each result is called in its WorkCompleted.
COMPLETED = {"OK": "Completed", "FAIL": "Failed", "CANL": "Aborted"}
WORK_COMPLETED = "CFX.Production.WorkCompleted"
WORK_STARTED = "CFX.Production.WorkStarted"
# Lines shown of each kind of violation.
SHOWN = 12


def day_files(folder, pattern):
    return sorted(glob.glob(os.path.join(folder, pattern)))


def read_jsonl(folder):
    return soak_check.read_records(folder)


def read_csv(folder):
    """Every part of every day (station-2026-01-01.csv, station-2026-01-01_2.csv, ...)."""
    records = []
    for path in day_files(folder, "station-*.csv"):
        with open(path, encoding="utf-8", newline="") as lines:
            records.extend(csv.DictReader(lines))
    return records


def read_database(folder):
    """The attempt table, and what is still open and unsent: None for a table the station does not have."""
    path = os.path.join(folder, "station.db")
    stores = {"attempt": [], "open_attempt": None, "outbox": None}
    if not os.path.exists(path):
        return stores
    database = sqlite3.connect(f"file:{path}?mode=ro", uri=True)
    try:
        tables = {row[0] for row in database.execute("SELECT name FROM sqlite_master WHERE type = 'table'")}
        if "attempt" in tables:
            names = ", ".join(f"{column} AS {field}" for field, column in COLUMNS.items())
            cursor = database.execute(f"SELECT {names} FROM attempt")
            fields = [d[0] for d in cursor.description]
            stores["attempt"] = [dict(zip(fields, row)) for row in cursor]
        if "open_attempt" in tables:
            stores["open_attempt"] = [row[0] for row in database.execute("SELECT attempt FROM open_attempt")]
        if "outbox" in tables:
            stores["outbox"] = database.execute("SELECT COUNT(*) FROM outbox").fetchone()[0]
    finally:
        database.close()
    return stores


def unique_envelopes(bodies):
    """Each message body holds one envelope or an array of them; a message the station sent again after a lost
    connection keeps its UniqueID and counts once."""
    envelopes, seen = [], set()
    for text in bodies:
        body = json.loads(text)
        for envelope in body if isinstance(body, list) else [body]:
            unique = envelope.get("UniqueID")
            if unique not in seen:
                seen.add(unique)
                envelopes.append(envelope)
    return envelopes


def read_envelopes(path):
    """What pxl_soak_broker took off the queue."""
    with open(path, encoding="utf-8") as lines:
        return unique_envelopes(json.loads(line)["body"] for line in lines if line.strip())


class StoreCheck:
    """Each attempt once in every store, with the same result and failure kind, and one WorkStarted and one
    WorkCompleted."""

    def __init__(self, jsonl, csv_rows, database, envelopes):
        self.stores = {"JSONL": jsonl, "CSV": csv_rows, "station.db": database["attempt"]}
        self.database, self.envelopes = database, envelopes
        self.disagreements = []

    def disagree(self, text):
        self.disagreements.append(text)

    def by_attempt(self):
        found = {}
        for name, rows in self.stores.items():
            counted = collections.Counter(row.get("attempt") or "" for row in rows)
            if counted[""]:
                self.disagree(f"{name}: {counted['']} records without an attempt id")
            for attempt, count in counted.items():
                if attempt and count > 1:
                    self.disagree(f"{name}: attempt {attempt} recorded {count} times")
            found[name] = {row.get("attempt"): row for row in rows if row.get("attempt")}
        return found

    def run(self):
        found = self.by_attempt()
        everything = set().union(*(set(rows) for rows in found.values()))
        for attempt in sorted(everything):
            seen = {name: rows.get(attempt) for name, rows in found.items()}
            missing = [name for name, row in seen.items() if row is None]
            if missing:
                self.disagree(f"attempt {attempt} is missing from {', '.join(missing)}")
                continue
            said = {name: (row["result"], row.get("failureKind") or "") for name, row in seen.items()}
            if len(set(said.values())) > 1:
                self.disagree(f"attempt {attempt}: " + ", ".join(f"{n} {r}/{k or '-'}" for n, (r, k) in said.items()))
        self.store_disagreements = len(self.disagreements)
        recorded = {}
        for rows in found.values():
            for attempt, row in rows.items():
                recorded.setdefault(attempt, row)
        self.check_completed(recorded)
        if self.database["open_attempt"]:
            self.disagree(f"{len(self.database['open_attempt'])} attempts still open after the clean run")
        if self.database["outbox"]:
            self.disagree(f"{self.database['outbox']} messages still in the outbox after the clean run")
        return self.disagreements

    def check_completed(self, records):
        completed, started = collections.defaultdict(list), collections.Counter()
        for envelope in self.envelopes:
            body = envelope.get("MessageBody", {})
            if envelope.get("MessageName") == WORK_COMPLETED:
                completed[body.get("TransactionID")].append(body.get("Result"))
            elif envelope.get("MessageName") == WORK_STARTED:
                started[body.get("TransactionID")] += 1
        for attempt, record in records.items():
            if started[attempt] != 1:
                self.disagree(f"attempt {attempt} ({record['result']}) has {started[attempt]} WorkStarted")
            results = completed.get(attempt, [])
            if len(results) != 1:
                self.disagree(f"attempt {attempt} ({record['result']}) has {len(results)} WorkCompleted")
            elif results[0] != COMPLETED.get(record["result"]):
                self.disagree(f"attempt {attempt} is {record['result']}, its WorkCompleted says {results[0]}")
        for attempt in sorted(set(completed) - set(records)):
            self.disagree(f"a WorkCompleted for {attempt}, which has no record")


def check(work, out=sys.stdout):
    """Every violation of the work folder, summed up on out; the counts as a dict."""
    record = os.path.join(work, "record")
    devices, sessions = soak_check.read_ledger(os.path.join(work, "ledger.jsonl"))
    jsonl = read_jsonl(record)
    runs = json.load(open(os.path.join(work, "runs.json"), encoding="utf-8"))
    checker = soak_check.Checker(devices, sessions, jsonl, runs, journal=True)
    mismatches = checker.run()
    stores = StoreCheck(jsonl, read_csv(record), read_database(record),
                        read_envelopes(os.path.join(work, "messages.jsonl")))
    disagreements = stores.run()
    lost = [m for m in mismatches if "has no record" in m]
    false_ok = [m for m in mismatches if "OK record" in m or "never completed it" in m]
    other = [m for m in mismatches if m not in lost and m not in false_ok]
    counts = {"kills": sum(1 for r in runs if r.get("killed")), "attempts": len({r.get("attempt") for r in jsonl}),
              "sessions": len(sessions), "lost": len(lost), "disagreements": len(disagreements),
              "storeDisagreements": stores.store_disagreements,
              "messageDisagreements": len(disagreements) - stores.store_disagreements,
              "falseOk": len(false_ok), "interrupted": sum(1 for r in jsonl if soak_check.interrupted(r)),
              "interruptedBeforeClaim": len(checker.unclaimed), "otherMismatches": len(other)}
    for tag, texts in (("LOST", lost), ("FALSE OK", false_ok), ("DISAGREE", disagreements), ("MISMATCH", other)):
        for text in texts[:SHOWN]:
            print(f"{tag} {text}", file=out)
        if len(texts) > SHOWN:
            print(f"{tag} ... and {len(texts) - SHOWN} more", file=out)
    print("summary: " + ", ".join(f"{key} {value}" for key, value in counts.items()), file=out)
    return counts


def failed(counts):
    return any(counts[key] for key in ("lost", "disagreements", "falseOk", "otherMismatches"))


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--work", required=True, help="the campaign's work folder")
    args = parser.parse_args(argv)
    return 1 if failed(check(os.path.abspath(args.work))) else 0


if __name__ == "__main__":
    sys.exit(main())
