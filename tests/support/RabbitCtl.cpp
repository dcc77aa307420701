#include "RabbitCtl.h"

#include "ChildProcess.h"

RabbitCtl::RabbitCtl(const QString& program_, const QProcessEnvironment& environment_,
                     const QString& workFolder_)
    : program(program_), environment(environment_), workFolder(workFolder_)
{
}

CtlResult RabbitCtl::Run(const QStringList& arguments, int timeoutMs) const
{
    CtlResult result;
    ChildProcess process;
    process.setProgram(program);
    process.setArguments(arguments);
    process.setProcessEnvironment(environment);
    process.setWorkingDirectory(workFolder);
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.setStandardInputFile(QProcess::nullDevice());
    process.start();
    if (!process.waitForStarted(10000)) {
        result.output = QStringLiteral("cannot run %1: %2").arg(program, process.errorString());
        return result;
    }
    const bool finished = process.waitForFinished(timeoutMs);
    if (!finished)
        process.End(2000);
    result.output = QString::fromUtf8(process.readAll());
    if (!finished) {
        result.output += QStringLiteral("\n%1 %2 did not finish within %3 ms")
                             .arg(program, arguments.join(QLatin1Char(' ')))
                             .arg(timeoutMs);
        return result;
    }
    result.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    result.ok = result.exitCode == 0;
    return result;
}
