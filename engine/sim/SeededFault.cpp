#include "SeededFault.h"

#include <QStringList>

namespace quillonsim {

namespace {

// Commands every download scene sends, so a command fault always meets its command.
const char* const kFailingCommands[] = {"CMD:FLASH-ALL", "CMD:GET-DOWNLOADED-IMAGE-FEEDBACK", "CMD:REBOOT"};

} // namespace

const QStringList& SeededFault::Kinds()
{
    // Never destroyed: a worker the caller leaves running at exit may still pick a fault.
    static const QStringList& kinds =
        *new QStringList{QStringLiteral("connect"),  QStringLiteral("enter"), QStringLiteral("command"),
                         QStringLiteral("transfer"), QStringLiteral("hang"),  QStringLiteral("corrupt")};
    return kinds;
}

quint64 SeededFault::Mix(quint64 value)
{
    // splitmix64: every input bit reaches every output bit, so neighbouring devices are unrelated.
    value += 0x9e3779b97f4a7c15ULL;
    value = (value ^ (value >> 30)) * 0xbf58476d1ce4e5b9ULL;
    value = (value ^ (value >> 27)) * 0x94d049bb133111ebULL;
    return value ^ (value >> 31);
}

void SeededFault::Pick(int seed, double rate, quint64 deviceNumber, FaultPlan& plan, QString& kind)
{
    kind.clear();
    const quint64 first = Mix(Mix(quint64(seed)) ^ deviceNumber);
    const double share = double(first >> 11) / double(1ULL << 53);
    if (rate <= 0 || share >= rate)
        return;
    const quint64 second = Mix(first);
    const int which = int(second % quint64(Kinds().size()));
    const quint64 detail = second / quint64(Kinds().size());
    plan = FaultPlan();
    switch (which) {
    case 0:
        plan.failStage = Stage::Connect;
        break;
    case 1:
        plan.failStage = Stage::Enter;
        break;
    case 2:
        plan.failStage = Stage::Command;
        plan.failCommand = QLatin1String(kFailingCommands[detail % 3]);
        break;
    case 3:
        plan.failStage = Stage::Transfer;
        plan.failPercent = 1 + int(detail % 98);
        break;
    case 4:
        plan.hangStage = detail % 2 == 0 ? Stage::Connect : Stage::Enter;
        break;
    default:
        plan.corruptImage = QStringLiteral("*");
        break;
    }
    kind = KindOf(plan, 1);
}

QString SeededFault::KindOf(const FaultPlan& plan, quint64 portDeviceNumber)
{
    if (plan.hangStage == Stage::Connect)
        return QStringLiteral("hang:connect");
    if (plan.hangStage == Stage::Enter)
        return QStringLiteral("hang:enter");
    if (plan.hangStage == Stage::Scan)
        return QStringLiteral("hang:scan");
    if (!plan.corruptImage.isEmpty())
        return QStringLiteral("corrupt:") + plan.corruptImage;
    if (plan.failStage == Stage::None || !plan.Fails(plan.failStage, portDeviceNumber))
        return QString();
    switch (plan.failStage) {
    case Stage::Scan:
        return QStringLiteral("scan");
    case Stage::Connect:
        return QStringLiteral("connect");
    case Stage::Enter:
        return QStringLiteral("enter");
    case Stage::Command:
        return QStringLiteral("command:") + plan.failCommand;
    case Stage::Transfer:
        return QStringLiteral("transfer:%1").arg(plan.failPercent);
    case Stage::None:
        break;
    }
    return QString();
}

} // namespace quillonsim
