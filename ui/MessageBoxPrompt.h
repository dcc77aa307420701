#pragma once

#include "common/OperatorPrompt.h"

// The window's way of reaching the operator: message boxes without a parent, as the tool has always
// shown them.
class MessageBoxPrompt : public OperatorPrompt
{
public:
    void Tell(Kind kind, const QString& title, const QString& text) override;
    void TellWithDetail(Kind kind, const QString& title, const QString& text, const QString& detail) override;
    bool Ask(const QString& title, const QString& text) override;
};
