#pragma once

#include "record/FailureKind.h"
#include "record/SessionStage.h"

#include <QDateTime>
#include <QMetaType>
#include <QString>

#include <cstdint>

// What one device session on one port did, as the station keeps it for the factory.
struct AttemptRecord
{
    QDateTime start; // UTC
    QDateTime end;   // UTC
    int row = 0;     // 1 to 16
    QString port;    // COM name of the device the session found, else of the row's binding
    QString device;  // instance id from the description the session found
    QString scene;   // "format-download", "firmware-upgrade", "efuse-write" or "none"
    int checksumLevel = 0;
    QString flashXml;
    QString stagedFlashXml; // the station's own copy the device was flashed from, empty when not staged
    QString loadDigest; // XXH3-64 of the load's checksum list, empty when there is none
    QString result;     // "OK", "FAIL" or "CANL"
    QString failedStage; // empty when OK
    QString error;       // the session's last error text
    SessionStages stages;
    int poll = 0; // the attempt's number on its port since the port was started
    QString operatorName;
    QString workOrder;
    QString attempt; // this attempt's own id, unique across stations and restarts; see NewId
    FailureKind failureKind = FailureKind::None; // None unless the result is FAIL or CANL
    // Images the session's command list asked the device to write, whatever came of it (0 for eFuse only),
    // and how many of them had a device checksum equal to the load's (0 when none was compared). An OK
    // with fewer verified than written is not verified.
    int imagesWritten = 0;
    int verifiedImages = 0;
    QString socid; // the device's own id (hex) when the session learnt it, else empty; the record's "unit"
    bool quarantined = false; // this attempt took its row out of auto polling

    // A random 128-bit id (a version 4 UUID without braces): unique without a counter that stations or
    // restarts would have to share, so that an attempt's lines in the files and its database row can be
    // matched.
    static QString NewId();
};

Q_DECLARE_METATYPE(AttemptRecord)

// Takes a port's attempts. Called on the ports' worker threads; returns once the attempt is safely stored (or
// storing it failed), so a record is never behind its device. Must be thread-safe.
class AttemptRecorder
{
public:
    virtual ~AttemptRecorder() = default;
    // The session has found its device: start, row, port and device are set, the outcome is not. False when
    // the attempt could not be opened: the session must not touch its device then.
    virtual bool Started(const AttemptRecord& attempt)
    {
        (void)attempt;
        return true;
    }
    // True once the record is stored; false when it could not be (counted in Unrecorded).
    virtual bool Record(const AttemptRecord& record) = 0;
    // The operator stopped the station: a recorder that waits for its storage to come back gives up on the
    // attempts in hand instead, and tries each later one once, until Resume.
    virtual void Halt() {}
    virtual void Resume() {}
    // Attempts handed over that could not be stored.
    virtual int64_t Unrecorded() const { return 0; }
};
