#include "HelperHashBackend.h"

#include "HelperProtocol.h"
#include "quillon.h"

#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <dlfcn.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace quillcheck {

namespace {

// Any function of this library tells where the library was loaded from.
void Anchor() {}

QString ErrorText(int error)
{
    return QString::fromLocal8Bit(strerror(error));
}

QString Ending(int status)
{
    if (status < 0)
        return QStringLiteral("ended (its status is unknown)");
    if (WIFSIGNALED(status))
        return QStringLiteral("was ended by signal %1").arg(WTERMSIG(status));
    return QStringLiteral("exited with code %1").arg(WEXITSTATUS(status));
}

} // namespace

HelperHashBackend::HelperHashBackend(const QByteArray& helperPath, HelperMethod method)
    : helperPath(helperPath), method(method)
{
}

HelperHashBackend::~HelperHashBackend()
{
    Abandon();
}

QByteArray HelperHashBackend::FindHelper()
{
    Dl_info info;
    if (dladdr(reinterpret_cast<void*>(&Anchor), &info) == 0 || info.dli_fname == nullptr)
        return QByteArray();
    const QFileInfo library(QFile::decodeName(info.dli_fname));
    const QFileInfo helper(library.absolutePath() + QLatin1Char('/') + QLatin1String(kHelperName));
    if (!helper.isFile() || !helper.isExecutable())
        return QByteArray();
    return QFile::encodeName(helper.absoluteFilePath());
}

bool HelperHashBackend::Start(const std::vector<ImageJob>& toHash, unsigned threads, QString& error)
{
    jobs = &toHash;
    hashedOfJob.assign(toHash.size(), 0);
    reported.assign(toHash.size(), false);

    std::vector<QByteArray> words{helperPath, QByteArray::number(std::min(threads, kHelperMaxThreads)),
                                  QByteArray(1, char(method))};
    for (const ImageJob& job : toHash) {
        words.push_back(QByteArray::number(qulonglong(job.size)));
        words.push_back(job.localPath);
    }
    std::vector<char*> argv;
    for (QByteArray& word : words)
        argv.push_back(word.data());
    argv.push_back(nullptr);

    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0) {
        error = QStringLiteral("Cannot create a pipe for the hashing helper: %1").arg(ErrorText(errno));
        return false;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, ends[1], STDOUT_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
#if defined(__GLIBC__) && __GLIBC_PREREQ(2, 34)
    // Whatever the tool has open (ports, logs, locks) stays out of the helper.
    posix_spawn_file_actions_addclosefrom_np(&actions, STDERR_FILENO + 1);
#endif
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    // The tool's blocked or ignored signals are none of the helper's business.
    sigset_t none;
    sigset_t all;
    sigemptyset(&none);
    sigfillset(&all);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &all);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    const int spawned =
        posix_spawn(&pid, helperPath.constData(), &actions, &attributes, argv.data(), environ);
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    ::close(ends[1]);
    if (spawned != 0) {
        pid = -1;
        ::close(ends[0]);
        error = QStringLiteral("Cannot start the hashing helper %1: %2")
                    .arg(QFile::decodeName(helperPath), ErrorText(spawned));
        return false;
    }
    fd = ends[0];
    return true;
}

bool HelperHashBackend::Wait(std::chrono::milliseconds wait, std::vector<HashOutcome>& outcomes)
{
    if (fd < 0)
        return false;
    pollfd watched{fd, POLLIN, 0};
    const int ready = ::poll(&watched, 1, int(wait.count()));
    if (ready <= 0)
        return true;
    char buffer[64 * 1024];
    const ssize_t got = ::read(fd, buffer, sizeof buffer);
    if (got < 0)
        return errno == EINTR || errno == EAGAIN;
    if (got == 0) {
        Finish(outcomes);
        return false;
    }
    pending.append(buffer, int(got));
    Consume(outcomes);
    return true;
}

