// Output file names: where a source's converted file goes. The name is the source's name with
// "_(new)" (or "_(new_1)", "_(new_2)", …) before the profile's extension, in the stored output
// folder, and never the name of a file that exists or of an output already given out in the same
// batch, so no conversion can overwrite a file.
#pragma once

#include <set>
#include <string>

namespace batch {

inline constexpr char kOutputFolderWarningTitle[] = "Warning";

// The output extension of profile `code` with its dot: "." + its "FileExt" in the format file
// ("mp4" when missing).
std::string OutputExtension(const std::string& formatFile, int code);

// The warning shown when the output folder cannot be created.
std::string OutputFolderWarning(const std::string& folder);

// The output path for `source` with `extension` (including its dot) in the "OutPutDir" folder of
// the settings file. The folder is created with its missing parents; when that fails the user is
// warned (platform::Prompt, OutputFolderWarning), the default output folder is created and stored
// as "OutPutDir", and the name is made there. The result is folder + "/" + the source's name
// without its extension + "_(new)" + extension when no file (or link) of that name exists and it
// is not in `taken`; otherwise the first free name with "_(new_1)", "_(new_2)", …. When a name
// would be longer than the file system allows, the source's name is shortened by whole
// characters until the suffix and extension fit.
std::string MakeOutputFileName(const std::string& settingsFile, const std::string& source,
                               const std::string& extension,
                               const std::set<std::string>& taken = {});

}  // namespace batch
