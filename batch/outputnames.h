// Output file names: where a source's converted file goes. The name is the source's name with
// "_(new)" (or "_(new_1)", "_(new_2)", …) before the profile's extension, in the stored output
// folder, and never the name of a file that exists or of an output already given out in the same
// batch, so no conversion can overwrite a file. An output is written under its part name (the
// name + ".part") and gets its final name only when it is complete, so a file with the final
// name is never a half-written one; the part file is created exclusively, which claims the name
// against every other batch, in this process or another.
#pragma once

#include <functional>
#include <memory_resource>
#include <set>
#include <string>
#include <string_view>
#include <unordered_set>

namespace batch {

inline constexpr char kOutputFolderWarningTitle[] = "Warning";

// The output extension of profile `code` with its dot: "." + its "FileExt" in the format file
// ("mp4" when missing).
std::string OutputExtension(const std::string& formatFile, int code);

// The warning shown when the output folder cannot be created.
std::string OutputFolderWarning(const std::string& folder);

// A stored folder ready for writing into: `folder` itself, created with its missing parents.
// When it is empty or cannot be created, the user is warned (platform::Prompt,
// OutputFolderWarning), the default output folder is created, storeDefault is called with it
// and it is returned instead. The output folder and the snapshot folder share this rule.
std::string UsableFolder(const std::string& folder,
                         const std::function<void(const std::string&)>& storeDefault);

// Output names already given to earlier rows. The set views names kept elsewhere (the rows'
// records), which the caller keeps unchanged while the set is used: a long list looks its names
// up without a second copy of each. A caller making many names gives the set a pool
// (std::pmr::monotonic_buffer_resource), so that its entries are not left in pieces among the
// blocks that outlive it.
using TTakenNames = std::pmr::unordered_set<std::string_view>;

// The output path for `source` with `extension` (including its dot) in the "OutPutDir" folder of
// the settings file. The folder is created with its missing parents; when that fails the user is
// warned (platform::Prompt, OutputFolderWarning), the default output folder is created and stored
// as "OutPutDir", and the name is made there. The result is folder + "/" + the source's name
// without its extension + "_(new)" + extension when no file (or link) of that name exists and it
// is not in `taken`; otherwise the first free name with "_(new_1)", "_(new_2)", …. When a name
// would be longer than the file system allows, the source's name is shortened by whole
// characters until the suffix and extension fit.
// A name whose part file exists counts as taken as well.
std::string MakeOutputFileName(const std::string& settingsFile, const std::string& source,
                               const std::string& extension, const TTakenNames& taken = {});

// The name an output is written under until it is complete: output + ".part".
std::string PartFileName(const std::string& output);

// MakeOutputFileName, with the name claimed: its part file is created, empty, and only when no
// file of that name exists (exclusively); a name another batch claimed meanwhile is passed over
// for the next free one. Throws std::runtime_error naming the part file and the system's reason
// when it cannot be created for another reason.
std::string ClaimOutputFileName(const std::string& settingsFile, const std::string& source,
                                const std::string& extension, const TTakenNames& taken = {});

// Gives the complete part file of `output` its final name, never replacing a file: when a file of
// that name appeared meanwhile, the next free name of the same source (in the same folder) is
// taken instead. Returns the name the output got; throws std::runtime_error with the system's
// reason when the part file could not be moved (it is then left as it is).
std::string CommitOutputFile(const std::string& output, const std::string& source,
                             const std::string& extension);

}  // namespace batch
