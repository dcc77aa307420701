#include "SlaConfig.h"

#include "SlaDigest.h"

#include <QFile>
#include <QList>

namespace slastandin {

namespace {

SlaConfig Defaults()
{
    SlaConfig config;
    config.key = sladigest::DefaultKey();
    config.type = sladigest::kDefaultType;
    return config;
}

bool ReadInteger(const QByteArray& value, int& out)
{
    bool ok = false;
    const int number = value.toInt(&ok, 10);
    if (ok)
        out = number;
    return ok;
}

} // namespace

SlaConfig SlaConfig::Current()
{
    const QString path = qEnvironmentVariable(kVariable);
    if (path.isEmpty())
        return Defaults();
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        SlaConfig config = Defaults();
        config.error = QStringLiteral("Cannot read %1: %2").arg(path, file.errorString());
        return config;
    }
    if (file.size() > kMaxFileBytes) {
        SlaConfig config = Defaults();
        config.error = QStringLiteral("%1 is larger than %2 bytes").arg(path).arg(kMaxFileBytes);
        return config;
    }
    return Parse(file.read(kMaxFileBytes), path);
}

SlaConfig SlaConfig::Parse(const QByteArray& text, const QString& path)
{
    SlaConfig config = Defaults();
    const QList<QByteArray> lines = text.split('\n');
    for (int index = 0; index < lines.size(); ++index) {
        const QByteArray line = lines[index].trimmed();
        if (line.isEmpty() || line.startsWith('#'))
            continue;
        const int equals = line.indexOf('=');
        const QByteArray name = line.left(equals).trimmed();
        const QByteArray value = line.mid(equals + 1).trimmed();
        bool ok = equals > 0;
        if (ok && name == "Key") {
            config.key = value;
            ok = !value.isEmpty();
        } else if (ok && name == "Type") {
            ok = ReadInteger(value, config.type);
        } else if (ok && name == "Result") {
            ok = ReadInteger(value, config.result);
        } else if (ok && name == "Record") {
            config.record = QString::fromUtf8(value);
        } else {
            ok = false;
        }
        // Every line is read, so a record named after a bad line still shows the failure.
        if (!ok && config.Ok())
            config.error = QStringLiteral("%1, line %2: \"%3\" is not Key, Type, Result or Record = <value>")
                               .arg(path)
                               .arg(index + 1)
                               .arg(QString::fromUtf8(line));
    }
    return config;
}

} // namespace slastandin
