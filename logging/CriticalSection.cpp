#include "CriticalSection.h"

#include "CriticalSectionImpl.h"

CriticalSection::CriticalSection() : impl(std::make_shared<CriticalSectionImpl>()) {}

CriticalSection::~CriticalSection() = default;

void CriticalSection::Enter()
{
    impl->Enter();
}

void CriticalSection::Leave()
{
    impl->Leave();
}
