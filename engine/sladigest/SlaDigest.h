// What the authentication stand-in answers to a challenge, and the DA challenge data a device expects the
// host to build, so that the library and the farm agree without either knowing the other.
#pragma once

#include <QByteArray>

namespace sladigest {

// The key and feature type the library and the farm use when nobody configures them.
QByteArray DefaultKey();
constexpr int kDefaultType = 1;
constexpr int kRndLength = 16;

// HMAC-SHA256 of the challenge under the key: 32 bytes.
QByteArray Response(const QByteArray& key, const QByteArray& challenge);

// The device id the type selects (16 bytes of hrid for type 1, 32 of socid for type 2, none otherwise),
// then 16 bytes of rnd; a shorter id or rnd is padded with zero bytes.
QByteArray DaChallengeData(int type, const QByteArray& hrid, const QByteArray& socid, const QByteArray& rnd);

} // namespace sladigest
