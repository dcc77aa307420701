#pragma once

#include <QStringList>

#include <cstdio>

// "praxilo-cli profile": checks a load as a run would and prints the settings file's [Station] group that
// locks the station to it, keeping the group's other keys, so an engineer pins a load without hand work.
namespace ProfileCommand {

// arguments start with the program, then "profile"; returns the process's exit code.
int Run(const QStringList& arguments, FILE* out, FILE* err);

} // namespace ProfileCommand
