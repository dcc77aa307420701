#include "CriticalSectionImpl.h"

#include <QtGlobal>

#ifdef Q_OS_WIN
#include <windows.h>

struct CriticalSectionImpl::Native
{
    Native() { InitializeCriticalSection(&section); }
    ~Native() { DeleteCriticalSection(&section); }
    CRITICAL_SECTION section;
};

void CriticalSectionImpl::Enter()
{
    EnterCriticalSection(&native->section);
}

void CriticalSectionImpl::Leave()
{
    LeaveCriticalSection(&native->section);
}
#else
#include <mutex>

struct CriticalSectionImpl::Native
{
    std::recursive_mutex mutex;
};

void CriticalSectionImpl::Enter()
{
    native->mutex.lock();
}

void CriticalSectionImpl::Leave()
{
    native->mutex.unlock();
}
#endif

CriticalSectionImpl::CriticalSectionImpl() : native(std::make_unique<Native>()) {}

CriticalSectionImpl::~CriticalSectionImpl() = default;
