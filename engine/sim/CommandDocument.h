// A command document as the engine receives it: <da><version/><command/><arg>...</arg></da>, read with the
// guarded reader.
#pragma once

#include "Status.h"

#include <QHash>
#include <QString>

namespace quillonsim {

class CommandDocument
{
public:
    static constexpr qint64 kMaxBytes = 256 * 1024;

    bool Parse(const QByteArray& bytes, QString& error);

    const QString& Name() const { return name; }
    bool Has(const QString& key) const { return args.contains(key); }
    QString Arg(const QString& key) const { return args.value(key); }
    // The argument's text; an invalid-argument failure naming the command and the argument when it is
    // missing or empty.
    Status Required(const QString& key, QString& value) const;

private:
    QString name;
    QHash<QString, QString> args;
};

} // namespace quillonsim
