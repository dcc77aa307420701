#pragma once

#include "common/StationPolicy.h"

#include <QString>

class StationPolicyHost;

// Whether a run checks what it writes: a checksum level of 1 compares no device checksum, so an OK device is
// written but not verified. The station says so once per run, and refuses such a run when it requires
// verification. User-interface thread.
class VerificationPolicy : public StationPolicy
{
public:
    explicit VerificationPolicy(StationPolicyHost& host) : host(host) {}

    void SetRequired(bool required) { this->required = required; }
    bool IsRequired() const { return required; }
    // Why a run at this checksum level must not start; empty when it may.
    QString Refusal(int checksumLevel) const;
    static QString UnverifiedRunText();

    void StartAllBegins() override;
    void StartAllEnded() override;
    bool RefusesStart(int row, ControlReader& reads) override;
    void RowLaunched(const RowRun& run) override;

private:
    StationPolicyHost& host;
    bool required = false;
    bool noticeDue = false;
    bool refusalTold = false;
};
