// The outcome of a verification or of one of its steps: a result code of quillon.h and, on failure, the
// reason the caller reads back through quillon_images_checker_last_error_msg.
#pragma once

#include "quillon.h"

#include <QString>

namespace quillcheck {

struct CheckStatus
{
    int code = QUILLON_OK;
    QString message;

    bool Ok() const { return code == QUILLON_OK; }
    static CheckStatus Success() { return {}; }
    static CheckStatus Fail(int failureCode, const QString& text) { return {failureCode, text}; }
};

} // namespace quillcheck
