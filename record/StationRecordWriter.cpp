#include "StationRecordWriter.h"

#include "Utility/BuildInfo.h"
#include "record/LockedAppend.h"
#include "record/RecordFiles.h"
#include "record/StationDatabase.h"
#include "logging/Log.h"
#include "platform/Platform.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QSysInfo>
#include <QTemporaryFile>

#include <algorithm>

static constexpr char kLogSource[] = "record\\StationRecordWriter";

using namespace StationRecordFormat;

namespace {

const QString kJsonExtension = QStringLiteral(".jsonl");
const QString kCsvExtension = QStringLiteral(".csv");

QString Native(const QString& path)
{
    return QDir::toNativeSeparators(path);
}

} // namespace

StationRecordWriter::StationRecordWriter(const QString& folder, int lockTimeoutMs)
    : folder(QDir::cleanPath(folder)), identity(ThisStation()), instance(AttemptRecord::NewId()),
      dayFiles(this->folder, lockTimeoutMs)
{
    thread = std::thread(&StationRecordWriter::Run, this);
}

StationRecordWriter::~StationRecordWriter()
{
    {
        std::lock_guard<std::mutex> guard(lock);
        stopping = true;
    }
    queued.notify_one();
    wake.notify_all();
    thread.join();
}

QString StationRecordWriter::DefaultFolder()
{
    return Logger::Instance().LogRootPath() + QStringLiteral("/Station");
}

QString StationRecordWriter::CheckFolder(const QString& folder)
{
    if (folder.isEmpty())
        return QStringLiteral("no folder is given for the station record");
    QString reason;
    if (!RecordFiles::MakeFolder(folder, reason))
        return QStringLiteral("cannot create the folder %1: %2").arg(Native(folder), reason);
    // Only a real file shows that the folder takes files: permissions alone miss read-only mounts and ACLs.
    QTemporaryFile probe(folder + QStringLiteral("/.station-probe-XXXXXX"));
    if (!probe.open())
        return QStringLiteral("cannot create a file in %1: %2").arg(Native(folder), probe.errorString());
    const QByteArray probeText("probe\n");
    if (probe.write(probeText) != probeText.size() || !probe.flush())
        return QStringLiteral("cannot write a file in %1: %2").arg(Native(folder), probe.errorString());
    const QString base = folder + QLatin1Char('/') + DayFileBase(QDateTime::currentDateTimeUtc().date());
    const QString database = StationDatabase::Path(folder);
    // A dangling link "exists" for nobody but the system, so links are looked for by name.
    const QString refused =
        RecordFiles::RefuseLinks({base + kJsonExtension, base + kCsvExtension, database,
                                  database + QStringLiteral("-wal"), database + QStringLiteral("-shm")});
    if (!refused.isEmpty())
        return refused;
    for (const QString& path : {base + kJsonExtension, base + kCsvExtension}) {
        if (!QFileInfo::exists(path))
            continue;
        const Platform::FileHandle file = Platform::OpenForAppend(path, reason);
        if (file == Platform::kNoFile)
            return QStringLiteral("cannot append to %1: %2").arg(Native(path), reason);
        Platform::CloseFile(file);
    }
    return QString();
}

QString StationRecordWriter::ToolVersion()
{
    return QStringLiteral("%1 (%2)").arg(QLatin1String(BuildInfo::Version()),
                                         QLatin1String(BuildInfo::CommitId()));
}

StationIdentity StationRecordWriter::ThisStation()
{
    return {QSysInfo::machineHostName(), ToolVersion()};
}

void StationRecordWriter::SetMessages(AttemptMessages* messages)
{
    std::lock_guard<std::mutex> guard(lock);
    this->messages = messages;
}

void StationRecordWriter::SetTroubleHandler(std::function<void(const QString&)> trouble,
                                            std::function<void()> recovered)
{
    std::lock_guard<std::mutex> guard(lock);
    onTrouble = std::move(trouble);
    onRecovered = std::move(recovered);
}

void StationRecordWriter::SetRebuildHandler(std::function<void(const QString&)> rebuilt)
{
    std::lock_guard<std::mutex> guard(lock);
    onRebuilt = std::move(rebuilt);
}

QString StationRecordWriter::LastRebuild() const
{
    std::lock_guard<std::mutex> guard(lock);
    return lastRebuild;
}

void StationRecordWriter::SetRetryInterval(std::chrono::milliseconds interval)
{
    std::lock_guard<std::mutex> guard(lock);
    retry = interval;
}

