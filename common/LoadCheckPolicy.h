#pragma once

#include "common/LoadWatch.h"
#include "common/StationPolicy.h"

#include <QByteArray>
#include <QString>

class DeviceInstance;
class StationPolicyHost;

// The checked load and its watch: a load the image checker passed is refused still when it writes nothing,
// names images its checksum list leaves out, or changed during its check; once a file of the checked load
// (its images included) goes missing or changes, no row starts and no device is touched until a load has been
// checked again, so no device is blamed for it, and a device being written meanwhile fails as a changed load.
// The checksum list is kept as the check read it, for every device's comparison.
class LoadCheckPolicy : public StationPolicy
{
public:
    explicit LoadCheckPolicy(StationPolicyHost& host) : host(host) {}

    // "A load was checked", user-interface thread: the checker's verdict on the load as checked saw it before
    // the check. Returns why the load is refused although the checker passed it, empty otherwise; the load is
    // watched from now on only when the checker passed it and nothing is refused.
    QString LoadChecked(bool checkerPassed, const LoadSnapshot& checked);
    // A later step of the check refused the load after all.
    void Refuse(const QString& reason);
    // The ports flash these files instead (a staged copy, checked as the source was).
    void Watch(const LoadSnapshot& used) { watch.Arm(used); }
    // The checksum list as the check of the load whose flash XML the engine gets read it; null when that load
    // was not checked.
    QByteArray CheckedList(const QString& engineFlashXml) const;
    // Worker, after a session: a session that wrote the load while it changed fails as a changed load.
    void HoldToCheckedLoad(DeviceInstance& device);
    // Why the last check refused a load the checker passed; empty otherwise.
    QString Problem() const { return problem; }
    // Why the run's load stopped the station; empty while it has not.
    QString ChangedReason() const { return watch.Reason(); }

    bool RefusesStart(int row, ControlReader& reads) override;
    bool DeviceFound(int row, QString& withdrawn) override;
    bool RowGoesOn(int row) const override;

    static QString ChangedText(const QString& reason);

private:
    StationPolicyHost& host;
    LoadWatch watch;
    QString problem; // user-interface thread
};
