#include "EnvVars.h"

#include <cstdlib>

namespace CorvaneSDK {
namespace Test {
void SetEnv(const char* name, const char* value) { setenv(name, value, 1); }
void UnsetEnv(const char* name) { unsetenv(name); }
}  // namespace Test
}  // namespace CorvaneSDK
