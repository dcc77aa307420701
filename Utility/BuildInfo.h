#pragma once

// What the build that made this binary recorded; the source behind Date, Time and CommitId is written anew
// on every build (cmake/WriteBuildInfo.cmake).
namespace BuildInfo {

inline const char* Version()
{
    return "W2316.00.000";
}

// The compiler's date of this build, as "Apr  8 2023": a day below 10 follows an extra space.
const char* Date();
// The compiler's time of this build, as "09:13:12".
const char* Time();
// The short hash of the commit the build came from, or "unknown" when built outside a git work tree.
const char* CommitId();

} // namespace BuildInfo
