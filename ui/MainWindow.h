#pragma once

#include "Utility/LogCleaner.h"
#include "XML/RuntimeParameters.h"
#include "common/LogHousekeeping.h"
#include "common/PortManager.h"
#include "record/StationRecordWriter.h"
#include "factory/StationRecorders.h"
#include "ui/MessageBoxPrompt.h"
#include "ui/OptionDialog.h"
#include "ui/StationPanel.h"

#include <QMainWindow>
#include <QProgressBar>
#include <QString>
#include <QTimer>

#include <array>
#include <chrono>
#include <functional>

class AboutDialog;

namespace Ui {
class MainWindow;
}

// The tool's only top-level window. It holds no download logic: the port manager drives it by element
// name through the slots below, and its controls call the port manager.
class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    // Shows an open-file dialog and returns the chosen path, or an empty text on cancel.
    using FileDialog = std::function<QString(QWidget* parent, const QString& caption, const QString& filter)>;

    explicit MainWindow(QWidget* parent = nullptr);
    ~MainWindow() override;

    // Element access by object name, for the port manager's signals.
    void SetElementContent(QString name, QString content);
    void GetElementContent(QString name, QString& content);
    void SetElementEnabled(QString name, bool isEnabled);
    void SetElementCheck(QString name, bool isChecked);
    void GetElementIsChecked(QString name, bool& isChecked);
    void GetComboBoxIndex(QString cmbName, int& index);
    void SetTableWidgetItemContext(QString twName, int row, int column, QString context);
    void SetTableWidgetItemState(QString twName, int row, int column, bool isEnabled);
    void SetTableWidgetItemIcon(QString twName, int row, int column, QString iconPath);
    void GetPortIsSelected(uint portIndex, bool& isSelected);
    void SetPortSelectState(uint portIndex, int state);
    void GetOWDASetting(RuntimeParameters& runtimeParams);
    void SetProgressBarState(QString prbName, uint percent, quint64 xferd, const char* info);
    void SetProgressBarVisible(QString prbName, bool isVisibled);
    void SetPortProgressStatus(uint comportIndex, uint percent);
    void HideEFUSEButton();

    void ShowOptions();
    void EnableLogging();
    void DisableLogging();
    void ClearAllLogs();
    void OpenLogsFolder();
    void ShowAbout();
    void SelectFlashXmlFile();
    void SelectAuthFile();
    void SelectCertFile();
    void CheckRestoredFlashXml();

    // Ends the program as Quit does, without the question: for a stop asked by the system (a logout, a
    // service manager), which no one is there to answer.
    void CloseWithoutQuestion();
    // What every end of the program does while the window still stands: every port stopped, its worker
    // and the worker's last record waited for, but at most kRecordWaitAtExit, then the settings written.
    // False when attempts were left unrecorded: their workers still run, so the program must end without
    // destroying what they use.
    bool EndRun();
    static constexpr std::chrono::seconds kRecordWaitAtExit{10};

    PortManager& Ports();
    OptionDialog& Options();
    // Where boxes and questions go; the window's message boxes unless a test or tool replaces them.
    void SetOperatorPrompt(OperatorPrompt* prompt);
    void SetFileDialog(FileDialog dialog);

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    QObject* FindTypedChild(const QString& name, std::initializer_list<const char*> classes, int& which) const;
    void BuildPortTable();
    void ConnectPortManager();
    void ConnectControls();
    void SelectFile(const QString& caption, const QString& filter, const QString& field, const QString& fieldName);
    void StartLoggingAndWarn();
    void CheckRecordFolder();
    void WatchRecord();
    void ShowLockedProfile();
    void BuildStationPanel();
    void KeepLogsAndDisksBounded();

    Ui::MainWindow* form;
    AboutDialog* aboutDialog = nullptr;
    StationPanel* stationPanel = nullptr;
    // Before the port manager, so it outlives the ports' workers that hand it their records.
    StationRecordWriter records;
    StationRecorders recorders;
    StationPanelFeed panelFeed{recorders};
    OptionDialog* optionDialog;
    PortManager portManager;
    std::array<QProgressBar, PortManager::kPortCount> progressBars;
    QTimer startupTimer;
    MessageBoxPrompt messageBoxes;
    OperatorPrompt* prompt = &messageBoxes;
    FileDialog fileDialog;
    bool loggingFailureShown = false;
    bool questionWaived = false;
    bool runEnded = false;
    // Declared last, so destroyed first of the members: running cleaners are stopped and joined before the
    // port manager and the engine go.
    LogCleaner logCleaner;
    LogHousekeeping logHousekeeping;
};
