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
    // The same box with the reason behind it, which the operator can open beside the text; a front end
    // without such a place shows the reason after the text.
    virtual void TellWithDetail(Kind kind, const QString& title, const QString& text, const QString& detail)
    {
        Tell(kind, title, detail.isEmpty() ? text : text + QStringLiteral("\n\n") + detail);
    }
    // A question with Yes and No; true for Yes.
    virtual bool Ask(const QString& title, const QString& text) = 0;
};
