#pragma once

#include "XML/RuntimeParameters.h"
#include "common/DaOptions.h"

#include <QDialog>
#include <QString>

namespace Ui {
class OptionDialog;
}

// The download agent's options the operator may change. Restored from the settings file when built,
// written back when destroyed; every port start reads the controls as they are at that moment.
class OptionDialog : public QDialog
{
    Q_OBJECT

public:
    OptionDialog(QWidget* owner, QWidget* parent, const QString& settingsFile);
    ~OptionDialog() override;

    void LoadOptions();
    // Writes the options; the destructor writes them only when this has not been called.
    void SaveOptions();
    void GetRuntimeParameters(RuntimeParameters& runtimeParams) const;
    // A locked profile's options are the settings file's: every control is shown disabled, saying why.
    void LockControls(const QString& why);

private:
    DaOptions Current() const;

    Ui::OptionDialog* form;
    QString settingsFile;
    bool saved = false;
};
