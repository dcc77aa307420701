#include "cli/HeadlessFrontEnd.h"

#include "common/PortManager.h"

#include <QThread>

HeadlessFrontEnd::HeadlessFrontEnd(PortManager& manager)
{
    manager.SetOperatorPrompt(this);
    connect(&manager, &PortManager::SigSetMWElementContent, this, [this](QString name, QString content) {
        contents[name] = content;
        Remember(QStringLiteral("content %1 %2").arg(name, content));
    });
    connect(&manager, &PortManager::SigSetMWElementEnabled, this, [this](QString name, bool isEnabled) {
        enabled[name] = isEnabled;
        Remember(QStringLiteral("enabled %1 %2").arg(name).arg(isEnabled ? 1 : 0));
    });
    connect(&manager, &PortManager::SigSetMWElementCheck, this, [this](QString name, bool isChecked) {
        checks[name] = isChecked;
        Remember(QStringLiteral("check %1 %2").arg(name).arg(isChecked ? 1 : 0));
    });
    connect(&manager, &PortManager::SigSetMWTableWidgetItemContext, this,
            [this](QString, int row, int column, QString context) {
                cells[{row, column}] = context;
                Remember(QStringLiteral("cell %1 %2 %3").arg(row).arg(column).arg(context));
                if (column == 1 || column == 7)
                    Q_EMIT RowChanged(row);
            });
    connect(&manager, &PortManager::SigSetMWTableWidgetItemState, this,
            [this](QString, int row, int column, bool isEnabled) {
                cellEnabled[{row, column}] = isEnabled;
                Remember(QStringLiteral("state %1 %2 %3").arg(row).arg(column).arg(isEnabled ? 1 : 0));
            });
    connect(&manager, &PortManager::SigSetMWTableWidgetItemIcon, this,
            [this](QString, int row, int column, QString iconPath) {
                icons[{row, column}] = iconPath;
                Remember(QStringLiteral("icon %1 %2 %3").arg(row).arg(column).arg(iconPath));
            });
    connect(&manager, &PortManager::SigSetMWPortSelectState, this, [this](uint portIndex, int state) {
        if (portIndex < rowSelected.size())
            rowSelected[portIndex] = state != 0;
        Remember(QStringLiteral("select %1 %2").arg(portIndex).arg(state));
    });
    connect(&manager, &PortManager::SigHideEFUSEButton, this, [this] { Remember(QStringLiteral("hide rbEFUSEWrite")); });
    connect(&manager, &PortManager::SigSetMWPortProgressStatus, this, [this](uint comportIndex, uint percent) {
        if (comportIndex < rowProgress.size())
            rowProgress[comportIndex] = static_cast<int>(percent);
    });

    connect(
        &manager, &PortManager::SigGetMWElementContent, this,
        [this](QString name, QString& content) {
            CheckThread();
            content = contents.value(name);
        },
        Qt::DirectConnection);
    connect(
        &manager, &PortManager::SigGetMWElementIsChecked, this,
        [this](QString name, bool& isChecked) {
            CheckThread();
            isChecked = checks.value(name);
        },
        Qt::DirectConnection);
    connect(
        &manager, &PortManager::SigGetMWComboBoxIndex, this,
        [this](QString cmbName, int& index) {
            CheckThread();
            index = comboIndexes.value(cmbName, index);
        },
        Qt::DirectConnection);
    connect(
        &manager, &PortManager::SigGetMWPortIsSelected, this,
        [this](uint portIndex, bool& isSelected) {
            CheckThread();
            isSelected = portIndex < rowSelected.size() && rowSelected[portIndex];
        },
        Qt::DirectConnection);
    connect(
        &manager, &PortManager::SigGetOWDASetting, this,
        [this](RuntimeParameters& parameters) {
            CheckThread();
            parameters = runtimeParameters;
        },
        Qt::DirectConnection);
}

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

QString HeadlessFrontEnd::Cell(int row, int column) const { return cells.value({row, column}); }
QString HeadlessFrontEnd::Icon(int row, int column) const { return icons.value({row, column}); }
bool HeadlessFrontEnd::CellEnabled(int row, int column) const { return cellEnabled.value({row, column}, true); }
int HeadlessFrontEnd::RowProgress(int row) const { return rowProgress.at(static_cast<size_t>(row)); }

void HeadlessFrontEnd::Remember(const QString& change)
{
    if (keepHistory)
        history << change;
}

QStringList HeadlessFrontEnd::HistoryOfRow(int row) const
{
    const QString cellPrefix = QStringLiteral("cell %1 ").arg(row);
    const QString iconPrefix = QStringLiteral("icon %1 ").arg(row);
    const QString statePrefix = QStringLiteral("state %1 ").arg(row);
    QStringList lines;
    for (const QString& line : history) {
        if (line.startsWith(cellPrefix) || line.startsWith(iconPrefix) || line.startsWith(statePrefix))
            lines << line;
    }
    return lines;
}

QStringList HeadlessFrontEnd::ContentHistory(const QString& name) const
{
    const QString prefix = QStringLiteral("content %1 ").arg(name);
    QStringList values;
    for (const QString& line : history) {
        if (line.startsWith(prefix))
            values << line.mid(prefix.size());
    }
    return values;
}

bool HeadlessFrontEnd::ControlsEnabled() const
{
    static const char* const kControls[] = {"btnScan",           "btnStartAll",  "cbSelectAllPorts",
                                            "cbAutoPolling",     "cbAutoReboot", "rbFormatDownload",
                                            "rbFirmwareUpgrade", "rbEFUSEWrite", "btnFlashXmlPath",
                                            "btnAuthFilePath",   "btnCertFilePath"};
    for (const char* name : kControls) {
        if (!enabled.value(QString::fromLatin1(name), true))
            return false;
    }
    return true;
}