void StationRecordWriter::SetCommitFault(std::function<QString()> fault)
{
    std::lock_guard<std::mutex> guard(lock);
    commitFault = std::move(fault);
}

void StationRecordWriter::CatchUp()
{
    Job job{Kind::CatchUp, nullptr, {}};
    Submit(job);
}

bool StationRecordWriter::Started(const AttemptRecord& attempt)
{
    Job job{Kind::Open, &attempt, {}};
    AttemptMessages* factory = nullptr;
    {
        std::lock_guard<std::mutex> guard(lock);
        factory = messages;
    }
    if (factory != nullptr)
        job.messages = factory->Started(attempt);
    return Submit(job);
}

bool StationRecordWriter::Record(const AttemptRecord& record)
{
    Job job{Kind::Close, &record, {}};
    return Submit(job);
}

void StationRecordWriter::Halt()
{
    {
        std::lock_guard<std::mutex> guard(lock);
        halted = true;
    }
    wake.notify_all();
}

void StationRecordWriter::Resume()
{
    std::lock_guard<std::mutex> guard(lock);
    halted = false;
}

bool StationRecordWriter::Submit(Job& job)
{
    std::unique_lock<std::mutex> guard(lock);
    ++pending;
    jobs.push_back(&job);
    queued.notify_one();
    finished.wait(guard, [&job] { return job.done; });
    return job.ok;
}

void StationRecordWriter::Run()
{
    // Opened, used and closed on this thread alone, as a database connection requires.
    StationDatabase database(folder, identity);
    database.SetRebuildReport([this](const QString& report) {
        std::function<void(const QString&)> tell;
        {
            std::lock_guard<std::mutex> guard(lock);
            tell = onRebuilt;
            lastRebuild = report;
        }
        ++rebuilds;
        if (tell)
            tell(report);
    });
    std::unique_lock<std::mutex> guard(lock);
    for (;;) {
        queued.wait(guard, [this] { return stopping || !jobs.empty(); });
        if (jobs.empty())
            break;
        const std::vector<Job*> batch = TakeBatch();
        // A rebuild queues again the messages whose delivery it no longer knows.
        database.SetMessages(messages);
        guard.unlock();
        for (Job* job : batch)
            Prepare(*job);
        const bool together = batch.size() > 1 && WriteTogether(database, batch);
        if (!together) {
            for (Job* job : batch)
                job->ok = Perform(database, *job);
        }
        // An open holds its device back, a close only its port's next scan: the opens go on as soon as the
        // journal has them, the closes once their lines are in the day files as well.
        // A finished open's worker goes on and its job is gone with its stack, so the jobs finished after the
        // day files are picked out while every job of the batch is still there.
        std::vector<Job*> later;
        for (Job* job : batch) {
            if (job->kind != Kind::Open)
                later.push_back(job);
        }
        guard.lock();
        Finish(batch, Kind::Open);
        guard.unlock();
        if (filingDue)
            FileLines();
        guard.lock();
        Finish(later, Kind::Close);
        Finish(later, Kind::CatchUp);
    }
    guard.unlock();
    // One more try for lines a file could not take, then the journal forgets what the files have, so that
    // the next start neither waits for them nor looks for them.
    if (!unfiled.empty())
        FileLines();
    QString error;
    database.ForgetFiled(filed, error);
}

// Called with lock held. Every waiting port wakes to look, so only when one of them may go on.
void StationRecordWriter::Finish(const std::vector<Job*>& batch, Kind kind)
{
    bool any = false;
    for (Job* job : batch) {
        if (job->kind == kind) {
            --pending;
            job->done = true;
            any = true;
        }
    }
    if (any)
        finished.notify_all();
}

// Called with lock held. A catch-up is taken alone: the opens after it wait for what it closes.
std::vector<StationRecordWriter::Job*> StationRecordWriter::TakeBatch()
{
    std::vector<Job*> batch;
    while (!jobs.empty() && batch.size() < kMostInBatch) {
        const bool catchUp = jobs.front()->kind == Kind::CatchUp;
        if (catchUp && !batch.empty())
            break;
        batch.push_back(jobs.front());
        jobs.pop_front();
        if (catchUp)
            break;
    }
    return batch;
}

