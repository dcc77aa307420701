#pragma once

#include "common/OperatorPrompt.h"
#include "common/PortRowState.h"

#include <QString>

// What a station policy may do besides deciding: change a row's state beside its cells, fill its message
// cell, and reach the operator. The port manager serves it; a policy's test serves it with a recorder.
class StationPolicyHost
{
public:
    virtual ~StationPolicyHost() = default;

    // Any thread: queued behind the displays the calling thread has already queued for the row.
    virtual void ChangeRow(const PortRowChange& change) = 0;
    // Any thread: the row's message cell, in its window cell and its state alike.
    virtual void ShowRowMessage(int row, const QString& text) = 0;
    // User-interface thread only.
    virtual void TellOperator(OperatorPrompt::Kind kind, const QString& title, const QString& text) = 0;
    // Any thread: told once the user-interface thread gets to it.
    virtual void TellOperatorLater(OperatorPrompt::Kind kind, const QString& title, const QString& text) = 0;
    // User-interface thread only: the front end's notice that a run verifies no device.
    virtual void NotifyUnverifiedRun(const QString& text) = 0;
};
