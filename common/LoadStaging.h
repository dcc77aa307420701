#pragma once

#include "common/LoadSnapshot.h"

#include <QString>

#include <cstdint>
#include <functional>

// A checked load as the station flashes it when staging is on: its own copy under the log root.
struct StagedLoad
{
    QString sourceFlashXml;
    QString flashXml; // the copy's
    QString scatter;  // the copy's
    QString folder;
    QString digest; // the load's digest, which names the folder
    bool reused = false; // the folder held this load already; nothing was copied
    qint64 bytes = 0;    // what the folder holds
};

// Copies a checked load into a folder of the station's own, named by the load's digest, with read-only files,
// so that a share that drops or a file rewritten at the source changes nothing for the run. The folder holds
// the flash XML and its schema, the scatter file below it as at the source, the images the scatter file or the
// checksum list names, and the checksum list as the check read it. A copy is made under a temporary name and
// renamed when whole, so a copy cut short by a crash or a full disk is never used; the last kKeptLoads loads
// are kept, older ones removed. Nothing here checks the copy's images: the caller runs the image checker on it.
class LoadStaging
{
public:
    static constexpr int kKeptLoads = 3;

    // percent of the copy, and the file being copied
    using Progress = std::function<void(unsigned percent, uint64_t copied, const QString& file)>;

    explicit LoadStaging(const QString& root) : root(root) {}

    // The source as its check saw it: copies it (or finds the copy already made) and confirms the source did
    // not change meanwhile. False with the reason in error.
    bool Stage(const LoadSnapshot& source, StagedLoad& staged, QString& error, const Progress& progress = Progress());

private:
    struct Plan
    {
        QStringList sources;
        QStringList targets; // relative to the stage folder, the same order: flash XML, scatter file first
        int textFiles = 0;   // the first ones, compared whole when a copy is found
        qint64 bytes = 0;
    };

    bool MakePlan(const LoadSnapshot& source, Plan& plan, QString& error) const;
    bool Reusable(const QString& folder, const LoadSnapshot& source, const Plan& plan) const;
    bool CopyInto(const QString& folder, const LoadSnapshot& source, const Plan& plan, QString& error,
                  const Progress& progress) const;
    void MarkUsed(const QString& folder, const QString& sourceFlashXml) const;
    void Prune(const QString& keep) const;

    QString root;
};

// Removes a folder of read-only files, as a staged load leaves.
bool RemoveStagedFolder(const QString& folder);