void StationRecordWriter::Prepare(Job& job)
{
    switch (job.kind) {
    case Kind::Open:
        Claim();
        break;
    case Kind::Close:
        // An attempt that never found its device had no unit to work on: no message tells of it.
        job.messages = opened.remove(job.record->attempt) && messages != nullptr ? messages->Ended(*job.record)
                                                                                 : JournalMessages();
        break;
    case Kind::CatchUp:
        break;
    }
}

bool StationRecordWriter::Perform(StationDatabase& database, Job& job)
{
    switch (job.kind) {
    case Kind::Open: {
        const AttemptRecord& started = *job.record;
        const bool ok = Commit([&](QString& error) {
            return database.OpenAttempt(started, instance, job.messages, error);
        });
        if (ok) {
            opened.insert(started.attempt);
            if (messages != nullptr && !job.messages.empty())
                messages->Stored();
        }
        return ok;
    }
    case Kind::Close: {
        const bool ok = Close(database, *job.record, job.messages);
        if (!ok) {
            ++failed;
            LOGE("StationRecordWriter::Record", "Station record of row %d (%s, attempt %s) lost: %s",
                 job.record->row, job.record->port.toUtf8().constData(), job.record->attempt.toUtf8().constData(),
                 "the journal could not take it before the station was stopped");
        }
        return ok;
    }
    case Kind::CatchUp: {
        // Called as the station starts, before any port: a journal in trouble is found by the first attempt,
        // which waits for it, not by the start, which must not.
        retrying = false;
        CloseInterrupted(database);
        retrying = true;
        std::vector<StationDatabase::UnfiledLines> waiting;
        QString error;
        if (!database.Unfiled(waiting, error)) {
            LOGE("StationRecordWriter::CatchUp", "Station journal cannot be read to catch the day files up: %s",
                 error.toUtf8().constData());
            return false;
        }
        dayFiles.MarkFiled(waiting);
        // Lines a file refused just now are in hand already; taken twice they would be appended twice.
        for (const StationDatabase::UnfiledLines& line : waiting) {
            const auto held = [&line](const StationDatabase::UnfiledLines& other) { return other.id == line.id; };
            if (std::none_of(unfiled.begin(), unfiled.end(), held))
                unfiled.push_back(line);
        }
        FileLines();
        if (database.ForgetFiled(filed, error))
            filed.clear();
        return true;
    }
    }
    return false;
}

// One try for the whole batch; when it fails, each job goes its own way, which tells the operator, waits
// for the journal and gives up as a single one does.
bool StationRecordWriter::WriteTogether(StationDatabase& database, const std::vector<Job*>& batch)
{
    if (troubled)
        return false;
    {
        std::lock_guard<std::mutex> guard(lock);
        if (commitFault)
            return false;
    }
    std::vector<StationDatabase::UnfiledLines> lines(batch.size());
    std::vector<StationDatabase::JournalEntry> entries;
    entries.reserve(batch.size());
    for (size_t i = 0; i < batch.size(); ++i) {
        const Job& job = *batch[i];
        StationDatabase::JournalEntry entry;
        entry.record = job.record;
        entry.messages = &job.messages;
        if (job.kind == Kind::Close) {
            lines[i] = LinesOf(*job.record);
            entry.lines = &lines[i];
        }
        entries.push_back(entry);
    }
    QString error;
    if (!database.Write(entries, instance, filed, error))
        return false;
    filed.clear();
    bool stored = false;
    for (size_t i = 0; i < batch.size(); ++i) {
        Job& job = *batch[i];
        job.ok = true;
        stored = stored || !job.messages.empty();
        if (job.kind == Kind::Open) {
            opened.insert(job.record->attempt);
            continue;
        }
        ++written;
        if (entries[i].closed)
            unfiled.push_back(lines[i]);
    }
    if (messages != nullptr && stored)
        messages->Stored();
    filingDue = true;
    return true;
}

StationDatabase::UnfiledLines StationRecordWriter::LinesOf(const AttemptRecord& record) const
{
    StationDatabase::UnfiledLines lines;
    lines.day = RecordDay(record);
    lines.json = JsonLine(identity, record);
    lines.csv = CsvLine(identity, record);
    return lines;
}

bool StationRecordWriter::Close(StationDatabase& database, const AttemptRecord& record,
                                const JournalMessages& last)
{
    StationDatabase::UnfiledLines lines = LinesOf(record);
    bool closed = false;
    const bool ok = Commit([&](QString& error) {
        return database.CloseAttempt(record, lines, last, filed, closed, error);
    });
    if (!ok)
        return false;
    filed.clear();
    ++written;
    if (!closed)
        return true;
    if (messages != nullptr && !last.empty())
        messages->Stored();
    unfiled.push_back(lines);
    filingDue = true;
    return true;
}

