#include "common/LoadWatch.h"

void LoadWatch::Arm(const LoadSnapshot& checked)
{
    std::lock_guard<std::mutex> guard(lock);
    snapshot = checked.IsEmpty() ? nullptr : std::make_shared<const LoadSnapshot>(checked);
    ++generation;
    reason.clear();
    gone = false;
}

void LoadWatch::Disarm() { Arm(LoadSnapshot()); }

bool LoadWatch::Check(QString& why, bool& firstTime)
{
    firstTime = false;
    std::shared_ptr<const LoadSnapshot> watched;
    quint64 watchedGeneration = 0;
    {
        std::lock_guard<std::mutex> guard(lock);
        if (gone) {
            why = reason;
            return false;
        }
        watched = snapshot;
        watchedGeneration = generation;
    }
    // The look at the files runs outside the lock, so sixteen ports do not queue behind one slow share.
    const QString changed = watched ? watched->Changed() : QString();
    if (changed.isEmpty())
        return true;
    std::lock_guard<std::mutex> guard(lock);
    if (watchedGeneration != generation)
        return true;
    if (!gone) {
        gone = true;
        reason = changed;
        firstTime = true;
    }
    why = reason;
    return false;
}

QString LoadWatch::Reason() const
{
    std::lock_guard<std::mutex> guard(lock);
    return reason;
}

std::shared_ptr<const LoadSnapshot> LoadWatch::Watched() const
{
    std::lock_guard<std::mutex> guard(lock);
    return snapshot;
}
