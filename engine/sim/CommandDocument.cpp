#include "CommandDocument.h"

#include "LoadFormat.h"

namespace quillonsim {

bool CommandDocument::Parse(const QByteArray& bytes, QString& error)
{
    loadformat::XmlNode root;
    QString reason;
    if (!loadformat::ReadXmlTree(bytes, root, reason, kMaxBytes)) {
        error = QStringLiteral("Malformed command document: %1").arg(reason);
        return false;
    }
    if (root.name != QLatin1String("da")) {
        error = QStringLiteral("Malformed command document: the root element is <%1>, expected <da>")
                    .arg(root.name);
        return false;
    }
    const loadformat::XmlNode* version = root.Child(QStringLiteral("version"));
    if (version == nullptr || version->text.trimmed() != QLatin1String("1.0")) {
        error = QStringLiteral("Malformed command document: <version> must be 1.0");
        return false;
    }
    const loadformat::XmlNode* command = root.Child(QStringLiteral("command"));
    if (command == nullptr || command->text.trimmed().isEmpty()) {
        error = QStringLiteral("Malformed command document: no <command>");
        return false;
    }
    int argCount = 0;
    for (const loadformat::XmlNode& child : root.children)
        argCount += child.name == QLatin1String("arg") ? 1 : 0;
    if (argCount != 1) {
        error = QStringLiteral("Malformed command document: expected one <arg>, found %1").arg(argCount);
        return false;
    }
    name = command->text.trimmed();
    args.clear();
    for (const loadformat::XmlNode& child : root.Child(QStringLiteral("arg"))->children) {
        if (args.contains(child.name)) {
            error = QStringLiteral("Malformed command document: argument <%1> appears twice").arg(child.name);
            return false;
        }
        args.insert(child.name, child.text.trimmed());
    }
    return true;
}

Status CommandDocument::Required(const QString& key, QString& value) const
{
    value = args.value(key);
    if (value.isEmpty())
        return Status::Fail(QUILLON_E_INVALID_ARGUMENT,
                            QStringLiteral("%1 needs the argument <%2>").arg(name, key));
    return Status::Success();
}

} // namespace quillonsim
