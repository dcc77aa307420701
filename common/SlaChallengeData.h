#pragma once

#include <QString>

#include <cstdint>

// The challenge data handed to DA_SLA_Challenge: the device id that the SLA data type selects, then the 16
// bytes of the device's rnd.
class SlaChallengeData
{
public:
    static constexpr uint32_t kRndLength = 16;

    // 16 (hrid) for type 1, 32 (socid) for type 2, 0 for any other type.
    static uint32_t IdLength(int type);
    static uint32_t BlockLength(int type) { return IdLength(type) + kRndLength; }

    // Fills a zero-filled block of BlockLength(type) bytes from the firmware information's hexadecimal
    // texts, decoded as QByteArray::fromHex does; a value shorter than its field leaves the rest zero.
    static void Fill(int type, const QString& rnd, const QString& hrid, const QString& socid, uint8_t* block);
};
