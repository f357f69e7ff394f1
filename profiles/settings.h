// The settings file keltovideoconverter.ini: every key of its "settings" section with its type,
// default and range rule, the catalogue's collapsed groups ("lstformat") and a profile's own section
// ("formatInfo" + code), plus where the settings file and the format file keltovideoformat.ini live.
// Nothing is cached: every accessor reads or writes the file at the moment it is called.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/inifile.h"

namespace profiles {

inline constexpr char kSettingsFileName[] = "keltovideoconverter.ini";
inline constexpr char kFormatFileName[] = "keltovideoformat.ini";

// Sections of the settings file.
inline constexpr char kSettingsSection[] = "settings";
inline constexpr char kCollapsedSection[] = "lstformat";
inline constexpr char kProfileSectionPrefix[] = "formatInfo";

// Keys of the "settings" section (compared without regard to case, as every INI name is).
inline constexpr char kOutPutDirKey[] = "OutPutDir";
inline constexpr char kFormatCodeKey[] = "FormatCode";
inline constexpr char kFormatNameKey[] = "FormatName";
inline constexpr char kVolumeKey[] = "volume";
inline constexpr char kMuteKey[] = "mute";
inline constexpr char kSkinIndexKey[] = "skinIndex";
inline constexpr char kPriorityKey[] = "priority";
inline constexpr char kSnapOutPutDirKey[] = "SnapOutPutDir";
inline constexpr char kSnapFullSizeKey[] = "snapFullSize";
inline constexpr char kSnapSmallSizeKey[] = "snapSmallSize";
inline constexpr char kSnapBmpKey[] = "snapBmp";
inline constexpr char kSnapJpgKey[] = "snapJpg";
inline constexpr char kJpgCmpKey[] = "jpgCmp";

// Defaults of the keys when they are missing. The output and snapshot folders default to
// platform::DefaultOutputFolder().
inline constexpr int kDefaultFormatCode = 1;
// "FormatName" has two defaults: the text the profile box shows, and the name the profile
// settings dialog remembers as the current profile. They differ on purpose.
inline constexpr char kDefaultFormatName[] = "Apple iPod Video MPEG-4 Movie (*.mp4)";
inline constexpr char kDefaultRememberedFormatName[] = "iPod Video MPEG-4";
inline constexpr int kDefaultVolume = 0;
inline constexpr int kMaxVolume = 128;
inline constexpr int kOutOfRangeVolume = 64;  // what a stored volume outside 0…128 reads as
inline constexpr int kDefaultMute = 0;
inline constexpr int kSkinCount = 7;  // Default, Gray, Orange, Purple, Red, Green, Light blue
inline constexpr int kDefaultThemeSkin = 0;
inline constexpr int kDefaultMenuSkin = 1;
inline constexpr int kDefaultPriority = 1;  // 0 idle, 1 normal, 2 lower, 3 lowest
inline constexpr int kDefaultSnapFlag = 1;
inline constexpr int kDefaultJpgCmp = 30;

// keltovideoconverter.ini in platform::SettingsFolder(): the executable's folder when it is
// writable, else the per-user configuration folder.
std::string SettingsFilePath();

// The folders searched for keltovideoformat.ini, in this order:
//  1. the executable's folder (a format file placed beside the program wins);
//  2. the installed data folder, <install prefix>/share/videoconverter;
//  3. the source tree's data/ folder, for a build tree that was never installed.
std::vector<std::string> FormatFileFolders();
// folder + "/keltovideoformat.ini" of the first folder that holds the file; when none does, the
// file in the first folder (a missing format file reads as empty: no profile has a section).
std::string FindFormatFile(const std::vector<std::string>& folders);
// FindFormatFile(FormatFileFolders()).
std::string FormatFilePath();

// The two files when the user names a settings folder of their own: that folder's
// keltovideoconverter.ini, and its keltovideoformat.ini when it holds one, else FormatFilePath().
std::pair<std::string, std::string> SettingsFilesIn(const std::string& folder);

// A profile's section in both files: "formatInfo" + code in decimal.
std::string FormatInfoSection(int code);

// Typed access to one settings file, named by its path. Every call opens, reads or rewrites and
// closes the file (platform::TIniFile), so the object may be created wherever it is needed and any
// number of them see each other's changes at once. Readers apply the defaults and range rules
// above; setters store the value as given and return false when the file could not be written.
// Flags stored as 0/1 read back as the stored integer: readers that act only on exactly 1 (the
// snapshot writer, the preferences dialog) need to tell 1 from other values.
class TSettings {
 public:
  explicit TSettings(std::string fileName);
  const std::string& FileName() const { return ini_.FileName(); }
  const platform::TIniFile& File() const { return ini_; }

