// Parses a checksum list of 50 000 entries with LoadChksumParser and, in the same run, makes a bare
// streaming pass over the same file as the baseline. Prints the best of several rounds of each.

#include "XML/parser/LoadChksumParser.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QXmlStreamReader>

#include <algorithm>
#include <cstdio>
#include <functional>

namespace {

constexpr int kEntries = 50000;
constexpr int kRounds = 7;

QByteArray ChecksumList()
{
    QByteArray document = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<checksum_list>\n    <images>\n";
    for (int i = 0; i < kEntries; ++i) {
        // Checksums in the form the load carries: 16 lowercase hexadecimal digits.
        const QByteArray checksum =
            QByteArray::number(0x9e3779b97f4a7c15ULL * static_cast<quint64>(i + 1), 16)
                .rightJustified(16, '0');
        document += "        <file name=\"image_" + QByteArray::number(i) + ".img\" checksum=\"" + checksum +
                    "\"/>\n";
    }
    return document + "    </images>\n</checksum_list>\n";
}

// Best time in milliseconds over the rounds; the result of the last round is checked by the caller.
double BestMilliseconds(const std::function<int()>& round, int& result)
{
    double best = 1e300;
    for (int i = 0; i < kRounds; ++i) {
        QElapsedTimer timer;
        timer.start();
        result = round();
        best = std::min(best, timer.nsecsElapsed() / 1e6);
    }
    return best;
}

int StreamPass(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return -1;
    }
    QXmlStreamReader reader(&file);
    int entries = 0;
    while (!reader.atEnd()) {
        if (reader.readNext() == QXmlStreamReader::StartElement && reader.name() == QLatin1String("file") &&
            reader.attributes().hasAttribute(QLatin1String("name"))) {
            ++entries;
        }
    }
    return reader.hasError() ? -1 : entries;
}

int ParserPass(const QString& path)
{
    LoadChksumParser parser;
    return parser.ParseXMLFile(path) ? parser.GetChecksumMap().size() : -1;
}

} // namespace

int main()
{
    QTemporaryDir folder;
    if (!folder.isValid()) {
        std::fprintf(stderr, "cannot create a temporary folder\n");
        return 1;
    }
    const QString path = folder.filePath(QStringLiteral("scatter_checksum.xml"));
    const QByteArray document = ChecksumList();
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(document) != document.size()) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        return 1;
    }
    file.close();

    int streamEntries = 0;
    int parserEntries = 0;
    const double streamMs = BestMilliseconds([&] { return StreamPass(path); }, streamEntries);
    const double parserMs = BestMilliseconds([&] { return ParserPass(path); }, parserEntries);
    if (streamEntries != kEntries || parserEntries != kEntries) {
        std::fprintf(stderr, "entry counts differ: stream %d, parser %d, expected %d\n", streamEntries,
                     parserEntries, kEntries);
        return 1;
    }

    std::printf("checksum list: %d entries, %.2f MiB, best of %d rounds\n", kEntries,
                document.size() / (1024.0 * 1024.0), kRounds);
    std::printf("  baseline  bare QXmlStreamReader pass   %8.1f ms\n", streamMs);
    std::printf("  LoadChksumParser::ParseXMLFile         %8.1f ms\n", parserMs);
    std::printf("  ratio parser / baseline                %8.2f\n", parserMs / streamMs);
    return 0;
}
