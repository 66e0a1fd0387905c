// URI scheme registration for Windows (HKEY_CURRENT_USER\SOFTWARE\Classes) and Linux (a
// per-user desktop entry under $XDG_DATA_HOME/applications, which desktop environments read
// for x-scheme-handler MIME types).
#include "UriScheme.h"

#include <algorithm>
#include <cstdlib>

#include "FileIO.h"
#include "Logger.h"
#include "Utils.h"

namespace CorvaneSDK {

std::string UriLaunchCommand(const std::string& executable, int steamAppId,
                             const std::string& steamFolder) {
  if (steamAppId != 0 && !steamFolder.empty()) {
    return "\"" + steamFolder + "\\Steam.exe\" -applaunch " + std::to_string(steamAppId) +
           " \"%1\"";
  }
  return "\"" + executable + "\" \"%1\"";
}

namespace {

std::vector<std::string> ValidSchemes(const std::vector<std::string>& schemes) {
  std::vector<std::string> out;
  for (const auto& s : schemes) {
    if (!Utils::IsValidUriScheme(s)) {
      CORVANE_LOG_WARNING("Skipping invalid URI scheme \"" << s << "\"");
    } else if (std::find(out.begin(), out.end(), s) == out.end()) {
      out.push_back(s);
    }
  }
  return out;
}

bool IsValidUtf8(const std::string& text) {
  return Utils::Utf16ToUtf8(Utils::Utf8ToUtf16(text)) == text;
}

// One Exec argument, quoted: inside the quotes ", `, $ and \ take a backslash; then the
// string-value escaping doubles every backslash; a literal % is written %%.
std::string DesktopExecArgument(const std::string& argument) {
  std::string out = "\"";
  for (char c : argument) {
    switch (c) {
      case '"': out += "\\\\\""; break;
      case '`': out += "\\\\`"; break;
      case '$': out += "\\\\$"; break;
      case '\\': out += "\\\\\\\\"; break;
      case '%': out += "%%"; break;
      default: out += c;
    }
  }
  return out + "\"";
}

void RegisterWindows(const std::vector<std::string>& schemes, const std::string& executable,
                     int steamAppId) {
  if (executable.empty()) {
    CORVANE_LOG_WARNING("Executable path unknown; URI schemes not registered");
    return;
  }
  std::string steamFolder;
  if (steamAppId != 0) {
    steamFolder =
        Utils::GetLocalMachineRegistry("SOFTWARE\\WOW6432Node\\Valve\\Steam", "InstallPath");
    if (steamFolder.empty()) {
      steamFolder = Utils::GetLocalMachineRegistry("SOFTWARE\\Valve\\Steam", "InstallPath");
    }
    // Without a Steam folder the game itself is launched: the link still opens it.
    if (steamFolder.empty()) {
      CORVANE_LOG_WARNING("Steam folder not found; registering the executable instead");
    }
  }
  const std::string command = UriLaunchCommand(executable, steamAppId, steamFolder);
  for (const auto& scheme : schemes) {
    const std::string key = "SOFTWARE\\Classes\\" + scheme;
    Utils::SetCurrentUserRegistry(key, "URL Protocol", "");
    Utils::SetCurrentUserRegistry(key + "\\shell\\open\\command", "", command);
  }
}

// $XDG_DATA_HOME (only when absolute, as the base-directory rules require), else
// $HOME/.local/share; empty when neither is usable.
std::string DataHome() {
  const char* xdg = std::getenv("XDG_DATA_HOME");
  if (xdg != nullptr && xdg[0] == '/') return xdg;
  const char* home = std::getenv("HOME");
  if (home != nullptr && home[0] == '/') return std::string(home) + "/.local/share";
  return std::string();
}

void RegisterLinux(const std::vector<std::string>& schemes, const std::string& executable,
                   int steamAppId) {
  std::string entry;
  if (!UriDesktopEntry(schemes, executable, steamAppId, entry)) {
    CORVANE_LOG_WARNING("Executable path unknown or not writable into a desktop entry; URI "
                        "schemes not registered");
    return;
  }
  const std::string base = DataHome();
  if (base.empty()) {
    CORVANE_LOG_WARNING("No data folder (XDG_DATA_HOME, HOME) for the URI scheme desktop entry");
    return;
  }
  const std::string folder = base + "/applications";
  if (!Utils::CreateFolder(folder)) {
    CORVANE_LOG_ERROR("Could not create " << folder << " for the URI scheme desktop entry");
    return;
  }
  const std::string path = JoinPath(folder, UriDesktopEntryName(schemes));
  if (!WriteFileAtomically(path, entry)) {
    CORVANE_LOG_ERROR("Could not write the URI scheme desktop entry " << path << ": "
                                                                      << LastFileErrorText());
    return;
  }
  CORVANE_LOG_DEBUG("URI schemes registered in " << path);
}

}  // namespace

bool UriDesktopEntry(const std::vector<std::string>& schemes, const std::string& executable,
                     int steamAppId, std::string& entry) {
  entry.clear();
  if (schemes.empty()) return false;
  std::string exec;
  if (steamAppId != 0) {
    exec = "steam -applaunch " + std::to_string(steamAppId) + " %u";
  } else {
    if (executable.empty() || !IsValidUtf8(executable)) return false;
    for (unsigned char c : executable) {
      if (c < 0x20 || c == 0x7f) return false;  // a line break would start a new key
    }
    exec = DesktopExecArgument(executable) + " %u";
  }
  std::string mime;
  for (const auto& scheme : schemes) mime += "x-scheme-handler/" + scheme + ";";
  entry = "[Desktop Entry]\nType=Application\nName=" + schemes.front() +
          " link handler\nExec=" + exec + "\nMimeType=" + mime +
          "\nNoDisplay=true\nTerminal=false\n";
  return true;
}

std::string UriDesktopEntryName(const std::vector<std::string>& schemes) {
  return "corvane-" + (schemes.empty() ? std::string() : schemes.front()) + "-handler.desktop";
}

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
