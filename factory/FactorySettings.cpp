#include "factory/FactorySettings.h"

#include "common/IniSetting.h"
#include "platform/Platform.h"

#include <QFile>
#include <QSysInfo>
#include <QUrl>

namespace FactorySettings {

namespace {

QString Read(const QString& settingsFile, const char* key)
{
    return IniSetting(settingsFile, QStringLiteral("Factory"), QString::fromLatin1(key)).ReadString().trimmed();
}

// Handles and addresses travel in message headers and logs: printable text only.
QString CheckText(const char* field, const QString& text)
{
    if (text.isEmpty())
        return QStringLiteral("%1 is empty").arg(QString::fromLatin1(field));
    for (const QChar c : text) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7f)
            return QStringLiteral("%1 holds a control character").arg(QString::fromLatin1(field));
    }
    return QString();
}

} // namespace

QString DefaultHandle()
{
    QString host = QSysInfo::machineHostName();
    host.replace(QLatin1Char('.'), QLatin1Char('_'));
    return QStringLiteral("Kestrane.PraxiloV6.") + (host.isEmpty() ? QStringLiteral("station") : host);
}

QString CheckBroker(const QString& broker)
{
    const QUrl url(broker, QUrl::StrictMode);
    if (!url.isValid())
        return QStringLiteral("broker address \"%1\" is not a valid address").arg(broker);
    const QString scheme = url.scheme().toLower();
    if (scheme != QLatin1String("amqp") && scheme != QLatin1String("amqps"))
        return QStringLiteral("broker address \"%1\" must start with amqp:// or amqps://").arg(broker);
    // Credentials in an address end up in logs and process lists; they belong in the credentials file.
    if (!url.userInfo().isEmpty())
        return QStringLiteral("broker address must not hold credentials; name a CredentialsFile instead");
    if (url.host().isEmpty())
        return QStringLiteral("broker address \"%1\" names no host").arg(broker);
    if (url.port() == 0)
        return QStringLiteral("broker address \"%1\" has port 0").arg(broker);
    if (!url.path().isEmpty() && url.path() != QLatin1String("/"))
        return QStringLiteral("broker address \"%1\" has a path; the target goes in Address").arg(broker);
    if (url.hasQuery() || url.hasFragment())
        return QStringLiteral("broker address \"%1\" has a query or fragment").arg(broker);
    return QString();
}

QString ReadCredentials(const QString& path, QString& user, QString& password)
{
    QFile file(path);
    if (!file.exists())
        return QStringLiteral("credentials file %1 does not exist").arg(path);
    // The group may hold people as well as services; a password is for its owner's eyes alone.
    const QFileDevice::Permissions othersMay = QFileDevice::ReadGroup | QFileDevice::WriteGroup |
                                               QFileDevice::ExeGroup | QFileDevice::ReadOther |
                                               QFileDevice::WriteOther | QFileDevice::ExeOther;
    if (file.permissions() & othersMay)
        return QStringLiteral("credentials file %1 is open to its group or other users; allow its owner alone")
            .arg(path);
    if (!file.open(QIODevice::ReadOnly))
        return QStringLiteral("credentials file %1 cannot be read: %2").arg(path, file.errorString());
    Platform::KeepOutOfCoreDumps();
    user.clear();
    password.clear();
    const QList<QByteArray> lines = file.readAll().split('\n');
    for (QByteArray line : lines) {
        if (line.endsWith('\r'))
            line.chop(1);
        const int equals = line.indexOf('=');
        if (line.trimmed().isEmpty() || line.trimmed().startsWith('#'))
            continue;
        if (equals < 0)
            return QStringLiteral("credentials file %1 has a line that is no key=value").arg(path);
        const QByteArray key = line.left(equals).trimmed();
        const QString value = QString::fromUtf8(line.mid(equals + 1));
        if (key == "User")
            user = value.trimmed();
        else if (key == "Password")
            password = value; // a password may begin or end with a space
        else
            return QStringLiteral("credentials file %1 has an unknown key \"%2\"").arg(path, QString::fromUtf8(key));
    }
    if (user.isEmpty())
        return QStringLiteral("credentials file %1 names no User").arg(path);
    return QString();
}

Result Read(const QString& settingsFile, const QString& brokerOverride)
{
    Result result;
    const QString broker = brokerOverride.isEmpty() ? Read(settingsFile, "Broker") : brokerOverride.trimmed();
    if (broker.isEmpty())
        return result;
    FactoryEndpoint& endpoint = result.endpoint;
    endpoint.broker = broker;
    endpoint.address = Read(settingsFile, "Address");
    if (endpoint.address.isEmpty())
        endpoint.address = QString::fromLatin1(kDefaultAddress);
    endpoint.handle = Read(settingsFile, "EndpointHandle");
    if (endpoint.handle.isEmpty())
        endpoint.handle = DefaultHandle();
    const QString credentials = Read(settingsFile, "CredentialsFile");

    result.problem = CheckBroker(broker);
    if (result.problem.isEmpty())
        result.problem = CheckText("Address", endpoint.address);
    if (result.problem.isEmpty())
        result.problem = CheckText("EndpointHandle", endpoint.handle);
    if (result.problem.isEmpty() && !credentials.isEmpty())
        result.problem = ReadCredentials(credentials, endpoint.user, endpoint.password);
    result.enabled = result.problem.isEmpty();
    return result;
}

} // namespace FactorySettings
