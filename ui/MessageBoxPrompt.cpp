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

void MessageBoxPrompt::TellWithDetail(Kind kind, const QString& title, const QString& text, const QString& detail)
{
    static const QMessageBox::Icon kIcons[] = {QMessageBox::Information, QMessageBox::Warning, QMessageBox::Critical};
    QMessageBox box(kIcons[static_cast<int>(kind)], title, text, QMessageBox::Ok);
    box.setDetailedText(detail);
    box.exec();
}

bool MessageBoxPrompt::Ask(const QString& title, const QString& text)
{
    return QMessageBox::question(nullptr, title, text, QMessageBox::Yes | QMessageBox::No, QMessageBox::NoButton) ==
           QMessageBox::Yes;
}
