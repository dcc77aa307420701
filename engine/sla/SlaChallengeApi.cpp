// The exported functions of the authentication stand-in. Each response belongs to the thread that asked for
// it and stays valid until that thread's matching _END call, since the caller's _END names no response.
#include "SlaConfig.h"
#include "SlaDigest.h"
#include "SlaRecord.h"

#include "quillon.h"

#include <cstring>
#include <type_traits>
#include <vector>

#if defined(_WIN32)
#define SLA_API extern "C" __declspec(dllexport)
#else
#define SLA_API extern "C" __attribute__((visibility("default")))
#endif

using namespace slastandin;

namespace {

constexpr uint32_t kMaxChallengeBytes = 64 * 1024;

thread_local std::vector<uint8_t> bromResponse;
thread_local std::vector<uint8_t> daResponse;

QByteArray Flag(const void* pointer)
{
    return pointer == nullptr ? QByteArrayLiteral("0") : QByteArrayLiteral("1");
}

int Answer(const char* function, std::vector<uint8_t>& storage, void* user, const uint8_t* challenge,
           uint32_t challengeLength, uint8_t** response, uint32_t* responseLength)
{
    const SlaConfig config = SlaConfig::Current();
    const QByteArray data = challenge == nullptr || challengeLength > kMaxChallengeBytes
                                ? QByteArray()
                                : QByteArray(reinterpret_cast<const char*>(challenge), int(challengeLength));
    QByteArray details =
        "user=" + Flag(user) + " length=" + QByteArray::number(challengeLength) + " data=" + data.toHex();
    if (!config.Ok())
        details += " error=" + config.error.toUtf8();
    SlaRecord::Append(config.record, function, details);
    if (!config.Ok())
        return -1;
    if (challenge == nullptr || challengeLength == 0 || challengeLength > kMaxChallengeBytes ||
        response == nullptr || responseLength == nullptr)
        return -1;
    if (config.result != 0)
        return config.result;
    QByteArray answer = sladigest::Response(config.key, data);
#ifdef SLA_WRONG_ANSWER
    answer[0] = char(answer[0] ^ 0x5a);
#endif
    storage.assign(answer.cbegin(), answer.cend());
    *response = storage.data();
    *responseLength = uint32_t(storage.size());
    return 0;
}

int Release(const char* function, std::vector<uint8_t>& storage, void* user, uint8_t* response)
{
    const size_t released = storage.size();
    std::vector<uint8_t>().swap(storage);
    SlaRecord::Append(SlaConfig::Current().record, function,
                      "user=" + Flag(user) + " response=" + Flag(response) +
                          " released=" + QByteArray::number(qulonglong(released)));
    return 0;
}

} // namespace

SLA_API int SLA_Challenge(void* user, const uint8_t* challenge, uint32_t challengeLength, uint8_t** response,
                          uint32_t* responseLength)
{
    return Answer("SLA_Challenge", bromResponse, user, challenge, challengeLength, response, responseLength);
}

SLA_API int SLA_Challenge_END(void* user, uint8_t* response)
{
    return Release("SLA_Challenge_END", bromResponse, user, response);
}

#ifndef SLA_NO_FEATURE_CONFIG
SLA_API int SLA_Feature_Config(void)
{
    const SlaConfig config = SlaConfig::Current();
    // A configuration that cannot be read reports a type that selects no device id.
    const int type = config.Ok() ? config.type : -1;
    SlaRecord::Append(config.record, "SLA_Feature_Config", "type=" + QByteArray::number(type));
    return type;
}
static_assert(std::is_same<decltype(&SLA_Feature_Config), SLA_Feature_Config_Fn>::value, "");
#endif

#ifndef SLA_NO_DA_CHALLENGE
SLA_API int DA_SLA_Challenge(void* user, const uint8_t* data, uint32_t dataLength, uint8_t** response,
                             uint32_t* responseLength)
{
    return Answer("DA_SLA_Challenge", daResponse, user, data, dataLength, response, responseLength);
}
static_assert(std::is_same<decltype(&DA_SLA_Challenge), DA_SLA_Challenge_Fn>::value, "");
#endif

#ifndef SLA_NO_DA_CHALLENGE_END
SLA_API int DA_SLA_Challenge_END(void* user, uint8_t* response)
{
    return Release("DA_SLA_Challenge_END", daResponse, user, response);
}
static_assert(std::is_same<decltype(&DA_SLA_Challenge_END), DA_SLA_Challenge_END_Fn>::value, "");
#endif

static_assert(std::is_same<decltype(&SLA_Challenge), SLA_Challenge_Fn>::value, "");
static_assert(std::is_same<decltype(&SLA_Challenge_END), SLA_Challenge_END_Fn>::value, "");
