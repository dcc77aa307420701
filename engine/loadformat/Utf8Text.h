// UTF-8 checks shared by the readers of the load's text and XML files.
#pragma once

#include <QByteArray>

namespace loadformat {

class Utf8Text
{
public:
    // Offset of the first byte that is not part of a well-formed UTF-8 sequence, or -1.
    static int FirstInvalid(const QByteArray& bytes);

    // Walks forward through valid UTF-8 and tells the byte offset that a UTF-16 offset into the decoded
    // text corresponds to.
    class Cursor
    {
    public:
        explicit Cursor(const QByteArray& bytes) : bytes(bytes) {}
        qint64 ByteOffsetOf(qint64 utf16Offset, qint64 limit);

    private:
        const QByteArray& bytes;
        qint64 byteOffset = 0;
        qint64 utf16Offset = 0;
    };
};

} // namespace loadformat
