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
