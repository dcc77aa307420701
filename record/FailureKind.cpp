#include "record/FailureKind.h"

QString FailureKindWord(FailureKind kind)
{
    switch (kind) {
    case FailureKind::None:
        return QString();
    case FailureKind::Scan:
        return QStringLiteral("scan");
    case FailureKind::Connect:
        return QStringLiteral("connect");
    case FailureKind::EnterMode:
        return QStringLiteral("enter-mode");
    case FailureKind::Authentication:
        return QStringLiteral("authentication");
    case FailureKind::Command:
        return QStringLiteral("command");
    case FailureKind::ChecksumMismatch:
        return QStringLiteral("checksum-mismatch");
    case FailureKind::FeedbackUnreadable:
        return QStringLiteral("feedback-unreadable");
    case FailureKind::Cancelled:
        return QStringLiteral("cancelled");
    case FailureKind::LoadChanged:
        return QStringLiteral("load-changed");
    case FailureKind::Interrupted:
        return QStringLiteral("interrupted");
    }
    return QString();
}

FailureKind FailureKindOf(const QString& word)
{
    // The kinds are numbered from None without a gap, and a number past the last has no word: the words are
    // those FailureKindWord gives, without a list of its own to keep in step.
    for (int number = 1;; ++number) {
        const FailureKind kind = static_cast<FailureKind>(number);
        const QString known = FailureKindWord(kind);
        if (known.isEmpty())
            return FailureKind::None;
        if (known == word)
            return kind;
    }
}
