#include "common/PortDescription.h"

#include <QStringList>

namespace {

QString Field(const QStringList& fields, int index) { return index < fields.size() ? fields.at(index) : QString(); }

} // namespace

PortIdentity ParsePortDescription(const QString& description)
{
    PortIdentity identity;
    const int open = description.lastIndexOf(QLatin1Char('('));
    const int close = description.lastIndexOf(QLatin1Char(')'));
    identity.portName = description.mid(open + 1, close - open - 1);
    const QStringList atFields = description.split(QLatin1Char('@'));
    const QStringList hashFields = description.split(QLatin1Char('#'));
    identity.instanceId = Field(atFields, 2);
    identity.friendlyPortName =
        Field(hashFields, 1) + QLatin1Char('@') + Field(hashFields, 2) + QLatin1Char('@') + Field(atFields, 1);
    identity.comportType = identity.friendlyPortName.contains(QStringLiteral("PreLoader"))
                               ? QStringLiteral("PreLoader")
                               : QStringLiteral("BROM");
    return identity;
}
