// Compiled right before each executable that shows the build date is linked, and into that executable alone
// (cmake/BuildDate.cmake), so that the compiler's date is the date of that link.
#include "Utility/BuildInfo.h"

const char* BuildInfo::Date()
{
    return __DATE__;
}

const char* BuildInfo::Time()
{
    return __TIME__;
}
