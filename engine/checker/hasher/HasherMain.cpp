// The checker's hashing helper: maps the images it is given and reports their hashes. It runs in a process of
// its own because reading a mapping of a file that shrinks raises a bus error, which must never end the tool.
#include "MappedHasher.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#ifdef __linux__
#include <sys/prctl.h>
#endif
#include <csignal>
#include <unistd.h>

using namespace quillcheck;

namespace {

bool ParseNumber(const char* text, uint64_t& value)
{
    if (text == nullptr || *text < '0' || *text > '9')
        return false;
    errno = 0;
    char* end = nullptr;
    const unsigned long long parsed = std::strtoull(text, &end, 10);
    if (errno != 0 || *end != '\0')
        return false;
    value = parsed;
    return true;
}

} // namespace

int main(int argc, char* argv[])
{
#ifdef __linux__
    // A checker that dies mid-check must not leave the helper hashing behind it.
    prctl(PR_SET_PDEATHSIG, SIGKILL);
#endif
    uint64_t threads = 0;
    if (argc < 4 || argc % 2 != 0 || !ParseNumber(argv[1], threads) || threads == 0 ||
        threads > MappedHasher::kMaxThreads)
        return kHelperUsage;
    std::vector<HelperJob> jobs;
    for (int i = 2; i + 1 < argc; i += 2) {
        HelperJob job;
        if (!ParseNumber(argv[i], job.size) || argv[i + 1][0] == '\0')
            return kHelperUsage;
        job.path = argv[i + 1];
        jobs.push_back(job);
    }
    if (!MappedHasher::InstallBusErrorHandler())
        return kHelperFailed;
    MappedHasher hasher(std::move(jobs), unsigned(threads));
    return hasher.Run();
}
