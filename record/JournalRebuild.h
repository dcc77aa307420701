#pragma once

#include "record/JournalMessage.h"
#include "record/RecordFields.h"

#include <QString>

#include <cstdint>

// Builds a new station database from a damaged one: first whatever of it still reads (attempts and their
// stages, open attempts, lines the day files lack, factory messages not yet accepted), then every closed
// attempt the day files hold and the salvage missed. Messages whose delivery is no longer known are queued
// again; since a message's id comes from its attempt and its name, a receiver drops the ones it had.
// The damaged file is only read.
class JournalRebuild
{
public:
    struct Outcome
    {
        int64_t attempts = 0;           // attempt rows read from the damaged file
        int64_t openAttempts = 0;       // attempts still open there
        int64_t unfiled = 0;            // closed attempts whose day-file lines were waiting
        int64_t messages = 0;           // factory messages not yet accepted
        int64_t fromDayFiles = 0;       // closed attempts only the day files still had
        int64_t requeued = 0;           // factory messages queued again, their delivery not known
        int64_t unreadable = 0;         // rows of any table (by row number) in damaged pages
        int64_t unreadableAttempts = 0; // of them, attempt rows: lost unless the day files had them
        bool outboxWhole = true;        // every message waiting in the damaged file was read

        // One sentence for the operator and the log, with the counts.
        QString Summary() const;
    };

    // messages may be null (no factory): nothing is queued again then.
    JournalRebuild(const QString& folder, const StationIdentity& identity, AttemptMessages* messages);

    // Writes the new database to target (which must not exist) from the damaged file and the folder's day
    // files. False, with the reason, when the new database cannot be written; a damaged file that cannot be
    // read at all is no failure: everything then comes from the day files.
    bool Build(const QString& damaged, const QString& target, Outcome& outcome, QString& error);

private:
    class Work;

    const QString folder;
    const StationIdentity identity;
    AttemptMessages* const messages;
};
