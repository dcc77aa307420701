// The checker's C entry points: pick how to hash, run the check, and keep the calling thread's last error.
#include "quillcheck_sim.h"
#include "quillon.h"

#include "HelperHashBackend.h"
#include "HelperProtocol.h"
#include "ImageCheck.h"
#include "ReadHashBackend.h"

#include <QByteArray>

#include <atomic>
#include <exception>
#include <new>
#include <thread>

using namespace quillcheck;

namespace {

std::atomic<int> hashing{QUILLCHECK_HASHING_AUTO};
std::atomic<unsigned> threadSetting{0};

QByteArray& LastError()
{
    thread_local QByteArray text;
    return text;
}

unsigned Threads()
{
    const unsigned chosen = threadSetting.load();
    if (chosen != 0)
        return chosen;
    return std::max(1u, std::thread::hardware_concurrency());
}

CheckStatus Verify(const char* scatterPath, const CheckerCallbacks& callbacks)
{
    std::vector<std::unique_ptr<HashBackend>> backends;
    const int mode = hashing.load();
    const bool helperOnly = mode == QUILLCHECK_HASHING_HELPER || mode == QUILLCHECK_HASHING_HELPER_MAP;
    if (mode != QUILLCHECK_HASHING_READ) {
        const QByteArray helper = HelperHashBackend::FindHelper();
        // Mapping was measured ahead of the per-chunk choice on every load shape and cache state; it is safe
        // because it happens in the helper, which a file cut short ends, never the tool. The choice stays
        // for those who ask for it.
        const HelperMethod method = mode == QUILLCHECK_HASHING_HELPER ? HelperMethod::Choose : HelperMethod::Map;
        if (!helper.isEmpty())
            backends.push_back(std::make_unique<HelperHashBackend>(helper, method));
        else if (helperOnly)
            return CheckStatus::Fail(
                QUILLON_E_FAILED, QStringLiteral("The hashing helper %1 is not installed beside the checker")
                                      .arg(QLatin1String(kHelperName)));
    }
    // Reads are slower but need nothing beyond this process.
    if (!helperOnly)
        backends.push_back(std::make_unique<ReadHashBackend>());
    ImageCheck check(callbacks, std::move(backends), Threads());
    return check.Run(scatterPath);
}

} // namespace

extern "C" {

QUILLON_API int quillon_images_checker_verify(const char* scatterPath, const CheckerCallbacks* callbacks)
{
    const CheckerCallbacks copy =
        callbacks != nullptr ? *callbacks : CheckerCallbacks{nullptr, nullptr, nullptr};
    CheckStatus status;
    // Nothing may unwind into the caller's C frames.
    try {
        status = Verify(scatterPath, copy);
    } catch (const std::bad_alloc&) {
        status =
            CheckStatus::Fail(QUILLON_E_FAILED, QStringLiteral("Out of memory while verifying the images"));
    } catch (const std::exception& failure) {
        status = CheckStatus::Fail(QUILLON_E_FAILED, QString::fromLocal8Bit(failure.what()));
    }
    LastError() = status.message.toUtf8();
    return status.code;
}

QUILLON_API const char* quillon_images_checker_last_error_msg(void)
{
    return LastError().constData();
}

QUILLON_API int quillcheck_sim_configure(int mode, unsigned int threads)
{
    if (mode < QUILLCHECK_HASHING_AUTO || mode > QUILLCHECK_HASHING_HELPER_MAP)
        return QUILLON_E_INVALID_ARGUMENT;
    hashing.store(mode);
    threadSetting.store(threads);
    return QUILLON_OK;
}
}
