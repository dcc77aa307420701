#pragma once

#include "common/OperatorPrompt.h"

#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>

class PortManager;

// Answers the port manager's boxes for a front end without widgets (the command line, tests). Such a front
// end hands the manager the run's settings with SetRunSettings and follows the rows through
// SigNotifyPortRowState, so it names no element of the window. Boxes are recorded, handed to onPrompt when
// set, and questions answered with askAnswer.
class HeadlessFrontEnd : public QObject, public OperatorPrompt
{
    Q_OBJECT

public:
    explicit HeadlessFrontEnd(PortManager& manager);

    void Tell(Kind kind, const QString& title, const QString& text) override;
    bool Ask(const QString& title, const QString& text) override;

    // "Critical|<title>|<text>", "Ask|<title>|<text>", in order.
    QStringList prompts;
    bool askAnswer = true;
    std::function<void(Kind kind, const QString& title, const QString& text)> onPrompt;

    // Questions put to the front end from another thread than its own; a worker must never ask.
    int getsOffThread = 0;

protected:
    void CheckThread();
};
