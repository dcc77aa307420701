// Rules for the image names a load may list, shared by the scatter file and the checksum list.
#pragma once

#include <QString>

namespace loadformat {

class ImageName
{
public:
    // Empty when the name is a bare file name; otherwise why it is not.
    static QString Problem(const QString& name);
    // Two names with equal keys name the same file on a case-insensitive file system.
    static QString Key(const QString& name);
};

} // namespace loadformat
