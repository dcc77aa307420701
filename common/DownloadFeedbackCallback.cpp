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
    // Nothing the device did: the comparison had nothing to compare with.
    case FeedbackCheck::LoadListMissing:
    case FeedbackCheck::LoadListUnreadable:
        return FailureKind::FeedbackUnreadable;
    case FeedbackCheck::Match:
        break;
    }
    return FailureKind::None;
}

} // namespace

int DownloadFeedbackCallback(const CommandEntry& entry, DeviceInstance& device)
{
    const FeedbackOutcome outcome = CompareDownloadImageFeedback(entry.index, entry.argument, device.GetIndex(), entry.checksumList);
    device.SetVerifiedImages(outcome.verified);
    if (outcome.check == FeedbackCheck::Match)
        return 0;
    device.SetCallbackFailure(KindOf(outcome.check), outcome.reason);
    return -1;
}
