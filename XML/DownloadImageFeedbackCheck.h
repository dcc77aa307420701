#pragma once

#include <QByteArray>
#include <QString>

// Compares the checksums the device reports for the images it received with the load's own checksum
// list "scatter_checksum.xml" beside the scatter file. recordPortIndex is the port the command was built
// for (it goes into the log); sessionPortIndex names the feedback file the engine wrote. Returns 0 when
// every comparable image matches (also when none is comparable), -1 on the first difference or when
// either file cannot be read. The feedback file stays for an engineer to inspect; the session removes it
// before the next device's feedback command, so no device is judged by another one's answer.
int CbGetDownloadImageFeedback(int recordPortIndex, const QString& scatterPath, int sessionPortIndex);

// What the comparison found, with the same log lines; CbGetDownloadImageFeedback's -1 is any but Match.
enum class FeedbackCheck
{
    Match,              // every comparable image matches, or none is comparable
    FeedbackUnreadable, // the device's feedback file is missing, unreadable or malformed
    LoadListMissing,    // no checksum list beside the scatter file
    LoadListUnreadable, // the checksum list is unreadable or malformed
    Mismatch,           // an image's checksums differ
};

FeedbackCheck CheckDownloadImageFeedback(int recordPortIndex, const QString& scatterPath,
                                         int sessionPortIndex);

// The comparison with what an operator and the record need beside its outcome.
struct FeedbackOutcome
{
    FeedbackCheck check = FeedbackCheck::Match;
    // Empty on a match; otherwise the image, its partition and both checksums, or which file could not be
    // read and why.
    QString reason;
    int verified = 0; // images whose device checksum equals the load's, counted until the first difference
};

// checkedList, when not null, is the load's checksum list as the load's check read it: it is compared
// instead of the file beside the scatter file, which may have been rewritten since (the log still names that
// file's path).
FeedbackOutcome CompareDownloadImageFeedback(int recordPortIndex, const QString& scatterPath,
                                             int sessionPortIndex, const QByteArray& checkedList = QByteArray());
