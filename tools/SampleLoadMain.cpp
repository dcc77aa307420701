#include "SampleLoadOptions.h"
#include "SampleLoadWriter.h"

#include <QCoreApplication>
#include <QTextStream>

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QTextStream err(stderr);
    QTextStream out(stdout);
    const QStringList arguments = QCoreApplication::arguments();
    if (arguments.contains(QStringLiteral("--help")) || arguments.contains(QStringLiteral("-h"))) {
        out << SampleLoadOptions::Usage() << '\n';
        return 0;
    }
    SampleLoadOptions options;
    QString error;
    if (!options.Parse(arguments, error)) {
        err << "pxl_sample_load: " << error << '\n' << SampleLoadOptions::Usage() << '\n';
        return 2;
    }
    SampleLoadWriter writer(options);
    if (!writer.Write(error)) {
        err << "pxl_sample_load: " << error << '\n';
        return 1;
    }
    out << "Wrote " << writer.Images().size() << " images, " << options.totalSize << " bytes in all, to "
        << options.outFolder << '\n';
    return 0;
}
