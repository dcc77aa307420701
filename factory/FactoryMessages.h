#pragma once

#include "factory/CfxMessage.h"
#include "record/JournalMessage.h"

#include <QString>

// An attempt's messages for the factory, built and nothing more: a WorkStarted when the session has found
// its device, and at its end a FaultOccurred (when it failed) and a WorkCompleted, all linked by the
// attempt's id as their TransactionID and named by it. Building them again gives the same ids, which is
// what lets a rebuilt database queue them again.
class FactoryMessages : public AttemptMessages
{
public:
    explicit FactoryMessages(const QString& endpointHandle);

    JournalMessages Started(const AttemptRecord& attempt) override;
    JournalMessages Ended(const AttemptRecord& record) override;
    void Stored() override {}

    // The unit's identifier: the device's socid when known, else station, row and start time.
    static QString UnitId(const QString& station, const AttemptRecord& attempt);

private:
    const QString station;
    const CfxMessageBuilder builder;
};
