#pragma once

#include "common/LoadWatch.h"
#include "common/StationPolicy.h"

#include <QString>

class StationPolicyHost;

// The checked load and its watch: a load the image checker passed is refused still when it writes nothing
// or names images its checksum list leaves out; once a file of the checked load goes missing or changes, no
// row starts and no device is touched until a load has been checked again, so no device is blamed for it.
class LoadCheckPolicy : public StationPolicy
{
public:
    explicit LoadCheckPolicy(StationPolicyHost& host) : host(host) {}

    // "A load was checked", user-interface thread: the checker's verdict on the load of flashXml, whose
    // scatter file is scatter. Returns why the load is refused although the checker passed it, empty
    // otherwise; the load is watched from now on only when the checker passed it and nothing is refused.
    QString LoadChecked(bool checkerPassed, const QString& flashXml, const QString& scatter);
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
