// What version of a file a path leads to, for a watch that must see a file rewritten with its times put back.
#include "platform/Platform.h"

#include <QDir>
#include <QFile>

#ifdef Q_OS_WIN
#include <windows.h>

namespace Platform {

namespace {

// 100 ns ticks since 1601, as Windows keeps file times; only compared, never shown.
int64_t Ticks(const LARGE_INTEGER& time) { return int64_t(time.QuadPart) * 100; }

} // namespace

FileVersion VersionOf(const QString& path)
{
    FileVersion version;
    const QString native = QDir::toNativeSeparators(path);
    // Attributes only, shared every way, so a version is read while the engine streams the file.
    const HANDLE file = CreateFileW(reinterpret_cast<const wchar_t*>(native.utf16()), FILE_READ_ATTRIBUTES,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return version;
    BY_HANDLE_FILE_INFORMATION information;
    FILE_BASIC_INFO basic;
    if (GetFileInformationByHandle(file, &information) &&
        GetFileInformationByHandleEx(file, FileBasicInfo, &basic, sizeof basic)) {
        version.exists = true;
        version.regular = (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
        version.volume = information.dwVolumeSerialNumber;
        version.file = (uint64_t(information.nFileIndexHigh) << 32) | information.nFileIndexLow;
        version.size = (int64_t(information.nFileSizeHigh) << 32) | information.nFileSizeLow;
        version.modifiedNs = Ticks(basic.LastWriteTime);
        version.changedNs = Ticks(basic.ChangeTime);
    }
    CloseHandle(file);
    return version;
}

} // namespace Platform

#else
#include <sys/stat.h>

namespace Platform {

FileVersion VersionOf(const QString& path)
{
    FileVersion version;
    struct stat info;
    if (stat(QFile::encodeName(path).constData(), &info) != 0)
        return version;
    version.exists = true;
    version.regular = S_ISREG(info.st_mode);
    version.volume = static_cast<uint64_t>(info.st_dev);
    version.file = static_cast<uint64_t>(info.st_ino);
    version.size = static_cast<int64_t>(info.st_size);
    version.modifiedNs = int64_t(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec;
    version.changedNs = int64_t(info.st_ctim.tv_sec) * 1000000000 + info.st_ctim.tv_nsec;
    return version;
}

} // namespace Platform
#endif
