// The account of every call the authentication stand-in received, one line each, appended to the file its
// configuration names, so tests can see what the tool handed over.
#pragma once

#include <QByteArray>
#include <QString>

namespace slastandin {

class SlaRecord
{
public:
    // Appends "<function> <details>" and a line break; sixteen ports may call at once.
    static void Append(const QString& path, const char* function, const QByteArray& details);
};

} // namespace slastandin
