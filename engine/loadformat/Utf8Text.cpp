#include "Utf8Text.h"

namespace loadformat {

int Utf8Text::FirstInvalid(const QByteArray& bytes)
{
    const auto* data = reinterpret_cast<const unsigned char*>(bytes.constData());
    const int size = bytes.size();
    int i = 0;
    while (i < size) {
        const unsigned char lead = data[i];
        if (lead < 0x80) {
            ++i;
            continue;
        }
        int length = 0;
        unsigned int minimum = 0;
        unsigned int value = 0;
        if ((lead & 0xe0) == 0xc0) {
            length = 2;
            minimum = 0x80;
            value = lead & 0x1f;
        } else if ((lead & 0xf0) == 0xe0) {
            length = 3;
            minimum = 0x800;
            value = lead & 0x0f;
        } else if ((lead & 0xf8) == 0xf0) {
            length = 4;
            minimum = 0x10000;
            value = lead & 0x07;
        } else {
            return i;
        }
        if (i + length > size)
            return i;
        for (int k = 1; k < length; ++k) {
            if ((data[i + k] & 0xc0) != 0x80)
                return i;
            value = (value << 6) | (data[i + k] & 0x3f);
        }
        // Overlong forms, surrogates and values past the last code point are not UTF-8.
        if (value < minimum || value > 0x10ffff || (value >= 0xd800 && value <= 0xdfff))
            return i;
        i += length;
    }
    return -1;
}

qint64 Utf8Text::Cursor::ByteOffsetOf(qint64 target, qint64 limit)
{
    const auto* data = reinterpret_cast<const unsigned char*>(bytes.constData());
    while (utf16Offset < target && byteOffset < limit) {
        const unsigned char lead = data[byteOffset];
        int length = 1;
        if (lead >= 0xf0)
            length = 4;
        else if (lead >= 0xe0)
            length = 3;
        else if (lead >= 0xc0)
            length = 2;
        byteOffset += length;
        // Code points beyond the basic plane take two UTF-16 units.
        utf16Offset += length == 4 ? 2 : 1;
    }
    if (byteOffset > limit)
        byteOffset = limit;
    return byteOffset;
}

} // namespace loadformat
