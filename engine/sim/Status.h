// The outcome of one engine operation: a result code of quillon.h and, on failure, the text the caller reads
// back through quillon_get_last_error_msg.
#pragma once

#include "quillon.h"

#include <QString>

namespace quillonsim {

struct Status
{
    int code = QUILLON_OK;
    QString message;

    bool Ok() const { return code == QUILLON_OK; }
    static Status Success() { return {}; }
    static Status Fail(int failureCode, const QString& text) { return {failureCode, text}; }
};

} // namespace quillonsim
