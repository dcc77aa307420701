// One image to hash: where it is, how large it was when the check measured it, and what the list expects.
#pragma once

#include <QByteArray>
#include <QString>

#include <cstdint>

namespace quillcheck {

struct ImageJob
{
    QString name;         // as the checksum list names it
    QByteArray nameUtf8;  // handed to the progress callback, so it must live as long as the check
    QString path;         // absolute, inside the load's folder
    QByteArray localPath; // the path in the file system's encoding
    uint64_t size = 0;    // measured before hashing; a different size later means the image changed
    QString expected;     // 16 lowercase hexadecimal digits
};

} // namespace quillcheck
