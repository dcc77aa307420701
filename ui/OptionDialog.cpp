#include "ui/OptionDialog.h"

#include "ui_OptionDialog.h"

OptionDialog::OptionDialog(QWidget*, QWidget* parent, const QString& settingsFile)
    : QDialog(parent), form(new Ui::OptionDialog), settingsFile(settingsFile)
{
    form->setupUi(this);
    LoadOptions();
}

OptionDialog::~OptionDialog()
{
    if (!saved)
        SaveOptions();
    delete form;
}

void OptionDialog::LoadOptions()
{
    const DaOptions options = DaOptions::Load(settingsFile);
    switch (options.battery) {
    case DaOptions::WithBattery:
        form->rbWithBattery->setChecked(true);
        break;
    case DaOptions::WithoutBattery:
        form->rbWithoutBattery->setChecked(true);
        break;
    case DaOptions::AutoDetect:
        form->rbAutoDetect->setChecked(true);
        break;
    }
    form->cmbDALogLevel->setCurrentIndex(options.levelIndex);
    form->cmbDALogChannel->setCurrentIndex(options.channelIndex);
    form->cbUSBChecksum->setCheckState(options.usbChecksum ? Qt::Checked : Qt::Unchecked);
    form->cbStorageChecksum->setCheckState(options.storageChecksum ? Qt::Checked : Qt::Unchecked);
}

DaOptions OptionDialog::Current() const
{
    DaOptions options;
    if (form->rbWithBattery->isChecked())
        options.battery = DaOptions::WithBattery;
    else if (form->rbWithoutBattery->isChecked())
        options.battery = DaOptions::WithoutBattery;
    options.levelIndex = DaOptions::LevelNames().indexOf(form->cmbDALogLevel->currentText().trimmed());
    options.channelIndex = DaOptions::ChannelNames().indexOf(form->cmbDALogChannel->currentText().trimmed());
    options.usbChecksum = form->cbUSBChecksum->checkState() == Qt::Checked;
    options.storageChecksum = form->cbStorageChecksum->checkState() == Qt::Checked;
    return options;
}

void OptionDialog::LockControls(const QString& why)
{
    QWidget* const controls[] = {form->rbWithBattery, form->rbWithoutBattery, form->rbAutoDetect, form->cmbDALogLevel,
                                 form->cmbDALogChannel, form->cbUSBChecksum, form->cbStorageChecksum};
    for (QWidget* control : controls) {
        control->setEnabled(false);
        control->setToolTip(why);
    }
}

void OptionDialog::SaveOptions()
{
    Current().Save(settingsFile);
    saved = true;
}

void OptionDialog::GetRuntimeParameters(RuntimeParameters& runtimeParams) const
{
    runtimeParams = Current().ToRuntimeParameters();
}
