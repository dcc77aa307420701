#include "CmdXmlTestSupport.h"

#include <QDomElement>
#include <QRegularExpression>
#include <QXmlStreamReader>

QDomDocument ReadBack(const QString& document)
{
    QXmlStreamReader reader(document.toUtf8());
    QDomDocument dom;
    QString error;
    int line = 0;
    int column = 0;
    if (!dom.setContent(&reader, false, &error, &line, &column)) {
        qWarning("document does not read back: %s at %d:%d", qPrintable(error), line, column);
        return QDomDocument();
    }
    return dom;
}

QVector<QPair<QString, QString>> Arguments(const QString& document, const QString& command)
{
    QVector<QPair<QString, QString>> arguments;
    const QDomElement da = ReadBack(document).documentElement();
    const QDomElement version = da.firstChildElement();
    const QDomElement commandElement = version.nextSiblingElement();
    const QDomElement arg = commandElement.nextSiblingElement();
    if (da.tagName() != "da" || version.tagName() != "version" || version.text() != "1.0" ||
        commandElement.tagName() != "command" || commandElement.text() != command || arg.tagName() != "arg" ||
        !arg.nextSiblingElement().isNull() || da.hasAttributes() || arg.hasAttributes()) {
        qWarning("unexpected frame in:\n%s", qPrintable(document));
        return arguments;
    }
    for (QDomElement e = arg.firstChildElement(); !e.isNull(); e = e.nextSiblingElement()) {
        arguments.append({e.tagName(), e.text()});
    }
    return arguments;
}

QString Argument(const QString& document, const QString& command, const QString& name)
{
    for (const auto& argument : Arguments(document, command)) {
        if (argument.first == name) {
            return argument.second;
        }
    }
    return QStringLiteral("<missing %1>").arg(name);
}

quintptr TargetAddress(const QString& target, quint64 expectedLength)
{
    static const QRegularExpression pattern("^MEM://0x([1-9a-f][0-9a-f]*):0x([1-9a-f][0-9a-f]*)$");
    const QRegularExpressionMatch match = pattern.match(target);
    if (!match.hasMatch() || match.captured(2).toULongLong(nullptr, 16) != expectedLength) {
        return 0;
    }
    return static_cast<quintptr>(match.captured(1).toULongLong(nullptr, 16));
}

QString Expected(const QString& command, const QStringList& argumentLines)
{
    QString text =
        "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<da>\n    <version>1.0</version>\n    <command>" +
        command + "</command>\n    <arg>\n";
    for (const QString& line : argumentLines) {
        text += "        " + line + "\n";
    }
    return text + "    </arg>\n</da>\n";
}
