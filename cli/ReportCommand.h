#pragma once

#include <QStringList>

#include <cstdio>

// "praxilo-cli report": the station database's figures on standard output; read only, so it may run
// beside a flashing station.
namespace ReportCommand {

// Returns the exit code: 0 printed, 2 bad usage or no readable database.
int Run(const QStringList& arguments, FILE* out, FILE* err);

} // namespace ReportCommand
