#pragma once

#include "record/FailureKind.h"

#include <QString>

// Why a session failed, from the stage that failed ("scan", "connect", "enter-mode" or a command's name)
// and the engine's result for it. A failed result callback names its own reason instead.
FailureKind SessionFailureKind(const QString& stage, int result);
