#pragma once

#include <QFunctionPointer>
#include <QString>

// The authentication library "SLA_Challenge", resolved one function at a time when the session needs it:
// beside the executable first (an installed station: in its private library folder, StationFolders), then
// by the platform's own search. A library once loaded stays loaded, since
// the engine may still hold functions resolved from it.
class SlaLibrary
{
public:
    static constexpr char kLibraryName[] = "SLA_Challenge";

    // The folder looked in first; empty (the default) means the station's library folder. Tests point it at a
    // folder that holds a variant of the library, or at one that holds none.
    static void SetFolder(const QString& folder);
    static QString Folder();

    // Null when neither the library nor the function in it is found.
    static QFunctionPointer Resolve(const char* function);

    template <typename Function> static Function Resolve(const char* function)
    {
        return reinterpret_cast<Function>(Resolve(function));
    }
};
