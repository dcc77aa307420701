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
