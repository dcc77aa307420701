#pragma once

// What the build that made this binary recorded: CommitId from a source written when the commit changes
// (cmake/WriteBuildInfo.cmake), Date and Time from a source compiled right before the executable is linked
// (cmake/BuildDate.cmake), so they are the date of that link.
namespace BuildInfo {

inline const char* Version()
{
    return "W2316.00.000";
}

// The date the executable was linked, as the compiler writes it: "Apr  8 2023", a day below 10 after an
// extra space.
const char* Date();
// The time the executable was linked, as "09:13:12".
const char* Time();
// The short hash of the commit the build came from, or "unknown" when built outside a git work tree.
const char* CommitId();

} // namespace BuildInfo
