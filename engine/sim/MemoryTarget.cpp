#include "MemoryTarget.h"

#include <QRegularExpression>

#include <cstring>
#include <limits>

namespace quillonsim {

bool MemoryTarget::Parse(const QString& text, MemoryTarget& out, QString& error)
{
    // Never destroyed: a thread the caller leaves running at exit may still be running a command.
    static const QRegularExpression& shape =
        *new QRegularExpression(QStringLiteral("^MEM://0x([0-9A-Fa-f]{1,16}):0x([0-9A-Fa-f]{1,16})$"));
    const QRegularExpressionMatch match = shape.match(text);
    if (!match.hasMatch()) {
        error =
            QStringLiteral("Malformed memory target \"%1\": expected MEM://0x<address>:0x<length>").arg(text);
        return false;
    }
    bool addressOk = false;
    bool lengthOk = false;
    const quint64 address = match.captured(1).toULongLong(&addressOk, 16);
    const quint64 length = match.captured(2).toULongLong(&lengthOk, 16);
    if (!addressOk || !lengthOk) {
        error = QStringLiteral("Malformed memory target \"%1\": number out of range").arg(text);
        return false;
    }
    if (address == 0) {
        error = QStringLiteral("Memory target \"%1\" has address 0").arg(text);
        return false;
    }
    if (length == 0) {
        error = QStringLiteral("Memory target \"%1\" has length 0").arg(text);
        return false;
    }
    if (length > kMaxLength) {
        error = QStringLiteral("Memory target \"%1\" is longer than %2 bytes").arg(text).arg(kMaxLength);
        return false;
    }
    const quint64 maxAddress = std::numeric_limits<quintptr>::max();
    if (address > maxAddress || length - 1 > maxAddress - address) {
        error = QStringLiteral("Memory target \"%1\" runs past the end of the address space").arg(text);
        return false;
    }
    out.address = quintptr(address);
    out.length = length;
    return true;
}

bool MemoryTarget::WriteText(const QByteArray& answer, QString& error) const
{
    auto* target = reinterpret_cast<char*>(address);
    if (quint64(answer.size()) + 1 > length) {
        target[0] = '\0';
        error = QStringLiteral("The answer of %1 bytes does not fit into the %2 bytes of the memory target")
                    .arg(answer.size() + 1)
                    .arg(length);
        return false;
    }
    std::memcpy(target, answer.constData(), size_t(answer.size()));
    target[answer.size()] = '\0';
    return true;
}

QByteArray MemoryTarget::Read() const
{
    return QByteArray(reinterpret_cast<const char*>(address), int(length));
}

} // namespace quillonsim
