// Host memory named by "MEM://0x<address>:0x<length>": where the device's answers go and where the host's
// data comes from. Every check happens before the memory is touched.
#pragma once

#include <QByteArray>
#include <QString>

namespace quillonsim {

class MemoryTarget
{
public:
    static constexpr quint64 kMaxLength = 16 * 1024 * 1024;

    // Refuses malformed text, address 0, length 0, a length over 16 MiB and a range that overflows.
    static bool Parse(const QString& text, MemoryTarget& out, QString& error);

    quintptr Address() const { return address; }
    quint64 Length() const { return length; }

    // Writes the answer and its terminating zero. An answer that does not fit fails and leaves a single zero
    // byte, so the caller never reads a truncated answer as a whole one.
    bool WriteText(const QByteArray& answer, QString& error) const;
    QByteArray Read() const;

private:
    quintptr address = 0;
    quint64 length = 0;
};

} // namespace quillonsim
