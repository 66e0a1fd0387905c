// Registration of the app's URI schemes for the current user: registry entries on Windows,
// a desktop entry with x-scheme-handler MIME types on Linux.
#pragma once

#include <string>
#include <vector>

namespace CorvaneSDK {

// The Windows launch command for a scheme: the executable with "%1" quoted, or Steam's
// launcher with -applaunch when steamAppId is not 0 (and a Steam folder was found).
std::string UriLaunchCommand(const std::string& executable, int steamAppId,
                             const std::string& steamFolder);
// Registers every valid scheme (invalid ones are skipped with a Warning).
void RegisterUriSchemes(const std::vector<std::string>& schemes, const std::string& executable,
                        int steamAppId);

}  // namespace CorvaneSDK
