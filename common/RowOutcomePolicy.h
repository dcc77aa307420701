#pragma once

#include "common/RowOutcomes.h"
#include "common/StationPolicy.h"
#include "common/StationSettings.h"

#include <array>

class StationPolicyHost;

// Each row's outcomes since its last Start, beside the window's cells: the counts, the current device's time
// and the streaming figures; and the quarantine that takes a row whose devices keep failing out of auto
// polling, naming it in the attempt's record and in the row's message.
class RowOutcomePolicy : public StationPolicy
{
public:
    explicit RowOutcomePolicy(StationPolicyHost& host) : host(host) {}

    // FAIL records in a row after which a row leaves auto polling until its next Start; 0 never.
    void SetQuarantineAfter(int after) { quarantineAfter = after < 0 ? 0 : after; }
    int QuarantineAfter() const { return quarantineAfter; }

    // Any thread: the row's figures while its current stage has streamed bytes and is at percent of it.
    StreamFigures Streaming(int row, const SessionStages& current, uint64_t streamed, unsigned percent) const;
    // Any thread: the current device's own time, "mm : ss".
    QString DeviceElapsed(int row) const;
    static QString QuarantineText(const RowOutcomeFigures& figures);

    void RowStarts(int row) override;
    void AttemptBegins(int row, int64_t startMs) override;
    void AttemptEnded(const AttemptEnd& end, AttemptRecord& record) override;
    bool RowGoesOn(int row) const override;
    void RowEnded(int row) override;

private:
    static bool IsRow(int row) { return row >= 0 && row < RowOutcomes::kRows; }

    StationPolicyHost& host;
    RowOutcomes outcomes; // counted by the workers, read anywhere
    int quarantineAfter = StationSettings::kDefaultQuarantineAfter; // user-interface thread
    // Whether the row's last attempt took it out of auto polling; written by its start and its worker only.
    std::array<bool, RowOutcomes::kRows> tripped{};
};
