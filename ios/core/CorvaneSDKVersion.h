// The framework version, sent as "qvSdkVersion" and in the user agent.
#pragma once

namespace CorvaneSDK {
namespace Mobile {

constexpr const char* kCorvaneSDKVersion = "0.0.15-ios";

}  // namespace Mobile
}  // namespace CorvaneSDK
