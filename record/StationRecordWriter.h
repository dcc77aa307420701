#pragma once

#include "record/AttemptRecord.h"
#include "record/StationRecordFormat.h"

#include <QString>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <thread>

// The station record: every attempt of every port, appended to one JSON Lines and one CSV file per UTC day
// in a folder and inserted into the folder's SQLite database (StationDatabase), by one thread of its own, for
// the window and the headless front end alike. The window and a command-line run may append to the same day's
// files at once; each file's advisory lock keeps their lines whole and the CSV header single. A day's CSV
// file made by a version with other fields is left to it, and the rest of the day goes to the next part
// (StationRecordFormat::CsvFileName).
class StationRecordWriter : public AttemptRecorder
{
public:
    static constexpr int kDefaultLockTimeoutMs = 5000;

    // folder is created when missing, before every record; see CheckFolder for telling the operator early.
    explicit StationRecordWriter(const QString& folder = DefaultFolder(),
                                 int lockTimeoutMs = kDefaultLockTimeoutMs);
    // Writes every record still queued, then joins the writer thread.
    ~StationRecordWriter() override;

    StationRecordWriter(const StationRecordWriter&) = delete;
    StationRecordWriter& operator=(const StationRecordWriter&) = delete;

    // "Station" in the logger's log root; the log cleaner leaves it alone.
    static QString DefaultFolder();
    // Creates the folder when missing; empty when a file can be created and written there, none of today's
    // files and the database's is a symbolic link, and today's files, when they exist, can be appended to;
    // otherwise the reason, for the operator.
    static QString CheckFolder(const QString& folder);
    // The build's version text and commit id, "W2316.00.000 (3f2a9c1)".
    static QString ToolVersion();

    // Returns once the record is in both of its day's files and synced to disk, and in the database, or
    // writing it failed; a failure is counted, and the first of a series is logged at level E. Thread-safe.
    void Record(const AttemptRecord& record) override;

    QString Folder() const { return folder; }
    int64_t Written() const { return written.load(); }
    int64_t Failed() const { return failed.load(); }
    // Records the files took but the database did not.
    int64_t DatabaseFailed() const { return databaseFailed.load(); }
    // Records handed over whose writing has not ended yet.
    int64_t Pending() const { return pending.load(); }

private:
    struct Job
    {
        const AttemptRecord* record;
        bool done = false;
    };

    void Run();
    bool Write(const AttemptRecord& record, QString& error);
    // Appends to the day's first CSV part whose header is this version's, or that is new.
    bool AppendCsv(const QDate& day, const QByteArray& line, QString& error);
    void Count(bool ok, const QString& error, const AttemptRecord& record);
    void CountDatabase(bool ok, const QString& error, const AttemptRecord& record);

    const QString folder;
    const int lockTimeoutMs;
    const StationIdentity identity;

    std::mutex lock;
    std::condition_variable queued;
    std::condition_variable finished;
    std::deque<Job*> jobs;
    bool stopping = false;

    std::atomic<int64_t> written{0};
    std::atomic<int64_t> failed{0};
    std::atomic<int64_t> databaseFailed{0};
    std::atomic<int64_t> pending{0};
    int64_t failuresInSeries = 0;         // writer thread only
    int64_t databaseFailuresInSeries = 0; // writer thread only
    QDate csvDay;                         // writer thread only
    int csvPart = 1;                      // writer thread only: the part of csvDay to try first

    // Last, so that everything the thread uses exists before it starts.
    std::thread thread;
};
