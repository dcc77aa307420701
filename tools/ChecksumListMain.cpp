#include "LoadFormat.h"

#include <QCoreApplication>
#include <QTextStream>

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QTextStream err(stderr);
    QTextStream out(stdout);
    const QStringList arguments = QCoreApplication::arguments();
    if (arguments.size() != 2 || arguments.at(1).isEmpty() || arguments.at(1).startsWith(QLatin1Char('-'))) {
        err << "usage: pxl_checksum_list <scatter file>\n"
               "Writes scatter_checksum.xml beside the scatter file from the images it lists.\n";
        return 2;
    }
    const QString scatterPath = arguments.at(1);
    QVector<loadformat::ChecksumListEntry> written;
    QString error;
    if (!loadformat::WriteChecksumListForScatter(scatterPath, written, error)) {
        err << "pxl_checksum_list: " << error << '\n';
        return 1;
    }
    out << "Wrote " << loadformat::ChecksumListPath(scatterPath) << " (" << written.size() << " images)\n";
    return 0;
}
