#include "FuzzSupport.h"
#include "XML/parser/DeviceChksumParser.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray input = FuzzSupport::Shape(
        data, size, "<feedback><item file=\"C:\\load\\a.img\" image_chksum=\"1\" pt=\"p\"/>", "</feedback>");
    DeviceChksumParser parser;
    parser.ParseXMLFile(FuzzSupport::WriteInput(input, QStringLiteral("DownloadImageFeedback_0.xml")));
    // Keys are file names without their folder, whatever the engine wrote.
    const DeviceChksumParser::ChecksumMap map = parser.GetChecksumMap();
    for (auto entry = map.cbegin(); entry != map.cend(); ++entry) {
        if (entry.key().contains(QLatin1Char('/')) || entry.key().contains(QLatin1Char('\\'))) {
            __builtin_trap();
        }
    }
    return 0;
}
