// The description of the simulated farm: its ports, its clock, how devices behave and which faults they
// show. Read strictly from an INI file, so that a typo fails loudly instead of simulating something else.
#pragma once

#include "SlaDigest.h"

#include <QByteArray>
#include <QString>

#include <vector>

namespace quillonsim {

enum class Stage
{
    None,
    Scan,
    Connect,
    Enter,
    Command,
    Transfer
};

enum class DeviceMode
{
    BootRom,
    PreLoader
};

struct FaultPlan
{
    bool absent = false;
    Stage failStage = Stage::None;
    QString failCommand; // "CMD:..." when failStage is Command
    int failPercent = 0; // when failStage is Transfer
    int failEvery = 1;
    Stage hangStage = Stage::None;
    QString corruptImage;

    // Whether the deviceNumber-th device of a port (1-based) shows the failure.
    bool Fails(Stage stage, quint64 deviceNumber) const;
    bool Hangs(Stage stage) const { return hangStage == stage; }
};

struct PortSettings
{
    double arrivalMs = 300;
    double arrivalStepMs = 150;
    double swapMs = 2000;
    double reenumerateMs = 3000;
    int devicesPerPort = 0;
    DeviceMode type = DeviceMode::BootRom;
    double linkMBps = 40;
    double connectMs = 400;
    double daLoadMs = 1200;
    double eraseMs = 800;
    double efuseMs = 200;
    bool slaEnabled = false;
    bool bromSla = false;
    QByteArray slaKey = sladigest::DefaultKey();
    int slaType = sladigest::kDefaultType;
    bool authRequired = false;
    // Real milliseconds the engine waits for a device that does not answer; not a device delay, so not
    // scaled.
    unsigned int answerTimeoutMs = 30000;
    FaultPlan fault;
    // The farm's seeded faults unless the port has its own, as a worn cable or a weak hub port would.
    double faultRate = 0;
    int faultSeed = 0;
};

struct FarmConfig
{
    QString source; // the INI file it came from; empty for the built-in defaults
    int ports = 16;
    int firstCom = 3;
    double timeScale = 1.0;
    double hubMBps = 0; // what all ports together can stream, as behind one USB 2.0 hub; 0: no shared limit
    bool refuseSessions = false;
    QString ledger;                 // the farm's JSON-lines account of what it did; empty: none
    double faultRate = 0;           // share of devices that get a seeded fault, unless a port sets its own
    int faultSeed = 0;              // the same seed gives the same device the same fault
    int swapFailedAfter = 0;        // a device leaves after this many failed sessions; 0: never
    std::vector<PortSettings> port; // one entry per port, overrides applied

    static FarmConfig Defaults();
    // False with an error that names the file, the group, the key and the value.
    static bool Load(const QString& path, FarmConfig& out, QString& error);
};

} // namespace quillonsim
