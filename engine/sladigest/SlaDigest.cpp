#include "SlaDigest.h"

#include <QCryptographicHash>
#include <QMessageAuthenticationCode>

namespace sladigest {

namespace {

QByteArray Field(const QByteArray& bytes, int length)
{
    QByteArray field = bytes.left(length);
    field.append(QByteArray(length - field.size(), '\0'));
    return field;
}

} // namespace

QByteArray DefaultKey()
{
    return QByteArrayLiteral("praxilo-sim-sla-key");
}

QByteArray Response(const QByteArray& key, const QByteArray& challenge)
{
    return QMessageAuthenticationCode::hash(challenge, key, QCryptographicHash::Sha256);
}

QByteArray DaChallengeData(int type, const QByteArray& hrid, const QByteArray& socid, const QByteArray& rnd)
{
    QByteArray data;
    if (type == 1)
        data = Field(hrid, 16);
    else if (type == 2)
        data = Field(socid, 32);
    return data + Field(rnd, kRndLength);
}

} // namespace sladigest
