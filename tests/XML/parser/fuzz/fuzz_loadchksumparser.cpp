#include "FuzzSupport.h"
#include "XML/parser/LoadChksumParser.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray input =
        FuzzSupport::Shape(data, size, "<checksum_list><images><file name=\"a.img\" checksum=\"1\"/>",
                           "</images></checksum_list>");
    LoadChksumParser parser;
    const bool parsed =
        parser.ParseXMLFile(FuzzSupport::WriteInput(input, QStringLiteral("scatter_checksum.xml")));
    // Every entry comes from an element of its own: never more entries than the input has bytes.
    if (parsed && parser.GetChecksumMap().size() > input.size()) {
        __builtin_trap();
    }
    return 0;
}
