#pragma once

#include <memory>

class CriticalSectionImpl;

// A re-entrant lock. Copies share the same underlying lock, which goes away with its last owner.
class CriticalSection
{
public:
    CriticalSection();
    virtual ~CriticalSection();

    CriticalSection(const CriticalSection&) = default;
    CriticalSection& operator=(const CriticalSection&) = default;

    void Enter();
    void Leave();

private:
    std::shared_ptr<CriticalSectionImpl> impl;
};
