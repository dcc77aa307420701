#include "cli/ReportCommand.h"

#include "cli/ReportDatabase.h"
#include "cli/ReportOptions.h"
#include "cli/ReportPrinter.h"
#include "record/StationDatabase.h"
#include "record/StationRecordWriter.h"
#include "record/UnitHistory.h"

#include <QDir>
#include <QFileInfo>
#include <QSqlDatabase>

namespace {

constexpr int kPrinted = 0;
constexpr int kUnusable = 2;

int Fail(FILE* err, const QString& message)
{
    std::fprintf(err, "praxilo-cli report: %s\n", message.toLocal8Bit().constData());
    return kUnusable;
}

} // namespace

int ReportCommand::Run(const QStringList& arguments, FILE* out, FILE* err)
{
    ReportOptions options;
    QString message;
    switch (ReportOptions::Parse(arguments, options, message)) {
    case ReportOptions::Outcome::Help:
        std::fprintf(out, "%s", message.toLocal8Bit().constData());
        return kPrinted;
    case ReportOptions::Outcome::Error:
        return Fail(err, message);
    case ReportOptions::Outcome::Run:
        break;
    }
    const QString folder =
        options.recordFolder.isEmpty() ? StationRecordWriter::DefaultFolder() : options.recordFolder;
    const QString path = StationDatabase::Path(folder);
    if (!QFileInfo(path).isFile())
        return Fail(err, QStringLiteral("no station database at %1").arg(QDir::toNativeSeparators(path)));

    const QString connection = QStringLiteral("station-report");
    int code = kPrinted;
    {
        QSqlDatabase database = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connection);
        StationReport::Report report;
        QVector<UnitHistory::Attempt> history;
        QString error;
        QByteArray text;
        bool read = false;
        if (!ReportDatabase::Open(database, path, error)) {
            code = Fail(err, QStringLiteral("cannot open %1: %2").arg(QDir::toNativeSeparators(path), error));
        } else if (!options.unit.isEmpty()) {
            read = UnitHistory::Read(database, options.filter, options.unit, history, error);
            if (read)
                text = options.json ? ReportPrinter::UnitJson(options.unit, history, options.filter)
                                    : ReportPrinter::UnitText(options.unit, history, options.filter);
        } else {
            read = StationReport::Compute(database, options.filter, report, error);
            if (read)
                text = options.json ? ReportPrinter::Json(report, options.filter)
                                    : ReportPrinter::Text(report, options.filter);
        }
        if (read) {
            std::fwrite(text.constData(), 1, size_t(text.size()), out);
            std::fflush(out);
        } else if (code == kPrinted) {
            code = Fail(err, QStringLiteral("cannot read %1: %2").arg(QDir::toNativeSeparators(path), error));
        }
        database.close();
    }
    QSqlDatabase::removeDatabase(connection);
    return code;
}
