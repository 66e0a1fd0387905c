// The real shared library: it exports exactly the functions the public headers declare
// (plus the module classes), and its frame behaves through the dynamic boundary.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <string>

#include "CorvaneSDK.h"
#include "Version.h"

namespace {
std::set<std::string> DeclaredFunctions() {
  std::set<std::string> out;
  const std::regex decl(R"(CORVANE_API\s+[A-Za-z_][A-Za-z0-9_\s\*]*?\b([A-Za-z_][A-Za-z0-9_]*)\s*\()");
  for (const char* path : {CORVANE_PUBLIC_HEADER, CORVANE_EVENTS_HEADER}) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    const std::string s = text.str();
    for (std::sregex_iterator it(s.begin(), s.end(), decl), end; it != end; ++it) {
      out.insert((*it)[1]);
    }
  }
  return out;
}

std::string Shell(const std::string& command) {
  std::string out;
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return out;
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof(buffer), pipe)) > 0) out.append(buffer, n);
  pclose(pipe);
  return out;
}
}  // namespace

TEST(SharedLibrary, ExportsExactlyTheDeclaredInterface) {
  const std::set<std::string> declared = DeclaredFunctions();
  ASSERT_GT(declared.size(), 200u);
  std::set<std::string> exported;
  std::istringstream lines(Shell(std::string("nm -D --defined-only ") + CORVANE_LIBRARY_PATH));
  std::string address, type, name;
  std::string line;
  while (std::getline(lines, line)) {
    std::istringstream fields(line);
    if (!(fields >> address >> type >> name)) continue;
    if (name.rfind("_Z", 0) == 0) {
      // C++ symbols: only the exported module classes.
      const std::string demangled = Shell("echo '" + name + "' | c++filt");
      EXPECT_NE(demangled.find("CorvaneSDK::CorvaneSDKModule"), std::string::npos) << demangled;
      continue;
    }
    if (type == "T" || type == "W") exported.insert(name);
  }
  for (const auto& f : declared) EXPECT_TRUE(exported.count(f)) << "not exported: " << f;
  for (const auto& f : exported) EXPECT_TRUE(declared.count(f)) << "not declared: " << f;
}

TEST(SharedLibrary, FrameWorksAcrossTheBoundary) {
  char* a = CorvaneSDKManager_GetVersion();
  char* b = CorvaneSDKManager_GetVersion();
  ASSERT_NE(a, nullptr);
  EXPECT_NE(a, b);  // each call is a new allocation, freed by the caller
  EXPECT_STREQ(a, CorvaneSDK::kSdkVersion);
  std::free(a);
  std::free(b);
  EXPECT_EQ(CorvaneSDKManager_GetInstance(), nullptr);
  EXPECT_EQ(CorvaneSDKManager_GetSdkConfig(nullptr), nullptr);
  EXPECT_EQ(CorvaneSDKManager_IsInitialized(nullptr), 0);
  // Null everywhere: nothing happens, nothing crashes.
  InitializationData_SetHost(nullptr, "x");
  InitializationData_AddModule(nullptr, nullptr, nullptr);
  CorvaneSDKEvent_SetJsonValue(nullptr, "{}");
  EXPECT_EQ(CorvaneSDKEvent_Get(nullptr), nullptr);
  CorvaneSDKManager_Initialize(nullptr);
  EXPECT_EQ(CorvaneSDKManager_GetInstance(), nullptr);
  CorvaneSDKManager_OpenURL("game://before");
  char* url = CorvaneSDKManager_GetDeepLinkUrl();
  EXPECT_STREQ(url, "game://before");
  std::free(url);
  CorvaneSDKManager_Destroy();  // no manager: empties the pending stores
  url = CorvaneSDKManager_GetDeepLinkUrl();
  EXPECT_STREQ(url, "");
  std::free(url);
}
