#pragma once

#include <memory>

// One operating-system lock that the owning thread may enter again while it holds it.
class CriticalSectionImpl
{
public:
    CriticalSectionImpl();
    virtual ~CriticalSectionImpl();

    CriticalSectionImpl(const CriticalSectionImpl&) = delete;
    CriticalSectionImpl& operator=(const CriticalSectionImpl&) = delete;

    void Enter();
    void Leave();

private:
    // Kept out of the header so that no system header leaks into every file that takes a lock.
    struct Native;
    std::unique_ptr<Native> native;
};
