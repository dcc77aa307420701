#include "FuzzSupport.h"
#include "XML/parser/SecDevFWInfoParser.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray input = FuzzSupport::Shape(data, size, "<info><rnd>01</rnd>", "</info>");
    SecDevFWInfoParser parser;
    // Stored texts are trimmed, whatever surrounded them.
    if (parser.ParseXMLString(QString::fromUtf8(input)) &&
        (parser.GetRnd() != parser.GetRnd().trimmed() || parser.GetSocid() != parser.GetSocid().trimmed())) {
        __builtin_trap();
    }
    SecDevFWInfoParser wide;
    wide.ParseXMLString(FuzzSupport::AsUtf16(data, size));
    return 0;
}
