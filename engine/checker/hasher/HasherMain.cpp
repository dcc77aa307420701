// The checker's hashing helper: hashes the images it is given and reports their hashes. It runs in a process
// of its own because it reads through mappings, and reading a mapping of a file that shrinks raises a bus
// error, which must never end the tool.
#include "HelperHasher.h"

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

bool ParseMethod(const char* text, HelperMethod& method)
{
    for (const HelperMethod known : {HelperMethod::Choose, HelperMethod::Map, HelperMethod::Read}) {
        if (text[0] == char(known) && text[1] == '\0') {
            method = known;
            return true;
        }
    }
    return false;
}

} // namespace

int main(int argc, char* argv[])
{
#ifdef __linux__
    // A checker that dies mid-check must not leave the helper hashing behind it.
    prctl(PR_SET_PDEATHSIG, SIGKILL);
#endif
    uint64_t threads = 0;
    HelperMethod method = HelperMethod::Choose;
    if (argc < 5 || argc % 2 != 1 || !ParseNumber(argv[1], threads) || threads == 0 ||
        threads > HelperHasher::kMaxThreads || !ParseMethod(argv[2], method))
        return kHelperUsage;
    std::vector<HelperJob> jobs;
    for (int i = 3; i + 1 < argc; i += 2) {
        HelperJob job;
        if (!ParseNumber(argv[i], job.size) || argv[i + 1][0] == '\0')
            return kHelperUsage;
        job.path = argv[i + 1];
        jobs.push_back(job);
    }
    if (!HelperHasher::InstallBusErrorHandler())
        return kHelperFailed;
    HelperHasher hasher(std::move(jobs), unsigned(threads), method);
    return hasher.Run();
}
