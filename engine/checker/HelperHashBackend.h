// Hashes in a helper process, which may map the images instead of copying them: the fastest way to read a
// load that the page cache holds in large pieces. A file cut short meanwhile ends the helper with a failure
// record, never the tool.
#pragma once

#include "HashBackend.h"
#include "HelperProtocol.h"

#include <QByteArray>

#include <sys/types.h>

namespace quillcheck {

class HelperHashBackend : public HashBackend
{
public:
    HelperHashBackend(const QByteArray& helperPath, HelperMethod method);
    ~HelperHashBackend() override;
    HelperHashBackend(const HelperHashBackend&) = delete;
    HelperHashBackend& operator=(const HelperHashBackend&) = delete;

    // The helper beside this library, or empty when it is not there.
    static QByteArray FindHelper();

    bool Start(const std::vector<ImageJob>& jobs, unsigned threads, QString& error) override;
    bool Wait(std::chrono::milliseconds wait, std::vector<HashOutcome>& outcomes) override;
    uint64_t BytesDone() const override;
    int CurrentJob() const override;
    void Abandon() override;

private:
    void Consume(std::vector<HashOutcome>& outcomes);
    HashOutcome Translate(uint32_t job, uint64_t value) const;
    void Finish(std::vector<HashOutcome>& outcomes);
    int Reap();

    QByteArray helperPath;
    HelperMethod method;
    const std::vector<ImageJob>* jobs = nullptr;
    pid_t pid = -1;
    int fd = -1;
    QByteArray pending; // bytes of a record not yet complete
    std::vector<uint64_t> hashedOfJob;
    std::vector<bool> reported;
    uint64_t bytesDone = 0;
    int current = -1;
};

} // namespace quillcheck
