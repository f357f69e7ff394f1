// `kvc profiles`: the catalogue of output profiles, each with its code, caption, output format
// and the default settings the desktop's "Default" button stores for it. The defaults are stored
// into settings files in a temporary folder of our own and read back, so the listing shows what
// the panel stores without touching the user's settings file.
#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "cli/commands.h"
#include "platform/inifile.h"
#include "platform/tempfolder.h"
#include "profiles/catalogue.h"
#include "profiles/parameterpanel.h"
#include "profiles/settings.h"

namespace cli {
namespace {

struct TOptions {
  std::optional<int> group;  // only this group; all when empty
  std::string settingsFolder;
  bool json = false;
};

TOptions ParseOptions(const std::vector<std::string>& args) {
  TOptions options;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (IsOption(arg, "--group")) {
      options.group = IntegerValue(OptionValue(args, i, "--group"), "--group", 0,
                                   profiles::kGroupCount - 1);
    } else if (IsOption(arg, "--settings")) {
      options.settingsFolder = OptionValue(args, i, "--settings");
    } else if (arg == "--json") {
      options.json = true;
    } else if (!arg.empty() && arg[0] == '-') {
      throw TUsageError("unknown option '" + arg + "'");
    } else {
      throw TUsageError("unexpected argument '" + arg + "'");
    }
  }
  return options;
}

// The whole text of a file; "" when it cannot be read (a missing format file reads as empty).
std::string ReadFileText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteFileText(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
  if (!out.flush()) throw std::runtime_error("cannot write " + path);
}

// One profile as listed.
struct TProfileEntry {
  int code = 0;
  std::string caption;
  std::string format;     // "Format" of the format file: the container or disc target
  std::string extension;  // "FileExt": the output file's extension
  // The stored text of each parameter box, by kParamNames order; nullopt when nothing is stored.
  std::array<std::optional<std::string>, profiles::kParamBoxCount> defaults;
};

// Stores the profile's defaults as the panel's "Default" does and reads them back. The panel
// reads only the profile's own section of the format file and the settings file, so each profile
// gets a fresh settings file and a format file holding just its section: every read and write
// then parses a few lines instead of the whole catalogue, which keeps the listing fast.
void ReadDefaults(const platform::TIniDocument& format, const std::string& folder,
                  TProfileEntry& entry) {
  const std::string section = profiles::FormatInfoSection(entry.code);
  platform::TIniDocument own;
  for (const std::string& key : format.Keys(section)) {
    std::string value;
    if (format.Find(section, key, &value)) own.Set(section, key, value);
  }
  const std::string stem = folder + "/" + std::to_string(entry.code);
  const std::string formatFile = stem + "-format.ini";
  const std::string settingsFile = stem + "-settings.ini";
  WriteFileText(formatFile, own.Text());
  profiles::StoreProfileDefaults(settingsFile, formatFile, entry.code);

  const profiles::TSettings stored(settingsFile);
  for (size_t i = 0; i < kParamNames.size(); ++i) {
    const char* key = profiles::BoxInfo(kParamNames[i].box).textKey;
    if (stored.File().ValueExists(section, key))
      entry.defaults[i] = stored.ProfileString(entry.code, key, "");
  }
}

struct TGroupEntry {
  int index = 0;
  std::string header;
  std::vector<TProfileEntry> profiles;
};

std::vector<TGroupEntry> ReadCatalogue(const TOptions& options) {
  const TSettingsFiles files = ResolveSettingsFiles(options.settingsFolder);
  const platform::TIniDocument format(ReadFileText(files.formatFile));
  const platform::TTempFolder temp("kvc");

  std::vector<TGroupEntry> groups;
  for (int g = 0; g < profiles::kGroupCount; ++g) {
    if (options.group && *options.group != g) continue;
    const profiles::TProfileGroup& group = profiles::Group(g);
    TGroupEntry groupEntry{g, group.header, {}};
    for (size_t item = 0; item < group.profiles.size(); ++item) {
      if (group.profiles[item].empty()) continue;
      TProfileEntry entry;
      entry.code = profiles::ProfileCode(g, static_cast<int>(item));
      entry.caption = group.profiles[item];
      const std::string section = profiles::FormatInfoSection(entry.code);
      format.Find(section, "Format", &entry.format);
      format.Find(section, "FileExt", &entry.extension);
      ReadDefaults(format, temp.Path(), entry);
      groupEntry.profiles.push_back(std::move(entry));
    }
    groups.push_back(std::move(groupEntry));
  }
  return groups;
}

void PrintJson(const std::vector<TGroupEntry>& groups) {
  nlohmann::ordered_json list = nlohmann::ordered_json::array();
  for (const TGroupEntry& group : groups) {
    nlohmann::ordered_json profileList = nlohmann::ordered_json::array();
    for (const TProfileEntry& entry : group.profiles) {
      nlohmann::ordered_json defaults = nlohmann::ordered_json::object();
      for (size_t i = 0; i < kParamNames.size(); ++i) {
        if (entry.defaults[i]) defaults[kParamNames[i].name] = *entry.defaults[i];
      }
      profileList.push_back({{"code", entry.code},
                             {"caption", entry.caption},
                             {"format", entry.format},
                             {"extension", entry.extension},
                             {"defaults", std::move(defaults)}});
    }
    list.push_back(
        {{"index", group.index}, {"header", group.header}, {"profiles", std::move(profileList)}});
  }
  const nlohmann::ordered_json document = {{"groups", std::move(list)}};
  const std::string text =
      document.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
  std::printf("%s\n", text.c_str());
}

// A stored number with its unit after it ("128 kbit/s"); a word such as "as source" gets the unit
// before it ("kbit/s as source"), so that it still says which value it is.
std::string WithUnit(const std::string& value, const std::string& unit) {
  return profiles::IsDecimalText(value) ? value + " " + unit : unit + " " + value;
}

// The volume is stored out of 256; the panel lists it in percent ("100%" is 256).
std::string VolumeText(const std::string& value) {
  const std::optional<int> volume = profiles::ParseIntegerText(value);
  return volume ? "vol " + std::to_string(*volume * 100 / 256) + "%" : "vol " + value;
}

// "320x240 mpeg4 768 kbit/s 29.97 fps full | libfaac 44100 Hz 2 ch 128 kbit/s vol 100%": the
// video values, then the audio values. A profile without video stores no frame size, encoder,
// bit rate or frame rate, and its zoom (which "Default" stores for every profile) is left out.
std::string DefaultsText(const TProfileEntry& entry) {
  using profiles::TParamBox;
  const auto value = [&entry](TParamBox box) -> std::optional<std::string> {
    for (size_t i = 0; i < kParamNames.size(); ++i) {
      if (kParamNames[i].box == box) return entry.defaults[i];
    }
    return std::nullopt;
  };
  const auto join = [](const std::vector<std::string>& parts) {
    std::string text;
    for (const std::string& part : parts) text += (text.empty() ? "" : " ") + part;
    return text;
  };
  std::vector<std::string> video, audio;
  if (auto v = value(TParamBox::VideoSize)) video.push_back(*v);
  if (auto v = value(TParamBox::VideoEncoder)) video.push_back(*v);
  if (auto v = value(TParamBox::VideoBitRate)) video.push_back(WithUnit(*v, "kbit/s"));
  if (auto v = value(TParamBox::FrameRate)) video.push_back(WithUnit(*v, "fps"));
  if (auto v = value(TParamBox::Zoom); v && !video.empty()) video.push_back(*v);
  if (auto v = value(TParamBox::AudioEncoder)) audio.push_back(*v);
  if (auto v = value(TParamBox::SampleRate)) audio.push_back(WithUnit(*v, "Hz"));
  if (auto v = value(TParamBox::Channel)) audio.push_back(WithUnit(*v, "ch"));
  if (auto v = value(TParamBox::AudioBitRate)) audio.push_back(WithUnit(*v, "kbit/s"));
  if (auto v = value(TParamBox::Volume)) audio.push_back(VolumeText(*v));
  if (video.empty() && audio.empty()) return "no stored settings";
  if (video.empty() || audio.empty()) return join(video.empty() ? audio : video);
  return join(video) + " | " + join(audio);
}

// Each group's index and header, then per profile its code and caption and an indented line with
// the output extension, the format and the defaults.
void PrintText(const std::vector<TGroupEntry>& groups) {
  for (size_t g = 0; g < groups.size(); ++g) {
    const TGroupEntry& group = groups[g];
    std::printf("%sGroup %d: %s\n", g ? "\n" : "", group.index, group.header.c_str());
    for (const TProfileEntry& entry : group.profiles) {
      std::printf("%5d  %s\n", entry.code, entry.caption.c_str());
      std::string where = entry.extension.empty() ? "?" : entry.extension;
      if (!entry.format.empty()) where += " (" + entry.format + ")";
      std::printf("         %s: %s\n", where.c_str(), DefaultsText(entry).c_str());
    }
  }
}

}  // namespace

int RunProfiles(const std::vector<std::string>& args) {
  const TOptions options = ParseOptions(args);
  const std::vector<TGroupEntry> groups = ReadCatalogue(options);
  if (options.json)
    PrintJson(groups);
  else
    PrintText(groups);
  return kExitOk;
}

}  // namespace cli
