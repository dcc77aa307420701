#include "DeviceIdentity.h"

#include <QCryptographicHash>
#include <QRandomGenerator>
#include <QXmlStreamWriter>

namespace quillonsim {

namespace {

QByteArray DeviceBytes(const DeviceRef& device, const char* purpose, int length)
{
    // The farm's own number continues across restarts on one ledger, so no two devices of a ledger share an
    // identity, even the first device on a port before and after a restart.
    const QByteArray seed = QStringLiteral("%1/%2/%3/%4")
                                .arg(QLatin1String(purpose))
                                .arg(device.port)
                                .arg(device.deviceNumber)
                                .arg(device.farmNumber)
                                .toUtf8();
    return QCryptographicHash::hash(seed, QCryptographicHash::Sha256).left(length);
}

} // namespace

QByteArray DeviceIdentity::Hrid(const DeviceRef& device)
{
    return DeviceBytes(device, "hrid", 16);
}

QByteArray DeviceIdentity::Socid(const DeviceRef& device)
{
    return DeviceBytes(device, "socid", 32);
}

QByteArray DeviceIdentity::SysPropertyAnswer(const QString& key, bool slaEnabled)
{
    QByteArray text;
    QXmlStreamWriter writer(&text);
    writer.writeStartDocument();
    writer.writeStartElement(QStringLiteral("sys_properties"));
    writer.writeStartElement(QStringLiteral("item"));
    writer.writeAttribute(QStringLiteral("key"), key);
    writer.writeCharacters(slaEnabled ? QStringLiteral("ENABLED") : QStringLiteral("DISABLED"));
    writer.writeEndElement();
    writer.writeEndElement();
    writer.writeEndDocument();
    return text;
}

QByteArray DeviceIdentity::FirmwareInfoAnswer(const DeviceRef& device, QByteArray& challenge)
{
    challenge.resize(16);
    QRandomGenerator::system()->fillRange(reinterpret_cast<quint32*>(challenge.data()), 4);
    QByteArray text;
    QXmlStreamWriter writer(&text);
    writer.writeStartDocument();
    writer.writeStartElement(QStringLiteral("dev_fw_info"));
    writer.writeTextElement(QStringLiteral("rnd"), QString::fromLatin1(challenge.toHex()));
    writer.writeTextElement(QStringLiteral("hrid"), QString::fromLatin1(Hrid(device).toHex()));
    writer.writeTextElement(QStringLiteral("socid"), QString::fromLatin1(Socid(device).toHex()));
    writer.writeEndElement();
    writer.writeEndDocument();
    return text;
}

} // namespace quillonsim
