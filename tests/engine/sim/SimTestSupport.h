// Helpers shared by the farm tests: farm files, small random loads, command documents and engine restarts.
#pragma once

#include "quillon.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

#include <atomic>

namespace simtest {

struct SampleImage
{
    QString partition;
    QString name; // "NONE" for a partition that is not downloaded
    int size = 0;
};

struct SampleLoad
{
    QString folder;
    QString scatterPath;
    QString flashXmlPath;
    QHash<QString, QString> checksums;  // image name -> checksum of the file on disk
    QHash<QString, QString> partitions; // image name -> partition
};

// Writes a farm file in the working folder and returns its absolute path.
QString WriteFarm(const QString& name, const QString& text);
// A load of random images with its scatter file, flash XML and checksum list.
SampleLoad WriteLoad(const QString& folder, const QList<SampleImage>& images);
QString WriteFile(const QString& path, const QByteArray& bytes);

QByteArray Command(const QString& name, const QList<QPair<QString, QString>>& args = {});
QByteArray RuntimeParameters();
QString MemoryTarget(const void* address, quint64 length);

// Cleans up, configures the farm from the file and starts the engine; false with the engine's text.
bool Restart(const QString& farmFile, QString* error = nullptr);
QString LastError(QuillonSession* session = nullptr);

int Scan(const QString& uri, QByteArray& description, unsigned int timeoutMs,
         const ScanCallbacks* callbacks = nullptr);
// Creates a session, finds the device, connects and enters DA mode; null with the failure in error.
QuillonSession* OpenDaSession(const QString& uri, const SampleLoad& load, QString& error,
                              const OperationCallbacks* callbacks = nullptr);

// The device's "hrid" or "socid" as its firmware-information answer gives it; empty when the query fails.
QString FirmwareId(QuillonSession* session, const QString& name);

// The feedback file's items: file name -> (checksum, partition).
QHash<QString, QPair<QString, QString>> ReadFeedback(const QString& path, QString& error);

struct StopFlag
{
    std::atomic<bool> stop{false};
    std::atomic<int> polls{0};

    static int Query(void* user);
    ScanCallbacks ScanRecord() { return ScanCallbacks{this, &StopFlag::Query}; }
    OperationCallbacks OperationRecord()
    {
        return OperationCallbacks{this, &StopFlag::Query, nullptr, nullptr, nullptr, nullptr, nullptr};
    }
};

} // namespace simtest
