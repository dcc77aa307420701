#include "MethodChooser.h"

namespace quillcheck {

MethodChooser::Method MethodChooser::Next() const
{
    if (fixed)
        return only;
    if (costPerByte[0] == 0)
        return Method::Map;
    if (costPerByte[1] == 0)
        return Method::Read;
    const Method cheaper = costPerByte[0] <= costPerByte[1] ? Method::Map : Method::Read;
    const Method dearer = cheaper == Method::Map ? Method::Read : Method::Map;
    return chunk % kRetryEvery == 0 ? dearer : cheaper;
}

void MethodChooser::Record(Method method, uint64_t bytes, std::chrono::nanoseconds took)
{
    ++chunk;
    if (bytes == 0)
        return;
    const double sample = double(took.count()) / double(bytes);
    double& cost = costPerByte[int(method)];
    // Half the old estimate and half the new: one disturbed chunk does not decide the rest of the file.
    cost = cost == 0 ? sample : (cost + sample) / 2;
    if (cost <= 0)
        cost = 1e-9;
}

} // namespace quillcheck
