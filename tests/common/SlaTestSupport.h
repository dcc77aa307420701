// What the authentication tests share: where the stand-in library and its variants are, its configuration
// and record, the engine's trace of executed commands, and a device session prepared against the farm.
#pragma once

#include "ParserTestSupport.h"
#include "SimTestSupport.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

class DeviceInstance;

namespace SlaTestSupport {

// The folder of the library built beside the executables, of one of its variants ("no-feature-config",
// "no-da-challenge", "no-da-challenge-end", "wrong-answer"), and a folder that holds no library.
QString LibraryFolder();
QString VariantFolder(const QString& name);
QString FolderWithoutLibrary();
// The bin folder of an installed station in the working folder: beside it a variant without
// SLA_Feature_Config, in its private library folder the whole library.
QString InstalledStationBin();
// "library", "absent", "installed" or a variant's name.
QString FolderNamed(const QString& name);

// Points the library at a configuration file in the working folder; once, before any thread starts.
void UseLibraryConfig();
// Rewrites that configuration with these lines and a fresh, empty record.
void ConfigureLibrary(const QByteArray& lines);
// Every line the library recorded since, e.g. "DA_SLA_Challenge user=0 length=32 data=<hex>".
QStringList LibraryRecord();
// The functions the record names, in order.
QStringList RecordedFunctions();
// The bytes a recorded challenge line carries.
QByteArray RecordedData(const QString& line);

// Lines of the session written by function with exactly this message. The logger shows every level from
// D up as D, so the level cannot be told from the file.
int FlowLines(const ParserTestSupport::LogCapture& log, const char* function, const QString& message);

// Counts quillon_execute_command calls from the engine's trace, from its creation on.
class CommandCounter
{
public:
    CommandCounter();
    int Count() const;

private:
    QString path;
    qint64 start = 0;
};

// Index, port, flash XML and DA mode setting for a session on the farm's port index.
void Prepare(DeviceInstance& device, int index, const simtest::SampleLoad& load);
// The device's hrid and socid as it reports them to a session of the test's own.
bool DeviceIds(const QString& port, const simtest::SampleLoad& load, QByteArray& hrid, QByteArray& socid);

} // namespace SlaTestSupport
