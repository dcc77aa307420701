#include "CriticalSectionSentry.h"

#include "CriticalSection.h"

CriticalSectionSentry::CriticalSectionSentry(CriticalSection& guarded) : section(guarded)
{
    section.Enter();
}

CriticalSectionSentry::~CriticalSectionSentry()
{
    section.Leave();
}
