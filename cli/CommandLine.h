#pragma once

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QString>
#include <QStringList>

// What parsing a command line came to: run, print the help, or refuse with one line.
enum class CommandLineOutcome
{
    Run,
    Help,
    Error
};

// The steps every subcommand's parse begins with: the parser's own errors, the help option, and no stray
// positional arguments. On Help, message holds the help text; on Error, the line naming the problem.
CommandLineOutcome ParseCommandLine(QCommandLineParser& parser, const QCommandLineOption& help,
                                    const QStringList& arguments, QString& message);

// Empty when a folder option's value can be used as given; otherwise the line naming the problem. An empty
// value is refused rather than taken for the option's default folder, which it only looks like.
QString CheckFolderOption(const QString& option, const QString& folder);
