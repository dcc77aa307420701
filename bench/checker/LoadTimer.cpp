#include "LoadTimer.h"

#include "quillcheck_sim.h"
#include "quillon.h"

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>

#include <cstdio>

#include <fcntl.h>
#include <unistd.h>

LoadTimer::LoadTimer(const QString& scatterPath, const QStringList& images, uint64_t bytes)
    : scatterPath(scatterPath), images(images), bytes(bytes)
{
}

double LoadTimer::Checker(int hashing) const
{
    quillcheck_sim_configure(hashing, 0);
    const QByteArray path = scatterPath.toUtf8();
    QElapsedTimer timer;
    timer.start();
    const int result = quillon_images_checker_verify(path.constData(), nullptr);
    const double seconds = double(timer.nsecsElapsed()) / 1e9;
    if (result != QUILLON_OK) {
        std::printf("checker failed (%d): %s\n", result, quillon_images_checker_last_error_msg());
        return -1;
    }
    return seconds;
}

double LoadTimer::Tool(const QString& program, const QStringList& arguments) const
{
    const QString found = QStandardPaths::findExecutable(program);
    if (found.isEmpty()) {
        std::printf("%s is not installed\n", qPrintable(program));
        return -1;
    }
    QProcess process;
    process.setStandardOutputFile(QProcess::nullDevice());
    QElapsedTimer timer;
    timer.start();
    process.start(found, arguments + images);
    if (!process.waitForFinished(-1) || process.exitStatus() != QProcess::NormalExit ||
        process.exitCode() != 0) {
        std::printf("%s failed: %s\n", qPrintable(program), process.readAllStandardError().constData());
        return -1;
    }
    return double(timer.nsecsElapsed()) / 1e9;
}

bool LoadTimer::Evict() const
{
    for (const QString& image : images) {
        const int fd = ::open(QFile::encodeName(image).constData(), O_RDONLY | O_CLOEXEC);
        if (fd < 0)
            return false;
        // Dirty pages are not dropped; written ones are.
        ::fdatasync(fd);
        const int advised = posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
        ::close(fd);
        if (advised != 0)
            return false;
    }
    return true;
}

bool LoadTimer::Warm() const
{
    return Tool(QStringLiteral("cat"), {}) >= 0;
}

double LoadTimer::Rate(double seconds) const
{
    return seconds > 0 ? double(bytes) / seconds / 1e9 : 0;
}
