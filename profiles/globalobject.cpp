#include "profiles/globalobject.h"

#include <charconv>

#include "platform/text.h"
#include "profiles/settings.h"

#ifndef VC_PROJECT_VERSION
#error "VC_PROJECT_VERSION must hold the project version, e.g. \"3.3.0.0\""
#endif

namespace profiles {

namespace {

// The file paths must be longer than 3 characters: anything shorter cannot name a file.
constexpr size_t kMinPathLength = 4;

}  // namespace

TVersionNumbers ParseVersion(std::string_view text) {
  int numbers[4] = {0, 0, 0, 0};
  for (int& number : numbers) {
    const size_t dot = text.find('.');
    const std::string_view part = text.substr(0, dot);
    int value = 0;
    const auto [end, ec] = std::from_chars(part.data(), part.data() + part.size(), value);
    number = ec == std::errc() && end == part.data() + part.size() ? value : 0;
    if (dot == std::string_view::npos) break;
    text.remove_prefix(dot + 1);
  }
  return {numbers[0], numbers[1], numbers[2], numbers[3]};
}

std::string VersionTextOf(const TVersionNumbers& version) {
  return " " + std::to_string(version.major) + "." + std::to_string(version.minor) +
         std::to_string(version.third) + std::to_string(version.fourth) + " ";
}

std::string GetVersionText() { return VersionTextOf(ParseVersion(VC_PROJECT_VERSION)); }

std::string RightStr(std::string_view text, size_t n) {
  const size_t count = platform::CharacterCount(text);
  if (count <= n) return std::string(text);
  return std::string(text.substr(platform::FirstCharacters(text, count - n).size()));
}

void TGlobalObject::Fill() {
  SetSettingsFile(SettingsFilePath());
  SetFormatFile(FormatFilePath());
  SetProductTitle(kProductTitle);
  SetVersionText(kInitialVersionText);
  SetHelpPage(kHelpPageUrl);
  SetWebPage(kWebPageUrl);
  SetDownloadUrl(kDownloadUrl);
}

void TGlobalObject::SetHelpPage(const std::string& value) {
  if (!value.empty()) helpPage_ = value;
}

void TGlobalObject::SetSettingsFile(const std::string& value) {
  if (platform::CharacterCount(value) >= kMinPathLength) settingsFile_ = value;
}

void TGlobalObject::SetFormatFile(const std::string& value) {
  if (platform::CharacterCount(value) >= kMinPathLength) formatFile_ = value;
}

void TGlobalObject::SetProductTitle(const std::string& value) {
  if (!value.empty()) productTitle_ = value;
}

void TGlobalObject::SetVersionText(const std::string& value) {
  if (!value.empty()) versionText_ = value;
}

void TGlobalObject::SetDownloadUrl(const std::string& value) {
  if (!value.empty()) downloadUrl_ = value;
}

void TGlobalObject::SetWebPage(const std::string& value) {
  if (!value.empty()) webPage_ = value;
}

}  // namespace profiles
