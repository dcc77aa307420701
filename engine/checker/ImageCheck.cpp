#include "ImageCheck.h"

#include "LoadFormat.h"
#include "LoadPlan.h"

#include <QStringList>

namespace quillcheck {

namespace {

const QString kCancelled = QStringLiteral("Operation cancelled by user");

} // namespace

ImageCheck::ImageCheck(const CheckerCallbacks& callbacks, std::vector<std::unique_ptr<HashBackend>> backends,
                       unsigned threads)
    : callbacks(callbacks), backends(std::move(backends)), threads(threads),
      progress(callbacks.progress, callbacks.user)
{
}

bool ImageCheck::StopRequested() const
{
    return callbacks.stop != nullptr && callbacks.stop(callbacks.user) != 0;
}

CheckStatus ImageCheck::Run(const char* scatterPath)
{
    std::vector<ImageJob> jobs;
    const CheckStatus planned = LoadPlan::Make(scatterPath, jobs);
    if (!planned.Ok())
        return planned;
    return HashAll(jobs);
}

CheckStatus ImageCheck::Judge(const std::vector<ImageJob>& jobs, const HashOutcome& outcome) const
{
    if (!outcome.ok)
        return CheckStatus::Fail(outcome.code, outcome.reason);
    const ImageJob& job = jobs[outcome.job];
    const QString actual = loadformat::ChecksumText(outcome.hash);
    if (actual != job.expected)
        return CheckStatus::Fail(
            QUILLON_E_CHECKSUM_MISMATCH,
            QStringLiteral("Image \"%1\" (%2) has checksum %3, the checksum list expects %4")
                .arg(job.name, job.path, actual, job.expected));
    return CheckStatus::Success();
}

HashBackend* ImageCheck::StartBackend(const std::vector<ImageJob>& jobs, QString& error)
{
    QStringList reasons;
    for (const std::unique_ptr<HashBackend>& backend : backends) {
        QString reason;
        if (backend->Start(jobs, threads, reason))
            return backend.get();
        reasons << reason;
    }
    error = reasons.join(QStringLiteral("; "));
    return nullptr;
}

CheckStatus ImageCheck::HashAll(const std::vector<ImageJob>& jobs)
{
    uint64_t total = 0;
    for (const ImageJob& job : jobs)
        total += job.size;
    progress.Report(0, 0, jobs.front().nameUtf8);
    if (StopRequested())
        return CheckStatus::Fail(QUILLON_E_CANCELLED, kCancelled);

    QString error;
    HashBackend* const backend = StartBackend(jobs, error);
    if (backend == nullptr)
        return CheckStatus::Fail(QUILLON_E_FAILED, error);

    size_t verified = 0;
    std::vector<HashOutcome> outcomes;
    int lastJob = 0;
    for (;;) {
        outcomes.clear();
        const bool more = backend->Wait(kPollInterval, outcomes);
        for (const HashOutcome& outcome : outcomes) {
            const CheckStatus judged = Judge(jobs, outcome);
            if (!judged.Ok()) {
                backend->Abandon();
                return judged;
            }
            lastJob = int(outcome.job);
            ++verified;
        }
        if (verified == jobs.size())
            break;
        if (!more) {
            backend->Abandon();
            return CheckStatus::Fail(
                QUILLON_E_FAILED, QStringLiteral("The hashing ended after %1 of %2 images without a reason")
                                      .arg(verified)
                                      .arg(jobs.size()));
        }
        const int current = backend->CurrentJob();
        const QByteArray& name =
            jobs[current >= 0 && size_t(current) < jobs.size() ? size_t(current) : 0].nameUtf8;
        const uint64_t done = backend->BytesDone();
        progress.Report(ProgressThinner::RunningPercent(done, total), done, name);
        if (StopRequested()) {
            backend->Abandon();
            return CheckStatus::Fail(QUILLON_E_CANCELLED, kCancelled);
        }
    }
    backend->Abandon();
    progress.Report(100, total, jobs[size_t(lastJob)].nameUtf8);
    return CheckStatus::Success();
}

} // namespace quillcheck
