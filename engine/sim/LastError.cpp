#include "LastError.h"

#include "Session.h"

#include <QByteArray>

#include <atomic>

namespace quillonsim {

namespace {

std::atomic<quint64> sequence{0};

struct ThreadRecord
{
    QByteArray anyText;
    quint64 anySequence = 0;
    QByteArray handlelessText;
    quint64 handlelessSequence = 0;
    QByteArray handedOut;
};

ThreadRecord& Record()
{
    thread_local ThreadRecord record;
    return record;
}

const char* HandOut(const QByteArray& text)
{
    ThreadRecord& record = Record();
    record.handedOut = text;
    // A copy owned by this thread: the session's text may change under another thread's call.
    record.handedOut.detach();
    return record.handedOut.constData();
}

} // namespace

void LastError::RecordForSession(Session& session, const QString& text)
{
    const quint64 number = sequence.fetch_add(1, std::memory_order_relaxed) + 1;
    const QByteArray bytes = text.toUtf8();
    session.SetError(bytes, number);
    ThreadRecord& record = Record();
    record.anyText = bytes;
    record.anySequence = number;
}

void LastError::RecordForThread(const QString& text)
{
    const quint64 number = sequence.fetch_add(1, std::memory_order_relaxed) + 1;
    const QByteArray bytes = text.toUtf8();
    ThreadRecord& record = Record();
    record.anyText = bytes;
    record.anySequence = number;
    record.handlelessText = bytes;
    record.handlelessSequence = number;
}

const char* LastError::TextFor(const Session* session)
{
    if (session == nullptr)
        return ThreadText();
    QByteArray text;
    quint64 number = 0;
    bool calledHere = false;
    session->Error(text, number, calledHere);
    const ThreadRecord& record = Record();
    // Another thread's failure of a scan says nothing about a session this thread did not use last.
    if (calledHere && record.handlelessSequence > number)
        return HandOut(record.handlelessText);
    return HandOut(text);
}

const char* LastError::ThreadText()
{
    return HandOut(Record().anyText);
}

quint64 LastError::Stamp()
{
    return sequence.fetch_add(1, std::memory_order_relaxed) + 1;
}

const char* LastError::Text(const QString& text)
{
    return HandOut(text.toUtf8());
}

} // namespace quillonsim
