#include "ScanTarget.h"

#include <QRegularExpression>

namespace quillonsim {

namespace {

constexpr int kMaxUriBytes = 1024;

} // namespace

bool ScanTarget::Parse(const QByteArray& uri, ScanTarget& out, QString& error)
{
    if (uri.size() > kMaxUriBytes) {
        error = QStringLiteral("Scan target is longer than %1 bytes").arg(kMaxUriBytes);
        return false;
    }
    const QString text = QString::fromUtf8(uri);
    if (!text.startsWith(QLatin1String("COM://"))) {
        error = QStringLiteral("Unsupported scan target \"%1\": expected COM://, COM://COMn or COM://<text>")
                    .arg(text);
        return false;
    }
    const QString rest = text.mid(6);
    out = ScanTarget();
    if (rest.isEmpty())
        return true;
    // Never destroyed: a thread the caller leaves running at exit may still be scanning.
    static const QRegularExpression& portName = *new QRegularExpression(QStringLiteral("^COM([0-9]{1,9})$"));
    const QRegularExpressionMatch match = portName.match(rest);
    if (match.hasMatch()) {
        out.kind = Kind::Port;
        out.com = match.captured(1).toInt();
        return true;
    }
    if (rest.trimmed().isEmpty()) {
        error = QStringLiteral("Scan target \"%1\" names nothing but white space").arg(text);
        return false;
    }
    out.kind = Kind::Text;
    out.text = rest;
    return true;
}

QString ScanTarget::Describe() const
{
    switch (kind) {
    case Kind::Port:
        return QStringLiteral(" on COM%1").arg(com);
    case Kind::Text:
        return QStringLiteral(" matching \"%1\"").arg(text);
    case Kind::AnyPort:
        break;
    }
    return QString();
}

} // namespace quillonsim
