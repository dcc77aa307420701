#include "cli/JournalCommand.h"

#include "Utility/InstanceLock.h"
#include "cli/CommandLine.h"
#include "cli/ReportDatabase.h"
#include "common/IniSetting.h"
#include "factory/FactoryMessages.h"
#include "factory/FactorySettings.h"
#include "record/JournalCheck.h"
#include "record/StationDatabase.h"
#include "record/StationRecordWriter.h"

#include <QDir>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSysInfo>

#include <functional>
#include <memory>

namespace {

constexpr int kDone = 0;
constexpr int kDamaged = 1;
constexpr int kUnusable = 2;

const char kDescription[] =
    "Looks after the station database (station.db in the record folder).\n\n"
    "  journal check     checks the whole database, indexes included; changes nothing\n"
    "  journal rebuild   moves the database aside and builds a new one from what still reads of it and\n"
    "                    from the day files; no station may run on this folder meanwhile\n\n"
    "Exit codes: 0 sound (check) or rebuilt (rebuild), 1 damaged (check), 2 unusable.";

struct Verb
{
    const char* name;
    int (*run)(const QCommandLineParser& parser, const QString& folder, FILE* out, FILE* err);
};

int Fail(FILE* err, const QString& message)
{
    std::fprintf(err, "praxilo-cli journal: %s\n", message.toLocal8Bit().constData());
    return kUnusable;
}

QString Native(const QString& path)
{
    return QDir::toNativeSeparators(path);
}

int Check(const QCommandLineParser&, const QString& folder, FILE* out, FILE* err)
{
    const QString path = StationDatabase::Path(folder);
    if (!QFileInfo(path).isFile())
        return Fail(err, QStringLiteral("no station database at %1").arg(Native(path)));
    const QString connection = QStringLiteral("journal-check");
    int code = kDone;
    {
        QSqlDatabase database = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connection);
        QString error;
        if (!ReportDatabase::Open(database, path, error)) {
            // A file refused before SQLite reads it is no database the station can go on with.
            std::fprintf(out, "%s: damaged: %s\n", Native(path).toLocal8Bit().constData(),
                         error.toLocal8Bit().constData());
            code = kDamaged;
        } else {
            QString findings;
            switch (JournalCheck::Run(database, JournalCheck::Depth::Full, findings)) {
            case JournalCheck::Verdict::Sound:
                std::fprintf(out, "%s: sound\n", Native(path).toLocal8Bit().constData());
                break;
            case JournalCheck::Verdict::Damaged:
                std::fprintf(out, "%s: damaged: %s\n", Native(path).toLocal8Bit().constData(),
                             findings.toLocal8Bit().constData());
                code = kDamaged;
                break;
            case JournalCheck::Verdict::Unknown:
                code = Fail(err, QStringLiteral("cannot check %1: %2").arg(Native(path), findings));
                break;
            }
        }
        database.close();
    }
    QSqlDatabase::removeDatabase(connection);
    return code;
}

int Rebuild(const QCommandLineParser& parser, const QString& folder, FILE* out, FILE* err)
{
    InstanceLock instance;
    QString holder;
    if (!instance.TryLock(holder))
        return Fail(err, QStringLiteral("a station is running on this machine: %1").arg(holder));
    const QString settingsFile = parser.isSet(QStringLiteral("settings"))
                                     ? parser.value(QStringLiteral("settings"))
                                     : IniSetting::DefaultPath();
    // Without a factory the station keeps no messages, and a rebuild queues none.
    const FactorySettings::Result factory = FactorySettings::Read(settingsFile, QString());
    std::unique_ptr<FactoryMessages> messages;
    if (factory.enabled)
        messages = std::make_unique<FactoryMessages>(factory.endpoint.handle);
    StationDatabase database(folder, {QSysInfo::machineHostName(), StationRecordWriter::ToolVersion()});
    database.SetMessages(messages.get());
    QString report;
    database.SetRebuildReport([&report](const QString& text) { report = text; });
    QString error;
    if (!database.Rebuild(QStringLiteral("rebuilt on request"), error))
        return Fail(err, error);
    std::fprintf(out, "%s\n", report.toLocal8Bit().constData());
    return kDone;
}

const Verb kVerbs[] = {{"check", Check}, {"rebuild", Rebuild}};

} // namespace

int JournalCommand::Run(const QStringList& arguments, FILE* out, FILE* err)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QString::fromLatin1(kDescription));
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption record(QStringLiteral("record"), QStringLiteral("The station record's folder."),
                                    QStringLiteral("folder"));
    const QCommandLineOption settings(QStringLiteral("settings"),
                                      QStringLiteral("Settings file naming the factory (rebuild)."),
                                      QStringLiteral("file"));
    parser.addOptions({record, settings});
    // The verb is the third word; what follows it are the verb's options.
    QStringList rest = arguments;
    const QString verb =
        rest.size() > 2 && !rest.at(2).startsWith(QLatin1Char('-')) ? rest.takeAt(2) : QString();
    rest.removeAt(1);
    QString message;
    switch (ParseCommandLine(parser, help, rest, message)) {
    case CommandLineOutcome::Help:
        std::fprintf(out, "%s", message.toLocal8Bit().constData());
        return kDone;
    case CommandLineOutcome::Error:
        return Fail(err, message);
    case CommandLineOutcome::Run:
        break;
    }
    if (parser.isSet(record)) {
        const QString problem = CheckFolderOption(QStringLiteral("--record"), parser.value(record));
        if (!problem.isEmpty())
            return Fail(err, problem);
    }
    const QString folder = parser.isSet(record) ? parser.value(record) : StationRecordWriter::DefaultFolder();
    for (const Verb& candidate : kVerbs) {
        if (verb == QLatin1String(candidate.name))
            return candidate.run(parser, folder, out, err);
    }
    return Fail(err, verb.isEmpty() ? QStringLiteral("a verb is needed: check or rebuild")
                                    : QStringLiteral("unknown verb %1: check or rebuild").arg(verb));
}
