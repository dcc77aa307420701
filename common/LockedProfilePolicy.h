#pragma once

#include "common/StationPolicy.h"

#include <QString>
#include <QStringList>

class StationPolicyHost;

// A locked profile, set by the settings file's [Station] group: it pins the load by its digest, refusing a
// start with any other, and keeps the operator's hands off the window's controls that choose the load and
// the scene. A Start All tells its refusal once. User-interface thread, but for IsKept.
class LockedProfilePolicy : public StationPolicy
{
public:
    explicit LockedProfilePolicy(StationPolicyHost& host) : host(host) {}

    // The settings file was read: locked or not, and the digest a locked profile pins.
    void SetProfile(bool locked, const QString& loadDigest);
    bool IsLocked() const { return locked; }

    // Why this flash XML may not be used, empty when it may.
    QString PinnedLoadRefusal(const QString& flashXml) const;
    // The window's controls that a locked profile keeps as the settings file set them.
    static const QStringList& Controls();
    bool IsKept(const QString& control) const;

    void StartAllBegins() override { refusalTold = false; }
    void StartAllEnded() override { refusalTold = false; }
    bool RefusesStart(int row, ControlReader& reads) override;

private:
    StationPolicyHost& host;
    bool locked = false;
    QString loadDigest;
    bool refusalTold = false;
};
