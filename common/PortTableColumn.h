#pragma once

// The columns of the port table, where row i is port i. The port manager writes cells by these numbers and
// the window builds its table by them, so a column moves in one place only.
namespace PortTableColumn {

enum Column : int
{
    Port = 0,      // "N/A" or the port name + "+" + its type; also the row's selection box
    Status = 1,    // status icon and text
    Percent = 2,   // percent done, "37%"
    Progress = 3,  // the row's progress bar
    Elapsed = 4,   // elapsed time of the port's current work
    Start = 5,     // "[START]": a click starts the port
    Stop = 6,      // "[STOP]": a click stops the port
    Message = 7,   // the session's stage message or the status message
    LastError = 8, // the session's last error; a click shows it in a box
    Count = 9
};

} // namespace PortTableColumn
