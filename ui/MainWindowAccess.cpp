// The window's element access: the port manager names widgets by object name, and each slot serves the
// exact classes it knows. Widgets are always found through the widget tree, never through the form,
// because the form is gone when the port manager saves its settings at exit.
#include "ui/MainWindow.h"

#include "common/PortTableColumn.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTableWidget>

#include <cstring>

namespace {

// The format of a progress bar expands %p, %v and %m anywhere and knows no escape; a word joiner after
// each percent sign keeps an image name such as "boot_100%p.img" as it is, and is invisible.
QString LiteralFormat(const QString& text)
{
    QString format = text;
    format.replace(QLatin1Char('%'), QStringLiteral("%\u2060"));
    return format;
}

// The cell that holds a row's selection box.
QTableWidgetItem* SelectionCell(QTableWidget* table, uint portIndex)
{
    return table != nullptr ? table->item(static_cast<int>(portIndex), PortTableColumn::Port) : nullptr;
}

} // namespace

QObject* MainWindow::FindTypedChild(const QString& name, std::initializer_list<const char*> classes, int& which) const
{
    QObject* found = findChild<QObject*>(name);
    if (found == nullptr)
        return nullptr;
    const char* className = found->metaObject()->className();
    which = 0;
    for (const char* served : classes) {
        if (std::strcmp(className, served) == 0)
            return found;
        ++which;
    }
    return nullptr;
}

void MainWindow::SetElementContent(QString name, QString content)
{
    int which = 0;
    QObject* element = FindTypedChild(name, {"QPushButton", "QCheckBox", "QRadioButton", "QLineEdit", "QLabel"}, which);
    if (element == nullptr)
        return;
    switch (which) {
    case 0:
    case 1:
    case 2:
        static_cast<QAbstractButton*>(element)->setText(content);
        break;
    case 3:
        static_cast<QLineEdit*>(element)->setText(content);
        break;
    default:
        static_cast<QLabel*>(element)->setText(content);
        break;
    }
}

void MainWindow::GetElementContent(QString name, QString& content)
{
    int which = 0;
    QObject* element = FindTypedChild(name, {"QPushButton", "QCheckBox", "QRadioButton", "QLineEdit"}, which);
    if (element == nullptr)
        return;
    content = which < 3 ? static_cast<QAbstractButton*>(element)->text() : static_cast<QLineEdit*>(element)->text();
}

void MainWindow::SetElementEnabled(QString name, bool isEnabled)
{
    int which = 0;
    if (QObject* element = FindTypedChild(name, {"QPushButton", "QCheckBox", "QRadioButton", "QLineEdit"}, which))
        static_cast<QWidget*>(element)->setEnabled(isEnabled);
}

void MainWindow::SetElementCheck(QString name, bool isChecked)
{
    int which = 0;
    QObject* element = FindTypedChild(name, {"QRadioButton", "QCheckBox"}, which);
    if (element == nullptr)
        return;
    if (which == 0)
        static_cast<QRadioButton*>(element)->setChecked(isChecked);
    else
        static_cast<QCheckBox*>(element)->setCheckState(isChecked ? Qt::Checked : Qt::Unchecked);
}

void MainWindow::GetElementIsChecked(QString name, bool& isChecked)
{
    int which = 0;
    QObject* element = FindTypedChild(name, {"QRadioButton", "QCheckBox"}, which);
    if (element == nullptr)
        return;
    isChecked = which == 0 ? static_cast<QRadioButton*>(element)->isChecked()
                           : static_cast<QCheckBox*>(element)->checkState() == Qt::Checked;
}

void MainWindow::GetComboBoxIndex(QString cmbName, int& index)
{
    if (auto* combo = findChild<QComboBox*>(cmbName))
        index = combo->currentIndex();
}

void MainWindow::SetTableWidgetItemContext(QString twName, int row, int column, QString context)
{
    auto* table = findChild<QTableWidget*>(twName);
    QTableWidgetItem* item = table != nullptr ? table->item(row, column) : nullptr;
    if (item == nullptr)
        return;
    item->setText(context);
    // The narrow columns cut stage messages and errors; the whole text is one hover away.
    item->setToolTip(context);
}

void MainWindow::SetTableWidgetItemState(QString twName, int row, int column, bool isEnabled)
{
    auto* table = findChild<QTableWidget*>(twName);
    QTableWidgetItem* item = table != nullptr ? table->item(row, column) : nullptr;
    if (item == nullptr)
        return;
    Qt::ItemFlags flags = item->flags();
    flags.setFlag(Qt::ItemIsEnabled, isEnabled);
    item->setFlags(flags);
}

void MainWindow::SetTableWidgetItemIcon(QString twName, int row, int column, QString iconPath)
{
    auto* table = findChild<QTableWidget*>(twName);
    if (QTableWidgetItem* item = table != nullptr ? table->item(row, column) : nullptr)
        item->setIcon(QIcon(iconPath));
}

void MainWindow::GetPortIsSelected(uint portIndex, bool& isSelected)
{
    QTableWidgetItem* item = SelectionCell(findChild<QTableWidget*>(QStringLiteral("tableWidget")), portIndex);
    isSelected = item != nullptr && item->checkState() == Qt::Checked;
}

void MainWindow::SetPortSelectState(uint portIndex, int state)
{
    if (QTableWidgetItem* item = SelectionCell(findChild<QTableWidget*>(QStringLiteral("tableWidget")), portIndex))
        item->setCheckState(state != 0 ? Qt::Checked : Qt::Unchecked);
}

void MainWindow::GetOWDASetting(RuntimeParameters& runtimeParams) { optionDialog->GetRuntimeParameters(runtimeParams); }

void MainWindow::SetProgressBarState(QString prbName, uint percent, quint64, const char* info)
{
    auto* bar = findChild<QProgressBar*>(prbName);
    if (bar == nullptr)
        return;
    bar->setValue(static_cast<int>(percent));
    bar->setFormat(info == nullptr ? QString() : LiteralFormat(QString::fromUtf8(info)));
}

void MainWindow::SetProgressBarVisible(QString prbName, bool isVisibled)
{
    if (auto* bar = findChild<QProgressBar*>(prbName))
        bar->setVisible(isVisibled);
}

void MainWindow::SetPortProgressStatus(uint comportIndex, uint percent)
{
    if (comportIndex >= progressBars.size())
        return;
    progressBars[comportIndex].setValue(static_cast<int>(percent));
}

void MainWindow::HideEFUSEButton()
{
    if (auto* button = findChild<QRadioButton*>(QStringLiteral("rbEFUSEWrite")))
        button->hide();
}
