#pragma once

#include "factory/FactoryLink.h"

#include <QString>

// The settings file's "[Factory]" group, which the tool reads and never writes: Broker, Address,
// EndpointHandle, CredentialsFile. A broker given on the command line takes the place of Broker.
namespace FactorySettings {

constexpr char kDefaultAddress[] = "/queue/cfx";

struct Result
{
    bool enabled = false;    // a broker is named and everything checked out
    FactoryEndpoint endpoint;
    QString problem;         // why the station runs without a broker although one is named; empty otherwise
};

Result Read(const QString& settingsFile, const QString& brokerOverride);

// Empty when the address can be connected to as it stands; otherwise what is wrong with it.
QString CheckBroker(const QString& broker);
// Reads "User=" and "Password=" lines; refuses a file its group or other users may read, write or run. From
// the first read on, the process leaves no core dump that could hold the password.
QString ReadCredentials(const QString& path, QString& user, QString& password);
// "Kestrane.PraxiloV6.<host>": the handle when the settings give none.
QString DefaultHandle();

} // namespace FactorySettings
