// A second process appending to the station record: station_record_probe <folder> <tag> <records> <perDay>.
// Record i goes to the day i / perDay after 2023-04-12, so each day's files are new while both processes
// write. Exits 0 when every record was written.
#include "StationRecordFiles.h"

#include "record/StationRecordWriter.h"

#include <QCoreApplication>
#include <QStringList>

#include <cstdio>

int main(int argc, char* argv[])
{
    QCoreApplication application(argc, argv);
    const QStringList arguments = application.arguments();
    if (arguments.size() != 5) {
        std::fprintf(stderr, "usage: station_record_probe <folder> <tag> <records> <perDay>\n");
        return 2;
    }
    const QString tag = arguments.at(2);
    const int records = arguments.at(3).toInt();
    const int perDay = arguments.at(4).toInt();
    if (records <= 0 || perDay <= 0)
        return 2;
    StationRecordWriter writer(arguments.at(1));
    const QDateTime first(QDate(2023, 4, 12), QTime(12, 0), Qt::UTC);
    for (int i = 0; i < records; ++i) {
        const QDateTime end = first.addDays(i / perDay).addMSecs(i);
        writer.Record(StationRecordFiles::MakeRecord(QStringLiteral("%1-%2").arg(tag).arg(i), end, 1, i + 1));
    }
    std::printf("written %lld failed %lld\n", static_cast<long long>(writer.Written()),
                static_cast<long long>(writer.Failed()));
    return writer.Written() == records ? 0 : 1;
}
