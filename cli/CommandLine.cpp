#include "cli/CommandLine.h"

#include "Utility/XmlSafeText.h"

#include <QCoreApplication>

CommandLineOutcome ParseCommandLine(QCommandLineParser& parser, const QCommandLineOption& help,
                                    const QStringList& arguments, QString& message)
{
    if (!parser.parse(arguments)) {
        message = parser.errorText();
        return CommandLineOutcome::Error;
    }
    if (parser.isSet(help)) {
        message = parser.helpText();
        return CommandLineOutcome::Help;
    }
    if (!parser.positionalArguments().isEmpty()) {
        message = QCoreApplication::translate("CommandLine", "unexpected argument: %1")
                      .arg(parser.positionalArguments().first());
        return CommandLineOutcome::Error;
    }
    return CommandLineOutcome::Run;
}

QString CheckFolderOption(const QString& option, const QString& folder)
{
    if (folder.trimmed().isEmpty())
        return QCoreApplication::translate("CommandLine", "%1: no folder given").arg(option);
    return XmlSafeText::Check(option, folder);
}
