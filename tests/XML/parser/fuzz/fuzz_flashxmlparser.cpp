#include "FuzzSupport.h"
#include "XML/parser/FlashXMLParser.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray input = FuzzSupport::Shape(data, size, "<?xml version=\"1.0\"?>\n<flash>\n<scatter>",
                                                "</scatter>\n<contact>c</contact>\n</flash>\n");
    FlashXMLParser parser;
    if (parser.ParseXMLFile(FuzzSupport::WriteInput(input, QStringLiteral("flash.xml")))) {
        // An accepted file always yields a scatter path: at least the folder of a relative one.
        if (parser.GetScatterFilePath().isEmpty()) {
            __builtin_trap();
        }
    }
    FlashXMLParser fromText;
    fromText.ParseXMLString(QString::fromUtf8(input));
    return 0;
}
