#include "cli/HeadlessFrontEnd.h"

#include "common/PortManager.h"

#include <QThread>

HeadlessFrontEnd::HeadlessFrontEnd(PortManager& manager) { manager.SetOperatorPrompt(this); }

void HeadlessFrontEnd::Tell(Kind kind, const QString& title, const QString& text)
{
    CheckThread();
    static const char* const kKinds[] = {"Information", "Warning", "Critical"};
    prompts << QStringLiteral("%1|%2|%3").arg(QLatin1String(kKinds[static_cast<int>(kind)]), title, text);
    if (onPrompt)
        onPrompt(kind, title, text);
}

bool HeadlessFrontEnd::Ask(const QString& title, const QString& text)
{
    CheckThread();
    prompts << QStringLiteral("Ask|%1|%2").arg(title, text);
    return askAnswer;
}

void HeadlessFrontEnd::CheckThread()
{
    if (QThread::currentThread() != thread())
        ++getsOffThread;
}
