#include "DownloadImageFeedbackCheck.h"

#include "XML/ICmdXMLGenerator.h"
#include "XML/parser/DeviceChksumParser.h"
#include "XML/parser/LoadChksumParser.h"
#include "logging/Log.h"

#include <QDir>
#include <QFileInfo>

static constexpr char kLogSource[] = "XML\\ICmdXMLGenerator";

namespace {

// The folder that holds the scatter file. When that folder cannot be entered the path stays the scatter
// path itself, and the list looked for inside it does not exist.
QString LoadChecksumListPath(const QString& scatterPath)
{
    QDir loadFolder(QFileInfo(scatterPath).absoluteFilePath());
    loadFolder.cdUp();
    return loadFolder.path() + QStringLiteral("/scatter_checksum.xml");
}

bool ReadDeviceChecksums(const QString& feedbackPath, DeviceChksumParser::ChecksumMap& deviceMap)
{
    DeviceChksumParser parser;
    if (!parser.ParseXMLFile(feedbackPath)) {
        return false;
    }
    deviceMap = parser.GetChecksumMap();
    return true;
}

} // namespace

int CbGetDownloadImageFeedback(int recordPortIndex, const QString& scatterPath, int sessionPortIndex)
{
    return CheckDownloadImageFeedback(recordPortIndex, scatterPath, sessionPortIndex) == FeedbackCheck::Match
               ? 0
               : -1;
}

FeedbackCheck CheckDownloadImageFeedback(int recordPortIndex, const QString& scatterPath,
                                         int sessionPortIndex)
{
    LOGI("ICmdXMLGenerator::CbGetDownloadImageFeedback", "CbGetDownloadImageFeedback, index = %d",
         recordPortIndex);

    DeviceChksumParser::ChecksumMap deviceMap;
    if (!ReadDeviceChecksums(ICmdXMLGenerator::FeedbackFilePath(sessionPortIndex), deviceMap)) {
        LOGD("ICmdXMLGenerator::CbGetDownloadImageFeedback", "Parse device checksum failed");
        return FeedbackCheck::FeedbackUnreadable;
    }

    const QString loadListPath = LoadChecksumListPath(scatterPath);
    LOGI("ICmdXMLGenerator::CbGetDownloadImageFeedback", "load_chksum_file = %s",
         loadListPath.toLocal8Bit().constData());
    if (!QFileInfo::exists(loadListPath)) {
        LOGE("ICmdXMLGenerator::CbGetDownloadImageFeedback", "load_chksum_file not exist");
        return FeedbackCheck::LoadListMissing;
    }
    LoadChksumParser loadParser;
    if (!loadParser.ParseXMLFile(loadListPath)) {
        LOGE("ICmdXMLGenerator::CbGetDownloadImageFeedback", "Parse load checksum failed");
        return FeedbackCheck::LoadListUnreadable;
    }
    const QHash<QString, QString> loadMap = loadParser.GetChecksumMap();

    for (auto entry = deviceMap.cbegin(); entry != deviceMap.cend(); ++entry) {
        const QString& imageFile = entry.key();
        const QString& deviceChecksum = entry.value().first;
        const QString& partition = entry.value().second;
        const QString loadChecksum = loadMap.value(imageFile);
        if (loadChecksum.isEmpty() || deviceChecksum.isEmpty()) {
            continue;
        }
        LOGI("ICmdXMLGenerator::CbGetDownloadImageFeedback",
             "Downloaded Checksum: Partition[%s], image file[%s], device downloaded checksum[%s], load "
             "checksum[%s]",
             partition.toLocal8Bit().constData(), imageFile.toLocal8Bit().constData(),
             deviceChecksum.toLocal8Bit().constData(), loadChecksum.toLocal8Bit().constData());
        if (loadChecksum != deviceChecksum) {
            LOGI("ICmdXMLGenerator::CbGetDownloadImageFeedback", "Downloaded Checksum Error");
            return FeedbackCheck::Mismatch;
        }
    }
    return FeedbackCheck::Match;
}
