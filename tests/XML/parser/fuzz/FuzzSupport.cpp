#include "FuzzSupport.h"

#include <QDir>
#include <QFile>

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>

namespace FuzzSupport {

namespace {

QString FolderPath()
{
    return QDir::temp().absoluteFilePath(QStringLiteral("pxl_fuzz_%1").arg(getpid()));
}

void RemoveFolder()
{
    QDir(FolderPath()).removeRecursively();
}

QString InputFolder()
{
    static const QString folder = [] {
        const QString path = FolderPath();
        QDir().mkpath(path);
        std::atexit(&RemoveFolder);
        QFile schema(path + QStringLiteral("/flash.xsd"));
        if (schema.open(QIODevice::WriteOnly)) {
            schema.write("<schema/>");
        }
        return path;
    }();
    return folder;
}

} // namespace

QString AsUtf16(const uint8_t* data, size_t size)
{
    return QString(reinterpret_cast<const QChar*>(data), static_cast<int>(size / sizeof(QChar)));
}

QByteArray Shape(const uint8_t* data, size_t size, const QByteArray& prefix, const QByteArray& suffix)
{
    const char* bytes = reinterpret_cast<const char*>(data);
    if (size == 0 || (data[0] & 1) == 0) {
        return QByteArray(bytes, static_cast<int>(size));
    }
    return prefix + QByteArray(bytes + 1, static_cast<int>(size - 1)) + suffix;
}

QString WriteInput(const QByteArray& input, const QString& fileName)
{
    const QString path = InputFolder() + QLatin1Char('/') + fileName;
    QFile file(path);
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        file.write(input);
    }
    return path;
}

} // namespace FuzzSupport

// Every refused input writes a log line; sent to standard output they would cost more than the parse.
extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    fflush(stdout);
    const int devNull = open("/dev/null", O_WRONLY);
    if (devNull >= 0) {
        dup2(devNull, STDOUT_FILENO);
        close(devNull);
    }
    return 0;
}
