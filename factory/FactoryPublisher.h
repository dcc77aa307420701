#pragma once

#include "record/AttemptRecord.h"
#include "record/JournalMessage.h"
#include "factory/CfxMessage.h"
#include "factory/FactoryLink.h"
#include "factory/FactoryMessages.h"
#include "factory/FactoryOutbox.h"

#include <QDateTime>
#include <QString>

#include <atomic>
#include <memory>
#include <mutex>

// Tells the factory what the station does, as the exchange's messages: the station's start and stop, and
// for each attempt that found its device a WorkStarted, then a WorkCompleted linked to it by one
// TransactionID, the attempt's id (with a FaultOccurred before it when the attempt failed). An attempt's
// messages go into the outbox of the station database in the journal's transactions with the attempt
// itself, the station's own straight in; from there the link's own thread sends them to the broker. A port
// only ever waits for the local commit.
class FactoryPublisher : public AttemptMessages
{
public:
    // Publishes the station's start at once.
    FactoryPublisher(const FactoryEndpoint& endpoint, const QString& databasePath);
    // Publishes the station's stop; the link then closes, leaving what the broker has not taken in the outbox.
    ~FactoryPublisher() override;

    FactoryPublisher(const FactoryPublisher&) = delete;
    FactoryPublisher& operator=(const FactoryPublisher&) = delete;

    JournalMessages Started(const AttemptRecord& attempt) override;
    JournalMessages Ended(const AttemptRecord& record) override;
    void Stored() override;

    // The unit's identifier: the device's socid when known, else station, row and start time.
    static QString UnitId(const QString& station, const AttemptRecord& attempt);

private:
    void Publish(const CfxMessage& message);

    const CfxMessageBuilder builder;
    FactoryMessages messages;
    const QDateTime since;
    FactoryOutbox outbox;
    std::unique_ptr<FactoryLink> link;
    std::mutex lock; // guards the outbox's first failure
    bool failing = false;
};
