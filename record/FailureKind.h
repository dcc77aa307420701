#pragma once

#include <QString>

// Why an attempt failed, as the stores keep it: a fixed word a factory's tools can count on, where the last
// error's text is whatever the engine said.
enum class FailureKind
{
    None, // the attempt did not fail
    Scan,
    Connect,
    EnterMode,
    Authentication,
    Command,
    ChecksumMismatch,
    FeedbackUnreadable,
    Cancelled,
    LoadChanged,
    Interrupted, // the station stopped (killed, crashed, power lost) while the attempt ran
};

// "scan", "connect", "enter-mode", "authentication", "command", "checksum-mismatch", "feedback-unreadable",
// "cancelled", "load-changed" or "interrupted"; empty for None.
QString FailureKindWord(FailureKind kind);
// The kind a word names; None for an empty word and for one this version does not know.
FailureKind FailureKindOf(const QString& word);
