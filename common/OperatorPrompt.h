#pragma once

#include <QString>

// Where the port manager must reach the operator directly (a warning, a question, a failed load check).
// Every front end serves it: the window with message boxes, a headless front end on its terminal, tests
// with recorded answers. Called only in the user-interface thread.
class OperatorPrompt
{
public:
    enum class Kind
    {
        Information,
        Warning,
        Critical
    };

    virtual ~OperatorPrompt() = default;

    // A box with only an OK button.
    virtual void Tell(Kind kind, const QString& title, const QString& text) = 0;
    // A question with Yes and No; true for Yes.
    virtual bool Ask(const QString& title, const QString& text) = 0;
};
