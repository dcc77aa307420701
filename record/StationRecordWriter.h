#pragma once

#include "record/AttemptRecord.h"
#include "record/DayFiles.h"
#include "record/InstanceClaim.h"
#include "record/JournalMessage.h"
#include "record/StationDatabase.h"
#include "record/StationRecordFormat.h"

#include <QSet>
#include <QString>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

// The station record: every attempt of every port, for the window and the headless front end alike. The
// station database (StationDatabase) is the journal and the one source of truth, written by one thread of
// this writer on one connection: an attempt is opened there, with its first factory message, before its
// session touches the device, and closed with its record and its last messages, each in one transaction.
// The day files (DayFiles) get the record's lines after the commit, and whatever they lack later, from the
// journal. When the journal cannot commit, no attempt goes on: the ports wait in Started and Record while the
// writer tries again every few seconds, until it succeeds or the operator stops (Halt).
class StationRecordWriter : public AttemptRecorder
{
public:
    static constexpr int kDefaultLockTimeoutMs = 5000;
    static constexpr std::chrono::milliseconds kDefaultRetry{3000};

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
    // This host and build, as every record of a writer in this process names them.
    static StationIdentity ThisStation();

    // Before the first attempt. The factory's messages, committed with the attempts they tell of.
    void SetMessages(AttemptMessages* messages);
    // Before the first attempt. Told on the writer's thread, once, when the journal stops taking records
    // (the reason names the folder), and again when it takes them again.
    void SetTroubleHandler(std::function<void(const QString& reason)> trouble, std::function<void()> recovered);
    // Before the first attempt. Told on the writer's thread when a damaged database was rebuilt, with what
    // was salvaged, what came from the day files and what could not be recovered.
    void SetRebuildHandler(std::function<void(const QString& report)> rebuilt);
    void SetRetryInterval(std::chrono::milliseconds interval);
    // A seam for tests of storage failures: a non-empty reason fails the commit about to be tried.
    void SetCommitFault(std::function<QString()> fault);
    // Closes the attempts this host's stations left open when they stopped (as CANL, interrupted), and files
    // what the journal holds and the day files lack. Returns once done.
    void CatchUp();

    // Returns once the attempt is open in the journal; false when it could not be opened and the writer
    // gave up (Halt). Thread-safe.
    bool Started(const AttemptRecord& attempt) override;
    // Returns once the record is in the journal, or the writer gave up (counted, see Unrecorded); the day
    // files get it before the call returns unless they cannot be written. Thread-safe.
    bool Record(const AttemptRecord& record) override;
    void Halt() override;
    void Resume() override;
    int64_t Unrecorded() const override { return failed.load(); }

    QString Folder() const { return folder; }
    QString Instance() const { return instance; }
    // Records in the journal.
    int64_t Written() const { return written.load(); }
    // Records the journal could not take.
    int64_t Failed() const { return failed.load(); }
    // Appends to a day file that failed; the line is filed again later.
    int64_t FilesFailed() const { return filesFailed.load(); }
    // Attempts left open by a stopped station and closed by this one.
    int64_t Interrupted() const { return interrupted.load(); }
    // Damaged databases rebuilt, and what the last rebuild said (for a front end that was not listening yet).
    int64_t Rebuilds() const { return rebuilds.load(); }
    QString LastRebuild() const;
    // Records handed over whose writing has not ended yet.
    int64_t Pending() const { return pending.load(); }

private:
    enum class Kind
    {
        Open,
        Close,
        CatchUp,
    };
    struct Job
    {
        Kind kind;
        const AttemptRecord* record = nullptr;
        JournalMessages messages; // Open: its first messages; Close: its last, once prepared
        bool done = false;
        bool ok = false;
    };
    // Jobs taken together: the ports' opens and closes are committed in one transaction and their lines
    // filed in one append per file when several wait, so that a busy station pays one sync for many.
    static constexpr size_t kMostInBatch = 64;

    bool Submit(Job& job);
    void Run();
    std::vector<Job*> TakeBatch();
    void Finish(const std::vector<Job*>& batch, Kind kind);
    void Prepare(Job& job);
    bool Perform(StationDatabase& database, Job& job);
    bool WriteTogether(StationDatabase& database, const std::vector<Job*>& batch);
    bool Close(StationDatabase& database, const AttemptRecord& record, const JournalMessages& messages);
    // The record's lines as the day files take them.
    StationDatabase::UnfiledLines LinesOf(const AttemptRecord& record) const;
    void CloseInterrupted(StationDatabase& database);
    // Tries the commit until it succeeds or the writer gives up.
    bool Commit(const std::function<bool(QString&)>& commit);
    void FileLines();
    void Claim();

    const QString folder;
    const StationIdentity identity;
    const QString instance;

    mutable std::mutex lock;
    std::condition_variable queued;
    std::condition_variable finished;
    std::condition_variable wake; // a retry's wait ends early on Halt and at exit
    std::deque<Job*> jobs;
    bool stopping = false;
    bool halted = false;
    std::chrono::milliseconds retry = kDefaultRetry;
    std::function<QString()> commitFault;
    AttemptMessages* messages = nullptr;
    std::function<void(const QString&)> onTrouble;
    std::function<void()> onRecovered;
    std::function<void(const QString&)> onRebuilt;
    QString lastRebuild;

    std::atomic<int64_t> written{0};
    std::atomic<int64_t> failed{0};
    std::atomic<int64_t> filesFailed{0};
    std::atomic<int64_t> interrupted{0};
    std::atomic<int64_t> pending{0};
    std::atomic<int64_t> rebuilds{0};

    // Writer thread only.
    std::unique_ptr<InstanceClaim> claim; // taken before the first attempt is opened
    DayFiles dayFiles;
    bool troubled = false;
    bool filesFailing = false;
    bool retrying = true; // a failed commit is tried again until it succeeds or the writer gives up
    bool filingDue = false; // closed records wait for their lines to be filed before their ports go on
    QSet<QString> opened;                               // attempts opened and not closed by this writer
    std::vector<StationDatabase::UnfiledLines> unfiled; // closed, in the journal, not in both day files
    std::vector<qint64> filed;                          // in both day files, still in the journal

    // Last, so that everything the thread uses exists before it starts.
    std::thread thread;
};
