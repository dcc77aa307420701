#pragma once

#include <QtGlobal>

#include <vector>

// Small socket checks on 127.0.0.1 that the test broker needs before and while it starts.
namespace Loopback {

// count distinct ports that nothing on this machine listens on right now; empty when the system refuses.
// All of them are held open until the last one is found, so the same port never comes back twice.
std::vector<quint16> PickFreePorts(int count);

// True when something on the port accepts a connection within the time.
bool Accepts(quint16 port, int timeoutMs);

// True when the port answers an AMQP 1.0 SASL protocol header with the same header, which the broker only
// does once the AMQP 1.0 plugin is running; a node without it answers with its 0-9-1 header instead.
bool AnswersAmqp10(quint16 port, int timeoutMs);

} // namespace Loopback
