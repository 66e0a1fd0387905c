#include "EnvVars.h"

#include <cstdlib>

namespace CorvaneSDK {
namespace Test {
void SetEnv(const char* name, const char* value) { _putenv_s(name, value); }
// An empty value removes the variable.
void UnsetEnv(const char* name) { _putenv_s(name, ""); }
}  // namespace Test
}  // namespace CorvaneSDK