void HelperHashBackend::Consume(std::vector<HashOutcome>& outcomes)
{
    const int whole = pending.size() - pending.size() % int(sizeof(HelperRecord));
    for (int offset = 0; offset < whole; offset += int(sizeof(HelperRecord))) {
        HelperRecord record;
        std::memcpy(&record, pending.constData() + offset, sizeof record);
        if (record.job >= jobs->size())
            continue;
        switch (HelperRecordKind(record.kind)) {
        case HelperRecordKind::Started:
            current = int(record.job);
            break;
        case HelperRecordKind::Progress:
            if (record.value > hashedOfJob[record.job]) {
                bytesDone += record.value - hashedOfJob[record.job];
                hashedOfJob[record.job] = record.value;
            }
            break;
        case HelperRecordKind::Hashed: {
            // Progress records are rate-limited, so the last one may fall short of the image's end.
            bytesDone += (*jobs)[record.job].size - hashedOfJob[record.job];
            hashedOfJob[record.job] = (*jobs)[record.job].size;
            HashOutcome outcome;
            outcome.job = record.job;
            outcome.ok = true;
            outcome.hash = record.value;
            reported[record.job] = true;
            outcomes.push_back(outcome);
            break;
        }
        case HelperRecordKind::Failed:
            reported[record.job] = true;
            outcomes.push_back(Translate(record.job, record.value));
            break;
        }
    }
    pending.remove(0, whole);
}

HashOutcome HelperHashBackend::Translate(uint32_t job, uint64_t value) const
{
    const ImageJob& image = (*jobs)[job];
    const auto failure = HelperFailure(uint32_t(value >> 32));
    const int detail = int(uint32_t(value));
    HashOutcome outcome;
    outcome.job = job;
    outcome.code = QUILLON_E_IMAGE_UNREADABLE;
    switch (failure) {
    case HelperFailure::OpenFailed:
        if (detail == ENOENT)
            outcome.code = QUILLON_E_IMAGE_MISSING;
        outcome.reason = QStringLiteral("Image %1 cannot be opened: %2").arg(image.path, ErrorText(detail));
        break;
    case HelperFailure::NotRegular:
        outcome.reason = QStringLiteral("Image %1 is no longer a regular file").arg(image.path);
        break;
    case HelperFailure::MapFailed:
        outcome.reason = QStringLiteral("Image %1 cannot be mapped: %2").arg(image.path, ErrorText(detail));
        break;
    case HelperFailure::ReadFailed:
        outcome.reason = QStringLiteral("Image %1 cannot be read: %2").arg(image.path, ErrorText(detail));
        break;
    case HelperFailure::CutShort:
        outcome.code = QUILLON_E_IMAGE_CHANGED;
        outcome.reason = QStringLiteral("Image %1 was cut short while it was hashed; it had %2 bytes")
                             .arg(image.path, QString::number(image.size));
        break;
    case HelperFailure::SizeChanged:
        outcome.code = QUILLON_E_IMAGE_CHANGED;
        outcome.reason = QStringLiteral("Image %1 changed size from %2 bytes while it was hashed")
                             .arg(image.path, QString::number(image.size));
        break;
    default:
        outcome.code = QUILLON_E_FAILED;
        outcome.reason = QStringLiteral("The hashing helper reported an unknown failure %1 for image %2")
                             .arg(uint32_t(failure))
                             .arg(image.path);
        break;
    }
    return outcome;
}

// Every image the helper left without a word fails with how the helper ended.
void HelperHashBackend::Finish(std::vector<HashOutcome>& outcomes)
{
    ::close(fd);
    fd = -1;
    const int status = Reap();
    for (size_t job = 0; job < reported.size(); ++job) {
        if (reported[job])
            continue;
        HashOutcome outcome;
        outcome.job = job;
        outcome.code = QUILLON_E_FAILED;
        outcome.reason = QStringLiteral("The hashing helper %1 before it hashed image %2")
                             .arg(Ending(status), (*jobs)[job].path);
        reported[job] = true;
        outcomes.push_back(outcome);
    }
}

int HelperHashBackend::Reap()
{
    if (pid <= 0)
        return -1;
    int status = 0;
    pid_t ended;
    do {
        ended = ::waitpid(pid, &status, 0);
    } while (ended < 0 && errno == EINTR);
    pid = -1;
    // A process that ignores SIGCHLD reaps its children itself; the pipe has told what matters.
    return ended < 0 ? -1 : status;
}

uint64_t HelperHashBackend::BytesDone() const
{
    return bytesDone;
}

int HelperHashBackend::CurrentJob() const
{
    return current;
}

void HelperHashBackend::Abandon()
{
    if (pid > 0)
        ::kill(pid, SIGKILL);
    Reap();
    if (fd >= 0) {
        ::close(fd);
        fd = -1;
    }
}

} // namespace quillcheck
