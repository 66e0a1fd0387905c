// The host's callbacks by id, as registered through the C interface. A plain value.
#pragma once

#include <map>

namespace CorvaneSDK {

using LifecycleCallback = void (*)(int);
using TextCallback = void (*)(const char*, int);
using SendEventCallback = void (*)(const char*, const char*, int);
using CompletionCallback = void (*)(int);
using RemoteConfigCallback = void (*)(const char*, int);

struct CallbackMaps {
  std::map<int, LifecycleCallback> start, stop, pause, resume;
  std::map<int, TextCallback> deepLink, pushToken;
  std::map<int, SendEventCallback> sendEvent;
  void Clear() { *this = CallbackMaps(); }
};

}  // namespace CorvaneSDK
