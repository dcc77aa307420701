#pragma once

class CriticalSection;

// Holds a CriticalSection for the lifetime of the sentry.
class CriticalSectionSentry
{
public:
    explicit CriticalSectionSentry(CriticalSection& guarded);
    virtual ~CriticalSectionSentry();

    CriticalSectionSentry(const CriticalSectionSentry&) = delete;
    CriticalSectionSentry& operator=(const CriticalSectionSentry&) = delete;

private:
    CriticalSection& section;
};
