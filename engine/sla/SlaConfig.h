// What the authentication stand-in answers with: its key, the feature type it reports, the result its
// challenge functions return and where it records what it received. Read from the file that the
// environment variable SLA_CHALLENGE_CONFIG names, at every call, so a test can change it between sessions.
#pragma once

#include <QByteArray>
#include <QString>

namespace slastandin {

struct SlaConfig
{
    static constexpr const char* kVariable = "SLA_CHALLENGE_CONFIG";
    static constexpr qint64 kMaxFileBytes = 64 * 1024;

    QByteArray key;
    int type = 0;
    int result = 0;
    QString record; // empty: nothing is recorded
    QString error;  // set when the file could not be read or has a bad line

    bool Ok() const { return error.isEmpty(); }

    // The built-in values when the variable is unset or empty.
    static SlaConfig Current();
    static SlaConfig Parse(const QByteArray& text, const QString& path);
};

} // namespace slastandin
