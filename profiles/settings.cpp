#include "profiles/settings.h"

#include <filesystem>
#include <system_error>
#include <utility>

#include "platform/paths.h"

#ifndef VC_INSTALL_DATA_DIR
#error "VC_INSTALL_DATA_DIR must name the installed data folder"
#endif
#ifndef VC_SOURCE_DATA_DIR
#error "VC_SOURCE_DATA_DIR must name the source tree's data folder"
#endif

namespace profiles {

std::string SettingsFilePath() {
  return platform::SettingsFolder() + "/" + kSettingsFileName;
}

std::vector<std::string> FormatFileFolders() {
  return {platform::ExecutableFolder(), VC_INSTALL_DATA_DIR, VC_SOURCE_DATA_DIR};
}

std::string FindFormatFile(const std::vector<std::string>& folders) {
  for (const std::string& folder : folders) {
    const std::string path = folder + "/" + kFormatFileName;
    std::error_code ec;
    if (std::filesystem::is_regular_file(path, ec)) return path;
  }
  return folders.empty() ? std::string(kFormatFileName) : folders.front() + "/" + kFormatFileName;
}

std::string FormatFilePath() { return FindFormatFile(FormatFileFolders()); }

std::pair<std::string, std::string> SettingsFilesIn(const std::string& folder) {
  const std::string format = folder + "/" + kFormatFileName;
  std::error_code code;
  return {folder + "/" + kSettingsFileName,
          std::filesystem::exists(format, code) ? format : FormatFilePath()};
}

std::string FormatInfoSection(int code) { return kProfileSectionPrefix + std::to_string(code); }

TSettings::TSettings(std::string fileName) : ini_(std::move(fileName)) {}

int TSettings::ReadSetting(std::string_view key, int def) const {
  return ini_.ReadInteger(kSettingsSection, key, def);
}

bool TSettings::WriteSetting(std::string_view key, int value) const {
  return ini_.WriteInteger(kSettingsSection, key, value);
}

std::string TSettings::OutPutDir() const {
  return ini_.ReadString(kSettingsSection, kOutPutDirKey, platform::DefaultOutputFolder());
}

bool TSettings::SetOutPutDir(std::string_view folder) const {
  return ini_.WriteString(kSettingsSection, kOutPutDirKey, folder);
}

int TSettings::FormatCode() const { return ReadSetting(kFormatCodeKey, kDefaultFormatCode); }

bool TSettings::SetFormatCode(int code) const { return WriteSetting(kFormatCodeKey, code); }

std::string TSettings::FormatName() const {
  return ini_.ReadString(kSettingsSection, kFormatNameKey, kDefaultFormatName);
}

std::string TSettings::RememberedFormatName() const {
  return ini_.ReadString(kSettingsSection, kFormatNameKey, kDefaultRememberedFormatName);
}

bool TSettings::SetFormatName(std::string_view caption) const {
  return ini_.WriteString(kSettingsSection, kFormatNameKey, caption);
}

int TSettings::Volume() const {
  const int volume = ReadSetting(kVolumeKey, kDefaultVolume);
  return volume >= 0 && volume <= kMaxVolume ? volume : kOutOfRangeVolume;
}

bool TSettings::SetVolume(int volume) const { return WriteSetting(kVolumeKey, volume); }

int TSettings::Mute() const { return ReadSetting(kMuteKey, kDefaultMute); }

bool TSettings::SetMute(bool mute) const { return WriteSetting(kMuteKey, mute ? 1 : 0); }

namespace {
bool IsSkin(int index) { return index >= 0 && index < kSkinCount; }
}  // namespace

int TSettings::ThemeSkinIndex() const {
  const int index = ReadSetting(kSkinIndexKey, kDefaultThemeSkin);
  return IsSkin(index) ? index : kDefaultThemeSkin;
}

int TSettings::MenuSkinIndex() const {
  const int index = ReadSetting(kSkinIndexKey, kDefaultMenuSkin);
  return IsSkin(index) ? index : kDefaultThemeSkin;
}

bool TSettings::SetSkinIndex(int index) const { return WriteSetting(kSkinIndexKey, index); }

int TSettings::Priority() const { return ReadSetting(kPriorityKey, kDefaultPriority); }

bool TSettings::SetPriority(int priority) const { return WriteSetting(kPriorityKey, priority); }

std::string TSettings::SnapOutPutDir() const {
  return ini_.ReadString(kSettingsSection, kSnapOutPutDirKey, platform::DefaultOutputFolder());
}

bool TSettings::SetSnapOutPutDir(std::string_view folder) const {
  return ini_.WriteString(kSettingsSection, kSnapOutPutDirKey, folder);
}

int TSettings::SnapFullSize() const { return ReadSetting(kSnapFullSizeKey, kDefaultSnapFlag); }
int TSettings::SnapSmallSize() const { return ReadSetting(kSnapSmallSizeKey, kDefaultSnapFlag); }
int TSettings::SnapBmp() const { return ReadSetting(kSnapBmpKey, kDefaultSnapFlag); }
int TSettings::SnapJpg() const { return ReadSetting(kSnapJpgKey, kDefaultSnapFlag); }

bool TSettings::SetSnapFullSize(bool on) const { return WriteSetting(kSnapFullSizeKey, on ? 1 : 0); }
bool TSettings::SetSnapSmallSize(bool on) const {
  return WriteSetting(kSnapSmallSizeKey, on ? 1 : 0);
}
bool TSettings::SetSnapBmp(bool on) const { return WriteSetting(kSnapBmpKey, on ? 1 : 0); }
bool TSettings::SetSnapJpg(bool on) const { return WriteSetting(kSnapJpgKey, on ? 1 : 0); }

int TSettings::JpgCmp() const { return ReadSetting(kJpgCmpKey, kDefaultJpgCmp); }

bool TSettings::SetJpgCmp(int quality) const { return WriteSetting(kJpgCmpKey, quality); }

bool TSettings::GroupCollapsed(int group) const {
  return ini_.ReadBool(kCollapsedSection, std::to_string(group), true);
}

bool TSettings::SetGroupsCollapsed(const std::vector<std::pair<int, bool>>& states) const {
  return ini_.Update([&](platform::TIniDocument& doc) {
    for (const auto& [group, collapsed] : states)
      doc.Set(kCollapsedSection, std::to_string(group), collapsed ? "1" : "0");
    return true;
  });
}

std::string TSettings::ProfileString(int code, std::string_view key, std::string_view def) const {
  return ini_.ReadString(FormatInfoSection(code), key, def);
}

int TSettings::ProfileInteger(int code, std::string_view key, int def) const {
  return ini_.ReadInteger(FormatInfoSection(code), key, def);
}

bool TSettings::SetProfileString(int code, std::string_view key, std::string_view value) const {
  return ini_.WriteString(FormatInfoSection(code), key, value);
}

bool TSettings::SetProfileInteger(int code, std::string_view key, int value) const {
  return ini_.WriteInteger(FormatInfoSection(code), key, value);
}

}  // namespace profiles
