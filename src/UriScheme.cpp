// URI scheme registration for Windows (registry) and Linux (desktop entry).
#include "UriScheme.h"

#include <cstdlib>

#include "FileIO.h"
#include "Logger.h"
#include "Utils.h"

namespace CorvaneSDK {

std::string UriLaunchCommand(const std::string& executable, int steamAppId,
                             const std::string& steamFolder) {
  if (steamAppId != 0 && !steamFolder.empty()) {
    // "%1" stays quoted so that a crafted link cannot add launcher arguments.
    return "\"" + steamFolder + "\\Steam.exe\" -applaunch " + std::to_string(steamAppId) +
           " \"%1\"";
  }
  return "\"" + executable + "\" \"%1\"";
}

namespace {
std::vector<std::string> ValidSchemes(const std::vector<std::string>& schemes) {
  std::vector<std::string> out;
  for (const auto& s : schemes) {
    if (Utils::IsValidUriScheme(s)) {
      out.push_back(s);
    } else {
      CORVANE_LOG_WARNING("Skipping invalid URI scheme \"" << s << "\"");
    }
  }
  return out;
}

void RegisterWindows(const std::vector<std::string>& schemes, const std::string& executable,
                     int steamAppId) {
  if (executable.empty()) return;
  std::string steamFolder;
  if (steamAppId != 0) {
    steamFolder = Utils::GetLocalMachineRegistry("SOFTWARE\\WOW6432Node\\Valve\\Steam", "InstallPath");
    if (steamFolder.empty()) {
      steamFolder = Utils::GetLocalMachineRegistry("SOFTWARE\\Valve\\Steam", "InstallPath");
    }
    // Without a Steam folder the game itself is launched.
    if (steamFolder.empty()) CORVANE_LOG_WARNING("Steam folder not found; registering the executable");
  }
  const std::string command = UriLaunchCommand(executable, steamAppId, steamFolder);
  for (const auto& scheme : schemes) {
    const std::string key = "SOFTWARE\\Classes\\" + scheme;
    Utils::SetCurrentUserRegistry(key, "URL Protocol", "");
    Utils::SetCurrentUserRegistry(key + "\\shell\\open\\command", "", command);
  }
}

void RegisterLinux(const std::vector<std::string>& schemes, const std::string& executable,
                   int steamAppId) {
  if (executable.empty() && steamAppId == 0) return;
  const char* xdg = std::getenv("XDG_DATA_HOME");
  const char* home = std::getenv("HOME");
  std::string base;
  if (xdg != nullptr && xdg[0] == '/') {
    base = xdg;
  } else if (home != nullptr && home[0] == '/') {
    base = std::string(home) + "/.local/share";
  } else {
    CORVANE_LOG_WARNING("No data folder for the URI scheme desktop entry");
    return;
  }
  const std::string folder = base + "/applications";
  Utils::CreateFolder(folder);
  std::string exec = steamAppId != 0 ? "steam -applaunch " + std::to_string(steamAppId) + " %u"
                                     : "\"" + executable + "\" %u";
  std::string mime;
  for (const auto& scheme : schemes) mime += "x-scheme-handler/" + scheme + ";";
  const std::string entry = "[Desktop Entry]\nType=Application\nName=" + schemes.front() +
                            " link handler\nExec=" + exec + "\nMimeType=" + mime +
                            "\nNoDisplay=true\nTerminal=false\n";
  const std::string path = JoinPath(folder, "corvane-" + schemes.front() + "-handler.desktop");
  if (!WriteFileAtomically(path, entry)) {
    CORVANE_LOG_ERROR("Could not write the URI scheme desktop entry " << path);
  }
}
}  // namespace

void RegisterUriSchemes(const std::vector<std::string>& schemes, const std::string& executable,
                        int steamAppId) {
  const std::vector<std::string> valid = ValidSchemes(schemes);
  if (valid.empty()) return;
  if (Utils::PlatformName() == "Windows") {
    RegisterWindows(valid, executable, steamAppId);
  } else {
    RegisterLinux(valid, executable, steamAppId);
  }
}

}  // namespace CorvaneSDK
