// URI scheme registration pieces: the Linux desktop entry (Exec quoting, refusal of what
// cannot be written), the Windows launch commands (the "%1" placeholder always quoted), and,
// on Windows, the registry entries written for each valid scheme.
#include "UriScheme.h"

#include <gtest/gtest.h>

#include "Utils.h"

namespace CorvaneSDK {
namespace {

TEST(UriScheme, DesktopEntryQuotesTheExecutableForItsExecLine) {
  std::string entry;
  ASSERT_TRUE(UriDesktopEntry({"game"}, "/opt/My Game/run$1 \"x\" `y` 100%\\z", 0, entry));
  EXPECT_NE(entry.find("\nExec=\"/opt/My Game/run\\\\$1 \\\\\"x\\\\\" \\\\`y\\\\` 100%%\\\\\\\\z\" %u\n"),
            std::string::npos)
      << entry;
  // A line break would add keys to the entry; invalid UTF-8 cannot be written in one.
  EXPECT_FALSE(UriDesktopEntry({"game"}, "/opt/game\nExec=evil", 0, entry));
  EXPECT_FALSE(UriDesktopEntry({"game"}, "/opt/g\xff", 0, entry));
  EXPECT_FALSE(UriDesktopEntry({"game"}, "", 0, entry));
  EXPECT_FALSE(UriDesktopEntry({}, "/opt/game", 0, entry));
  // The Steam form needs no executable.
  ASSERT_TRUE(UriDesktopEntry({"game"}, "", 730, entry));
  EXPECT_NE(entry.find("\nExec=steam -applaunch 730 %u\n"), std::string::npos);
  EXPECT_EQ(UriDesktopEntryName({"game", "other"}), "corvane-game-handler.desktop");
}

TEST(UriScheme, WindowsLaunchCommandsQuoteThePlaceholder) {
  EXPECT_EQ(UriLaunchCommand("C:\\Games\\My Game\\game.exe", 0, ""),
            "\"C:\\Games\\My Game\\game.exe\" \"%1\"");
  EXPECT_EQ(UriLaunchCommand("C:\\Games\\game.exe", 480, "C:\\Program Files (x86)\\Steam"),
            "\"C:\\Program Files (x86)\\Steam\\Steam.exe\" -applaunch 480 \"%1\"");
  // No Steam folder found: the game itself is launched.
  EXPECT_EQ(UriLaunchCommand("C:\\Games\\game.exe", 480, ""), "\"C:\\Games\\game.exe\" \"%1\"");
}

TEST(UriScheme, WindowsRegistryEntriesForEachValidScheme) {
  if (Utils::PlatformName() != "Windows") GTEST_SKIP() << "registry entries exist on Windows only";
  const std::string exe = "C:\\Games\\corvane-test.exe";
  RegisterUriSchemes({"corvanetest", "bad scheme", ""}, exe, 0);
  EXPECT_EQ(Utils::GetCurrentUserRegistry("SOFTWARE\\Classes\\corvanetest", "URL Protocol"), "");
  EXPECT_EQ(Utils::GetCurrentUserRegistry("SOFTWARE\\Classes\\corvanetest\\shell\\open\\command", ""),
            "\"" + exe + "\" \"%1\"");
  EXPECT_EQ(Utils::GetCurrentUserRegistry("SOFTWARE\\Classes\\bad scheme\\shell\\open\\command", ""),
            "");
  EXPECT_TRUE(Utils::DeleteCurrentUserRegistryKey("SOFTWARE\\Classes\\corvanetest"));

  // A Steam build launches through Steam when its folder is known, else the game itself
  // (a test machine may or may not have Steam).
  RegisterUriSchemes({"corvanesteam"}, exe, 480);
  std::string steam =
      Utils::GetLocalMachineRegistry("SOFTWARE\\WOW6432Node\\Valve\\Steam", "InstallPath");
  if (steam.empty()) steam = Utils::GetLocalMachineRegistry("SOFTWARE\\Valve\\Steam", "InstallPath");
  const std::string expected = steam.empty()
                                   ? "\"" + exe + "\" \"%1\""
                                   : "\"" + steam + "\\Steam.exe\" -applaunch 480 \"%1\"";
  EXPECT_EQ(Utils::GetCurrentUserRegistry("SOFTWARE\\Classes\\corvanesteam\\shell\\open\\command", ""),
            expected);
  EXPECT_TRUE(Utils::DeleteCurrentUserRegistryKey("SOFTWARE\\Classes\\corvanesteam"));
}

}  // namespace
}  // namespace CorvaneSDK
