#pragma once

#include <QStringList>

#include <cstdio>

// "praxilo-cli journal VERB": the station database as the station's journal, looked after by hand. "check"
// tells whether the database is sound and changes nothing; "rebuild" moves it aside and builds a new one
// from what still reads of it and from the day files, as a station does by itself with a damaged one.
namespace JournalCommand {

// arguments start with the program, then "journal" and the verb; returns the process's exit code.
int Run(const QStringList& arguments, FILE* out, FILE* err);

} // namespace JournalCommand
