#include "common/SlaChallengeData.h"

#include <QByteArray>

#include <algorithm>
#include <cstring>

namespace {

void CopyField(const QString& hex, uint32_t fieldLength, uint8_t* field)
{
    const QByteArray bytes = QByteArray::fromHex(hex.toLatin1());
    std::memcpy(field, bytes.constData(), std::min<size_t>(size_t(bytes.size()), fieldLength));
}

} // namespace

uint32_t SlaChallengeData::IdLength(int type)
{
    switch (type) {
    case 1:
        return 16;
    case 2:
        return 32;
    default:
        return 0;
    }
}

void SlaChallengeData::Fill(int type, const QString& rnd, const QString& hrid, const QString& socid,
                            uint8_t* block)
{
    const uint32_t idLength = IdLength(type);
    if (type == 1)
        CopyField(hrid, idLength, block);
    else if (type == 2)
        CopyField(socid, idLength, block);
    CopyField(rnd, kRndLength, block + idLength);
}
