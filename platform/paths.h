// Where the program's files live: the executable's folder, the settings folder and the default
// output folder. Paths are absolute, "/"-separated, without a trailing separator.
#pragma once

#include <string>

namespace platform {

// Folder of the running binary.
std::string ExecutableFolder();

// Folder for the settings files: the executable's folder when it is writable, else
// $XDG_CONFIG_HOME (default ~/.config) + "/" + appFolderName, created on demand.
std::string SettingsFolder(const std::string& appFolderName = "videoconverter");

// The default output folder, ~/videoconverter (not created here).
std::string DefaultOutputFolder();

// Whether a folder lies on a disc (an ISO 9660 or UDF file system) or on any mount that is read
// only, where no output can be written. A folder that does not exist yet is judged by the nearest
// folder above it that does.
bool FolderOnReadOnlyMedia(const std::string& folder);

// The user's home folder ($HOME, else the password database).
std::string HomeFolder();

}  // namespace platform
