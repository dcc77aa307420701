// The last error of every session and of every thread. A text handed to the caller stays valid on its
// thread until that thread's next request for a text.
#pragma once

#include <QString>
#include <QtGlobal>

namespace quillonsim {

class Session;

class LastError
{
public:
    // A failure of a call on a session; the thread remembers it too.
    static void RecordForSession(Session& session, const QString& text);
    // A failure of a call that names no session (or names one the engine does not know).
    static void RecordForThread(const QString& text);

    // For a session: its latest failure, or the thread's latest handle-less failure (such as a scan) when
    // that came later and this thread made the latest call on the session (its creation counts). Without a
    // session: the thread's latest failure of any call.
    static const char* TextFor(const Session* session);
    static const char* ThreadText();
    static const char* Text(const QString& text);
    // A fresh point in the order of failures; a new session starts its own history there.
    static quint64 Stamp();
};

} // namespace quillonsim
