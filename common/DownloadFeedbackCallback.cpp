#include "common/DownloadFeedbackCallback.h"

#include "XML/DownloadImageFeedbackCheck.h"
#include "common/DeviceInstance.h"

namespace {

FailureKind KindOf(FeedbackCheck check)
{
    switch (check) {
    case FeedbackCheck::Mismatch:
        return FailureKind::ChecksumMismatch;
    case FeedbackCheck::FeedbackUnreadable:
        return FailureKind::FeedbackUnreadable;
    // The list was there and whole when the load was checked.
    case FeedbackCheck::LoadListMissing:
    case FeedbackCheck::LoadListUnreadable:
        return FailureKind::LoadChanged;
    case FeedbackCheck::Match:
        break;
    }
    return FailureKind::None;
}

} // namespace

int DownloadFeedbackCallback(const CommandEntry& entry, DeviceInstance& device)
{
    const FeedbackCheck check = CheckDownloadImageFeedback(entry.index, entry.argument, device.GetIndex());
    if (check == FeedbackCheck::Match)
        return 0;
    device.SetCallbackFailure(KindOf(check));
    return -1;
}