  // "OutPutDir": the output folder.
  std::string OutPutDir() const;
  bool SetOutPutDir(std::string_view folder) const;

  // "FormatCode": the current profile code.
  int FormatCode() const;
  bool SetFormatCode(int code) const;

  // "FormatName": the current profile caption, as the profile box reads it (missing:
  // "Apple iPod Video MPEG-4 Movie (*.mp4)") and as the profile settings dialog remembers it
  // (missing: "iPod Video MPEG-4").
  std::string FormatName() const;
  std::string RememberedFormatName() const;
  bool SetFormatName(std::string_view caption) const;

  // "volume": the preview volume 0…128; missing 0, a value outside 0…128 reads as 64.
  int Volume() const;
  bool SetVolume(int volume) const;

  // "mute": 1 when the preview is muted; missing 0.
  int Mute() const;
  bool SetMute(bool mute) const;

  // "skinIndex": the colour theme, read two ways. The theme applied at start-up is the stored
  // index when it is 0…6 and Default (0) otherwise, also when missing. The entry the "&Skin" menu
  // ticks is the stored index when it is 0…6, Gray (1) when missing, and Default (0) for a value
  // outside 0…6, the theme that is then actually shown.
  int ThemeSkinIndex() const;
  int MenuSkinIndex() const;
  bool SetSkinIndex(int index) const;

  // "priority": the worker priority (0 idle, 1 normal, 2 lower, 3 lowest); missing 1. Other
  // stored values are returned as they are: the batch leaves the priority unchanged for them.
  int Priority() const;
  bool SetPriority(int priority) const;

  // "SnapOutPutDir": the snapshot folder.
  std::string SnapOutPutDir() const;
  bool SetSnapOutPutDir(std::string_view folder) const;

  // The snapshot flags "snapFullSize", "snapSmallSize", "snapBmp", "snapJpg"; each missing 1.
  int SnapFullSize() const;
  int SnapSmallSize() const;
  int SnapBmp() const;
  int SnapJpg() const;
  bool SetSnapFullSize(bool on) const;
  bool SetSnapSmallSize(bool on) const;
  bool SetSnapBmp(bool on) const;
  bool SetSnapJpg(bool on) const;

  // "jpgCmp": the JPEG quality of snapshots; missing 30.
  int JpgCmp() const;
  bool SetJpgCmp(int quality) const;

  // "lstformat": whether catalogue group `group` is collapsed (key = the group index in decimal,
  // missing = collapsed).
  bool GroupCollapsed(int group) const;
  // Stores the collapsed state of each (group, collapsed) pair in one file write.
  bool SetGroupsCollapsed(const std::vector<std::pair<int, bool>>& states) const;

  // A key of the profile's section "formatInfo" + code.
  std::string ProfileString(int code, std::string_view key, std::string_view def) const;
  int ProfileInteger(int code, std::string_view key, int def) const;
  bool SetProfileString(int code, std::string_view key, std::string_view value) const;
  bool SetProfileInteger(int code, std::string_view key, int value) const;

 private:
  int ReadSetting(std::string_view key, int def) const;
  bool WriteSetting(std::string_view key, int value) const;

  platform::TIniFile ini_;
};

}  // namespace profiles
