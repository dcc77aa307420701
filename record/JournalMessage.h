#pragma once

#include "record/AttemptRecord.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>

#include <vector>

// A message for the factory as the station journal stores it, in table outbox of the station database,
// until the factory's link hands it to the broker. The record knows nothing of the exchange's format: the
// factory builds the messages, the journal commits them with the attempt they tell of.
struct JournalMessage
{
    QString uniqueId;
    QString name;
    QString source;
    QDateTime time; // UTC
    QByteArray body;
};

using JournalMessages = std::vector<JournalMessage>;

// What the factory is told of an attempt. Started runs on the port's worker thread, Ended and Stored on the
// journal's thread (Ended also at a start, for an attempt a killed station left open); thread-safe.
class AttemptMessages
{
public:
    virtual ~AttemptMessages() = default;
    // The session has found its device.
    virtual JournalMessages Started(const AttemptRecord& attempt) = 0;
    // The attempt has ended, or was closed because its station stopped during it.
    virtual JournalMessages Ended(const AttemptRecord& record) = 0;
    // Messages were committed and wait to be sent.
    virtual void Stored() = 0;
};