void StationRecordWriter::CloseInterrupted(StationDatabase& database)
{
    std::vector<StationDatabase::OpenedAttempt> left;
    QString error;
    if (!database.OpenAttempts(identity.station, left, error)) {
        LOGE("StationRecordWriter::CatchUp", "Station journal: open attempts cannot be read: %s",
             error.toUtf8().constData());
        return;
    }
    QHash<QString, bool> gone;
    int64_t closedNow = 0;
    for (StationDatabase::OpenedAttempt& open : left) {
        if (open.instance == instance)
            continue;
        auto known = gone.find(open.instance);
        if (known == gone.end())
            known = gone.insert(open.instance, InstanceClaim::Gone(folder, open.instance));
        if (!*known)
            continue;
        AttemptRecord record = open.started;
        record.end = QDateTime::currentDateTimeUtc();
        record.result = QStringLiteral("CANL");
        record.failureKind = FailureKind::Interrupted;
        record.error = QStringLiteral("The station stopped during this attempt (killed, crashed or switched off); "
                                      "nobody saw it end, so the device must be flashed again.");
        const JournalMessages last = messages != nullptr ? messages->Ended(record) : JournalMessages();
        if (Close(database, record, last))
            ++closedNow;
    }
    interrupted += closedNow;
    if (closedNow > 0)
        LOGI("StationRecordWriter::CatchUp", "Closed %lld attempts left open by a station that stopped during them.",
             static_cast<long long>(closedNow));
}

bool StationRecordWriter::Commit(const std::function<bool(QString&)>& commit)
{
    for (;;) {
        QString error;
        std::function<QString()> fault;
        std::chrono::milliseconds interval;
        {
            std::lock_guard<std::mutex> guard(lock);
            fault = commitFault;
            interval = retry;
        }
        if (fault)
            error = fault();
        if (error.isEmpty() && commit(error)) {
            if (troubled) {
                troubled = false;
                LOGI("StationRecordWriter::Commit", "Station record written again; the ports go on.");
                if (onRecovered)
                    onRecovered();
            }
            return true;
        }
        if (!troubled) {
            troubled = true;
            const QString reason = QStringLiteral("The station record cannot be written to %1: %2")
                                       .arg(Native(folder), error);
            // Every port waits now, so one line tells the operator; the retries are not logged.
            LOGE("StationRecordWriter::Commit", "%s. No port goes on until it can; trying again every %lld ms.",
                 reason.toUtf8().constData(), static_cast<long long>(interval.count()));
            if (onTrouble)
                onTrouble(reason);
        }
        std::unique_lock<std::mutex> guard(lock);
        if (halted || stopping || !retrying)
            return false;
        wake.wait_for(guard, interval, [this] { return halted || stopping; });
        if (halted || stopping)
            return false;
    }
}

// Without its claim the station's open attempts could be taken for a stopped station's: it still records,
// says once why a later start may close some of them too early, and tries again with the next attempt.
void StationRecordWriter::Claim()
{
    if (claim && claim->Problem().isEmpty())
        return;
    const bool first = !claim;
    claim.reset();
    claim = std::make_unique<InstanceClaim>(folder, instance);
    if (first && !claim->Problem().isEmpty())
        LOGE("StationRecordWriter::Claim", "Station record: %s", claim->Problem().toUtf8().constData());
}

void StationRecordWriter::FileLines()
{
    filingDue = false;
    QString error;
    const int failures = dayFiles.File(unfiled, error);
    if (failures > 0) {
        filesFailed += failures;
        if (!filesFailing)
            LOGE("StationRecordWriter::FileLines",
                 "Station day file not written (the journal keeps the record, the file gets it later): %s",
                 error.toUtf8().constData());
        filesFailing = true;
    }
    auto line = unfiled.begin();
    while (line != unfiled.end()) {
        if (line->jsonDone && line->csvDone) {
            filed.push_back(line->id);
            line = unfiled.erase(line);
        } else {
            ++line;
        }
    }
    if (filesFailing && unfiled.empty()) {
        filesFailing = false;
        LOGI("StationRecordWriter::FileLines", "Station day files written again; the records they lacked are in.");
    }
}
