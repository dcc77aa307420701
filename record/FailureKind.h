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
};

// "scan", "connect", "enter-mode", "authentication", "command", "checksum-mismatch", "feedback-unreadable",
// "cancelled" or "load-changed"; empty for None.
QString FailureKindWord(FailureKind kind);
