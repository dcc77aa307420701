#include "record/JournalCheck.h"

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QStringList>
#include <QVariant>

namespace JournalCheck {

namespace {

// Enough findings to tell the operator where the damage is, not the thousands a wiped page can give.
constexpr int kMostFindings = 5;

} // namespace

Verdict Run(QSqlDatabase& database, Depth depth, QString& findings)
{
    QSqlQuery query(database);
    const QString pragma = depth == Depth::Quick ? QStringLiteral("PRAGMA quick_check(%1)")
                                                 : QStringLiteral("PRAGMA integrity_check(%1)");
    QStringList found;
    if (query.exec(pragma.arg(kMostFindings))) {
        // A finding may span lines; the operator gets them as one.
        while (query.next())
            found << query.value(0)
                         .toString()
                         .split(QLatin1Char('\n'), Qt::SkipEmptyParts)
                         .join(QStringLiteral("; "));
    }
    // A check cut short by damage it cannot read past ends with an error rather than a finding.
    const QSqlError error = query.lastError();
    if (error.isValid()) {
        found << error.text().trimmed();
        findings = found.join(QStringLiteral("; "));
        return IsDamage(error.nativeErrorCode()) ? Verdict::Damaged : Verdict::Unknown;
    }
    if (found == QStringList{QStringLiteral("ok")}) {
        findings.clear();
        return Verdict::Sound;
    }
    findings =
        found.isEmpty() ? QStringLiteral("the check gave no answer") : found.join(QStringLiteral("; "));
    return found.isEmpty() ? Verdict::Unknown : Verdict::Damaged;
}

bool IsDamage(const QString& nativeErrorCode)
{
    // SQLITE_CORRUPT and SQLITE_NOTADB, with or without their extended codes' upper bits.
    bool ok = false;
    const int code = nativeErrorCode.toInt(&ok) & 0xff;
    return ok && (code == 11 || code == 26);
}

} // namespace JournalCheck
