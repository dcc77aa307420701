#include "common/DownloadFeedbackCallback.h"

#include "XML/DownloadImageFeedbackCheck.h"
#include "common/DeviceInstance.h"

int DownloadFeedbackCallback(const CommandEntry& entry, DeviceInstance& device)
{
    return CbGetDownloadImageFeedback(entry.index, entry.argument, device.GetIndex());
}
