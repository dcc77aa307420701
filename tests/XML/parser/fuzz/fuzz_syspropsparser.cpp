#include "FuzzSupport.h"
#include "XML/parser/SysPropsParser.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray input = FuzzSupport::Shape(data, size, "<da><item key=\"X\">1</item>", "</da>");
    SysPropsParser parser;
    // The answer always parses as a whole or not at all: a refused one never reports SLA as enabled.
    if (!parser.ParseXMLString(QString::fromUtf8(input)) && parser.IsSLAEnabled()) {
        __builtin_trap();
    }
    SysPropsParser wide;
    wide.ParseXMLString(FuzzSupport::AsUtf16(data, size));
    return 0;
}
