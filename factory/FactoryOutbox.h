#pragma once

#include "factory/CfxMessage.h"
#include "platform/Platform.h"

#include <QString>

#include <cstdint>
#include <deque>
#include <mutex>
#include <vector>

struct sqlite3;

// Factory messages waiting for the broker, in the station database's "outbox" table: a message goes in
// before anyone tries to send it and leaves only once the broker has accepted it, so neither a broker that is
// away nor a tool that is killed loses one. An attempt's messages come in through the journal's own
// transactions (StationDatabase); this connection appends the station's start and stop on the user-interface
// thread while the link's thread reads and removes: one connection, guarded by one mutex, rather than Qt's
// connections that belong to the thread that opened them.
class FactoryOutbox
{
public:
    struct Entry
    {
        int64_t sequence = 0;
        CfxMessage message;
    };

    explicit FactoryOutbox(const QString& databasePath);
    ~FactoryOutbox();

    FactoryOutbox(const FactoryOutbox&) = delete;
    FactoryOutbox& operator=(const FactoryOutbox&) = delete;

    // Stores the message after every earlier one. While the database cannot be opened the message waits in
    // memory, in order, and goes in with the next append that can open it; false (with the reason) then.
    bool Append(const CfxMessage& message, QString& error);
    // Up to limit messages after the given sequence number, oldest first.
    std::vector<Entry> Head(int64_t after, int limit, QString& error);
    // Removes every message up to and including the given one. When the database was replaced or rebuilt
    // since the last Head, nothing is removed: its numbers name other messages now, and the messages go
    // again, with their ids, for the receiver to drop.
    bool RemoveThrough(int64_t sequence, QString& error);
    // Messages stored and not yet accepted, -1 when the database cannot be read.
    int64_t Count();
    // Messages that could not be stored yet and wait in memory.
    size_t Waiting();

private:
    bool OpenLocked(QString& error);
    // Closes the connection when the file at the path is no longer the one it has open, or on damage.
    void FollowLocked(int result = 0);
    bool StoreLocked(const CfxMessage& message, QString& error);
    void CloseLocked();

    const QString path;
    std::mutex lock;
    sqlite3* database = nullptr;
    Platform::FileStamp stamp;  // the file the connection has open
    bool openedBefore = false;  // a later opening must not make a file while a rebuild moves one in
    int64_t generation = 0;     // connections opened so far
    int64_t headGeneration = -1; // the connection the last Head read from
    std::deque<CfxMessage> waiting;
};
