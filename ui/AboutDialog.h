#pragma once

#include <QDialog>
#include <QString>

#include <memory>

namespace Ui {
class AboutDialog;
}

// The tool's name, version, build date and owner.
//
// The main window makes one on the first "About" request, with itself as parent, and shows the same one,
// non-modally, on later requests; "OK" hides it:
//     if (!aboutDialog) aboutDialog = new AboutDialog(this);
//     aboutDialog->show();
class AboutDialog : public QDialog
{
    Q_OBJECT

public:
    explicit AboutDialog(QWidget* parent);
    ~AboutDialog() override;

    // The compiler's date and time ("Apr  8 2023", "09:13:12") as "2023.04.08 09:13:12"; empty when they do
    // not read as a date.
    static QString BuildDateText(const QString& date, const QString& time);

private:
    std::unique_ptr<Ui::AboutDialog> ui;
};
