// The SDK version, sent as "qvSdkVersion" and in the user agent.
#pragma once

namespace CorvaneSDK {
constexpr const char kSdkVersion[] = "0.0.17-cpp";
constexpr const char kUserAgent[] = "corvane/0.0.17-cpp";
}  // namespace CorvaneSDK
