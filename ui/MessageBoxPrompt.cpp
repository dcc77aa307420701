#include "ui/MessageBoxPrompt.h"

#include <QMessageBox>

void MessageBoxPrompt::Tell(Kind kind, const QString& title, const QString& text)
{
    switch (kind) {
    case Kind::Critical:
        QMessageBox::critical(nullptr, title, text, QMessageBox::Ok);
        break;
    case Kind::Warning:
        QMessageBox::warning(nullptr, title, text, QMessageBox::Ok);
        break;
    case Kind::Information:
        QMessageBox::information(nullptr, title, text, QMessageBox::Ok);
        break;
    }
}

bool MessageBoxPrompt::Ask(const QString& title, const QString& text)
{
    return QMessageBox::question(nullptr, title, text, QMessageBox::Yes | QMessageBox::No, QMessageBox::NoButton) ==
           QMessageBox::Yes;
}
