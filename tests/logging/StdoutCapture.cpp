#include "StdoutCapture.h"

#include <QFile>

#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

StdoutCapture::StdoutCapture(const QString& capturePath) : path(capturePath)
{
    fflush(stdout);
    const int fd = open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) {
        return;
    }
    savedFd = dup(STDOUT_FILENO);
    dup2(fd, STDOUT_FILENO);
    close(fd);
}

StdoutCapture::~StdoutCapture()
{
    Finish();
}

QByteArray StdoutCapture::Finish()
{
    if (savedFd < 0) {
        return QByteArray();
    }
    fflush(stdout);
    dup2(savedFd, STDOUT_FILENO);
    close(savedFd);
    savedFd = -1;
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}
