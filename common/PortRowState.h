#pragma once

#include "common/PortStatus.h"
#include "common/RowOutcomes.h"

#include <QMetaType>
#include <QString>

#include <cstdint>
#include <optional>

// What one row of the port table shows, in the port manager's own terms, for a front end that has no table
// to read. Every field follows the same displays as its cell in the window, in the same order.
struct PortRowState
{
    int32_t status = PortStatus::UND; // code of the last status display; a code outside 0..5 shows no text
    QString statusText;               // the code's name, "RUN", "OK", ...
    QString message;                  // the session's stage message or the status message
    unsigned int percent = 0;
    QString port;      // "N/A" or the port name + "+" + its type, as a scan or the settings file bound it
    QString elapsed;   // "mm : ss" of the port's current work; empty until its timer first ticks
    QString lastError; // the session's last error text
    // Beside the window's cells: the row's attempts since its last Start, its current device's own time
    // ("mm : ss"), and while an image streams its rate and time left.
    RowOutcomeFigures outcomes;
    QString deviceElapsed;
    StreamFigures stream;
};

// One display's change to a row: what it leaves empty, the row keeps.
struct PortRowChange
{
    PortRowChange() = default;
    explicit PortRowChange(int row) : row(row) {}

    void ApplyTo(PortRowState& state) const
    {
        if (status)
            state.status = *status;
        if (statusText)
            state.statusText = *statusText;
        if (message)
            state.message = *message;
        if (percent)
            state.percent = *percent;
        if (port)
            state.port = *port;
        if (elapsed)
            state.elapsed = *elapsed;
        if (lastError)
            state.lastError = *lastError;
        // Counts of other rows' workers may overtake this row's own in the queue.
        if (outcomes && outcomes->version >= state.outcomes.version)
            state.outcomes = *outcomes;
        if (deviceElapsed)
            state.deviceElapsed = *deviceElapsed;
        if (stream)
            state.stream = *stream;
    }

    int row = -1;
    std::optional<int32_t> status;
    std::optional<QString> statusText;
    std::optional<QString> message;
    std::optional<unsigned int> percent;
    std::optional<QString> port;
    std::optional<QString> elapsed;
    std::optional<QString> lastError;
    std::optional<RowOutcomeFigures> outcomes;
    std::optional<QString> deviceElapsed;
    std::optional<StreamFigures> stream;
};

Q_DECLARE_METATYPE(PortRowState)
Q_DECLARE_METATYPE(PortRowChange)
