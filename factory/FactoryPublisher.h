#pragma once

#include "record/AttemptRecord.h"
#include "factory/CfxMessage.h"
#include "factory/FactoryLink.h"
#include "factory/FactoryOutbox.h"

#include <QDateTime>
#include <QString>

#include <array>
#include <atomic>
#include <memory>
#include <mutex>

// Tells the factory what the station does, as the exchange's messages: the station's start and stop, and
// for each attempt that found its device a WorkStarted, then a WorkCompleted linked to it by one
// TransactionID (with a FaultOccurred before it when the attempt failed). Messages go into the outbox of the
// station database and from there, through the link's own thread, to the broker; a port only ever waits for
// the local insert.
class FactoryPublisher : public AttemptRecorder
{
public:
    // Publishes the station's start at once.
    FactoryPublisher(const FactoryEndpoint& endpoint, const QString& databasePath);
    // Publishes the station's stop; the link then closes, leaving what the broker has not taken in the outbox.
    ~FactoryPublisher() override;

    FactoryPublisher(const FactoryPublisher&) = delete;
    FactoryPublisher& operator=(const FactoryPublisher&) = delete;

    void Started(const AttemptRecord& attempt) override;
    void Record(const AttemptRecord& record) override;

    // The unit's identifier: the device's socid when known, else station, row and start time.
    static QString UnitId(const QString& station, const AttemptRecord& attempt);

private:
    struct Work
    {
        QString transactionId;
        QString unitId;
    };

    void Publish(const CfxMessage& message);

    const QString station;
    const CfxMessageBuilder builder;
    const QDateTime since;
    FactoryOutbox outbox;
    std::unique_ptr<FactoryLink> link;
    std::mutex lock; // guards open and the outbox's first failure
    std::array<Work, 16> open;
    bool failing = false;
};
