#pragma once

#include "platform/Platform.h"

#include <QString>

// A running station's claim on the attempts it opens in a record folder: a locked file named after the
// station's instance, held for the station's lifetime. Two stations may share a folder (a window and a
// command-line run, or two hosts on a share); an attempt left open is another station's to finish while
// that station's claim is held, and an interrupted one once the claim is free: its station is gone.
class InstanceClaim
{
public:
    InstanceClaim(const QString& folder, const QString& instance);
    // Releases the claim and removes its file.
    ~InstanceClaim();

    InstanceClaim(const InstanceClaim&) = delete;
    InstanceClaim& operator=(const InstanceClaim&) = delete;

    // Empty when the claim is held, else why not.
    QString Problem() const { return problem; }

    // True when no running station holds the instance's claim; its file is removed then.
    static bool Gone(const QString& folder, const QString& instance);

private:
    static QString PathOf(const QString& folder, const QString& instance);

    const QString path;
    Platform::FileHandle file = Platform::kNoFile;
    QString problem;
};
