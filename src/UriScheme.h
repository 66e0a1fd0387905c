// Registration of the app's URI schemes for the current user: registry entries on Windows,
// a desktop entry with x-scheme-handler MIME types on Linux. Thread-safe (no shared state);
// never throws.
#pragma once

#include <string>
#include <vector>

namespace CorvaneSDK {

// The Windows launch command for a scheme: the executable with "%1" quoted, or, when
// steamAppId is not 0 and a Steam folder is known, Steam's launcher with -applaunch (again
// with "%1" quoted, so a crafted link cannot add launcher arguments).
std::string UriLaunchCommand(const std::string& executable, int steamAppId,
                             const std::string& steamFolder);

// The Linux desktop entry registering `schemes` (valid, non-empty). Exec runs the executable
// with the link, or `steam -applaunch <id> %u` when steamAppId is not 0. False (nothing to
// write) when the executable is needed but empty, or cannot be written into an Exec line
// (control characters, invalid UTF-8).
bool UriDesktopEntry(const std::vector<std::string>& schemes, const std::string& executable,
                     int steamAppId, std::string& entry);

// File name of that entry under <data folder>/applications: "corvane-<first scheme>-handler.desktop".
std::string UriDesktopEntryName(const std::vector<std::string>& schemes);

// Registers every valid scheme, in order, once each; an empty or malformed scheme (anything
// but a letter followed by letters, digits, "+", "-" or ".") is skipped with a Warning.
// Failures are logged; nothing is returned because registration is attempted only once.
void RegisterUriSchemes(const std::vector<std::string>& schemes, const std::string& executable,
                        int steamAppId);

}  // namespace CorvaneSDK
