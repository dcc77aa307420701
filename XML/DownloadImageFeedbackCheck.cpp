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

bool ReadDeviceChecksums(const QString& feedbackPath, DeviceChksumParser::ChecksumMap& deviceMap, QString& error)
{
    DeviceChksumParser parser;
    if (!parser.ParseXMLFile(feedbackPath)) {
        error = parser.GetErrorMsg();
        return false;
    }
    deviceMap = parser.GetChecksumMap();
    return true;
}

FeedbackOutcome Failed(FeedbackCheck check, const QString& reason, int verified = 0)
{
    return FeedbackOutcome{check, reason, verified};
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
    return CompareDownloadImageFeedback(recordPortIndex, scatterPath, sessionPortIndex).check;
}

FeedbackOutcome CompareDownloadImageFeedback(int recordPortIndex, const QString& scatterPath,
                                             int sessionPortIndex, const QByteArray& checkedList)
{
    LOGI("ICmdXMLGenerator::CbGetDownloadImageFeedback", "CbGetDownloadImageFeedback, index = %d",
         recordPortIndex);

    DeviceChksumParser::ChecksumMap deviceMap;
    const QString feedbackPath = ICmdXMLGenerator::FeedbackFilePath(sessionPortIndex);
    QString error;
    if (!ReadDeviceChecksums(feedbackPath, deviceMap, error)) {
        LOGD("ICmdXMLGenerator::CbGetDownloadImageFeedback", "Parse device checksum failed");
        return Failed(FeedbackCheck::FeedbackUnreadable,
                      QStringLiteral("The device's downloaded-image feedback %1 cannot be read: %2")
                          .arg(QDir::toNativeSeparators(feedbackPath), error));
    }

    const QString loadListPath = LoadChecksumListPath(scatterPath);
    LOGI("ICmdXMLGenerator::CbGetDownloadImageFeedback", "load_chksum_file = %s",
         loadListPath.toLocal8Bit().constData());
    const bool pinned = !checkedList.isNull();
    if (!pinned && !QFileInfo::exists(loadListPath)) {
        LOGE("ICmdXMLGenerator::CbGetDownloadImageFeedback", "load_chksum_file not exist");
        return Failed(FeedbackCheck::LoadListMissing,
                      QStringLiteral("The load's checksum list %1 is missing").arg(QDir::toNativeSeparators(loadListPath)));
    }
    LoadChksumParser loadParser;
    if (!(pinned ? loadParser.ParseXMLBytes(checkedList, loadListPath) : loadParser.ParseXMLFile(loadListPath))) {
        LOGE("ICmdXMLGenerator::CbGetDownloadImageFeedback", "Parse load checksum failed");
        return Failed(FeedbackCheck::LoadListUnreadable,
                      QStringLiteral("The load's checksum list %1 cannot be read: %2")
                          .arg(QDir::toNativeSeparators(loadListPath), loadParser.GetErrorMsg()));
    }
    const QHash<QString, QString> loadMap = loadParser.GetChecksumMap();
    int verified = 0;

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
            return Failed(FeedbackCheck::Mismatch,
                          QStringLiteral("Checksum mismatch: image %1 (partition %2): the device computed %3, the "
                                         "load's list says %4")
                              .arg(imageFile, partition, deviceChecksum, loadChecksum),
                          verified);
        }
        ++verified;
    }
    return FeedbackOutcome{FeedbackCheck::Match, QString(), verified};
}
