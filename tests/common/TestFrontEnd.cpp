#include "TestFrontEnd.h"

#include "common/PortManager.h"
#include "common/PortTableColumn.h"

TestFrontEnd::TestFrontEnd(PortManager& manager) : HeadlessFrontEnd(manager)
{
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
            Answering();
            content = contents.value(name);
        },
        Qt::DirectConnection);
    connect(
        &manager, &PortManager::SigGetMWElementIsChecked, this,
        [this](QString name, bool& isChecked) {
            Answering();
            isChecked = checks.value(name);
        },
        Qt::DirectConnection);
    connect(
        &manager, &PortManager::SigGetMWComboBoxIndex, this,
        [this](QString cmbName, int& index) {
            Answering();
            index = comboIndexes.value(cmbName, index);
        },
        Qt::DirectConnection);
    connect(
        &manager, &PortManager::SigGetMWPortIsSelected, this,
        [this](uint portIndex, bool& isSelected) {
            Answering();
            isSelected = portIndex < rowSelected.size() && rowSelected[portIndex];
        },
        Qt::DirectConnection);
    connect(
        &manager, &PortManager::SigGetOWDASetting, this,
        [this](RuntimeParameters& parameters) {
            Answering();
            parameters = runtimeParameters;
        },
        Qt::DirectConnection);
}

QString TestFrontEnd::Cell(int row, int column) const { return cells.value({row, column}); }
QString TestFrontEnd::Icon(int row, int column) const { return icons.value({row, column}); }
bool TestFrontEnd::CellEnabled(int row, int column) const { return cellEnabled.value({row, column}, true); }
int TestFrontEnd::RowProgress(int row) const { return rowProgress.at(static_cast<size_t>(row)); }

QString TestFrontEnd::RowStateMismatch(int row, const PortRowState& state) const
{
    static const char* const kNames[] = {"UND", "INIT", "RUN", "OK", "FAIL", "CANL"};
    const bool known = state.status >= PortStatus::UND && state.status <= PortStatus::CANL;
    // A code and its text come from one display; a code outside the known ones shows no text.
    if (!state.statusText.isEmpty() && (!known || state.statusText != QLatin1String(kNames[state.status])))
        return QStringLiteral("row %1: code %2 with the text \"%3\"").arg(row).arg(state.status).arg(state.statusText);
    const bool percentShown = cells.contains({row, PortTableColumn::Percent});
    const QList<QPair<QString, QString>> fields = {
        {Cell(row, PortTableColumn::Status), state.statusText},
        {Cell(row, PortTableColumn::Message), state.message},
        {Cell(row, PortTableColumn::Percent), percentShown ? QString::number(state.percent) + QLatin1Char('%') : QString()},
        {QString::number(RowProgress(row)), QString::number(state.percent)},
        {Cell(row, PortTableColumn::Port), state.port},
        {Cell(row, PortTableColumn::Elapsed), state.elapsed},
        {Cell(row, PortTableColumn::LastError), state.lastError}};
    for (const auto& field : fields) {
        if (field.first != field.second)
            return QStringLiteral("row %1: the table shows \"%2\", the state \"%3\"").arg(row).arg(field.first, field.second);
    }
    return QString();
}

void TestFrontEnd::Answering()
{
    ++gets;
    CheckThread();
}

void TestFrontEnd::Remember(const QString& change)
{
    if (keepHistory)
        history << change;
}

QStringList TestFrontEnd::HistoryOfRow(int row) const
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

QStringList TestFrontEnd::ContentHistory(const QString& name) const
{
    const QString prefix = QStringLiteral("content %1 ").arg(name);
    QStringList values;
    for (const QString& line : history) {
        if (line.startsWith(prefix))
            values << line.mid(prefix.size());
    }
    return values;
}

bool TestFrontEnd::ControlsEnabled() const
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
