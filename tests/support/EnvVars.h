// Sets and clears environment variables of the test process (setenv has no Windows twin).
#pragma once

namespace CorvaneSDK {
namespace Test {
void SetEnv(const char* name, const char* value);
void UnsetEnv(const char* name);
}  // namespace Test
}  // namespace CorvaneSDK
