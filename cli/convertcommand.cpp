// `kvc convert`: the batch the desktop's Start runs, driven from the command line. The options
// that change stored values (profile, output folder, parameters, priority) are applied to a copy
// of the settings file that only this run uses, and to the settings file itself with --save;
// the per-file edits go into every row's job record.
#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "batch/batchcontroller.h"
#include "batch/filelist.h"
#include "cli/commands.h"
#include "cli/consoleview.h"
#include "effects/overlaycache.h"
#include "effects/textcanvas.h"
#include "engine/zuzezaviv.h"
#include "media/fflogger.h"
#include "platform/mainthread.h"
#include "platform/prompt.h"
#include "platform/tempfolder.h"
#include "platform/text.h"
#include "profiles/catalogue.h"
#include "profiles/parameterpanel.h"
#include "profiles/settings.h"

namespace cli {

namespace {

namespace fs = std::filesystem;

struct TConvertOptions {
  std::optional<int> profile;
  std::optional<std::string> out;
  std::string settingsDir;
  std::vector<std::pair<std::string, std::string>> parameters;  // --set NAME=VALUE in order
  bool save = false;
  std::optional<int> priority;  // the stored "priority" value
  std::optional<std::string> zoom;
  batch::TlvFilesRecord edits;  // trim, crop and effect fields for every row
  int jobs = 1;
  bool openFolder = false, shutDown = false, json = false, quiet = false, verbose = false;
  std::vector<std::string> files;
};

// The pieces of a text between separators ("a,,b" gives "a", "", "b").
std::vector<std::string> Split(const std::string& text, char separator) {
  std::vector<std::string> parts;
  size_t begin = 0;
  for (size_t at; (at = text.find(separator, begin)) != std::string::npos; begin = at + 1)
    parts.push_back(text.substr(begin, at - begin));
  parts.push_back(text.substr(begin));
  return parts;
}

// [[hh:]mm:]ss[.fff] as microseconds.
int64_t ParseTime(const std::string& text, const std::string& option) {
  const auto bad = [&] {
    return TUsageError(option + " " + text + ": not a time (seconds or hh:mm:ss.mmm)");
  };
  const std::vector<std::string> parts = Split(text, ':');
  if (parts.size() > 3) throw bad();
  double seconds = 0;
  for (size_t i = 0; i < parts.size(); ++i) {
    const std::string& part = parts[i];
    const bool last = i + 1 == parts.size();
    if (part.empty() || part.find_first_not_of(last ? "0123456789." : "0123456789") !=
                            std::string::npos ||
        std::count(part.begin(), part.end(), '.') > 1 || part == ".")
      throw bad();
    seconds = seconds * 60 + std::stod(part);
  }
  return static_cast<int64_t>(seconds * 1e6 + 0.5);
}

// "A,B,..." as exactly `count` whole numbers within [low, high].
std::vector<int> ParseNumbers(const std::string& text, const std::string& option, size_t count,
                              int low, int high) {
  std::vector<int> numbers;
  for (const std::string& part : Split(text, ','))
    numbers.push_back(IntegerValue(part, option, low, high));
  if (numbers.size() != count)
    throw TUsageError(option + " " + text + ": needs " + std::to_string(count) +
                      " numbers separated by commas");
  return numbers;
}

// FAMILY[,SIZE[,#RRGGBB[,bold][,italic][,underline][,strikeout]]]
effects::TextFont ParseFont(const std::string& text) {
  effects::TextFont font;
  const std::vector<std::string> parts = Split(text, ',');
  if (parts[0].empty()) throw TUsageError("--font " + text + ": no font family");
  font.Name = parts[0];
  for (size_t i = 1; i < parts.size(); ++i) {
    const std::string& part = parts[i];
    if (i == 1 && !part.empty() && std::isdigit(static_cast<unsigned char>(part[0]))) {
      font.Size = IntegerValue(part, "--font size", 1, 1000);
    } else if (part.size() == 7 && part[0] == '#' &&
               part.find_first_not_of("0123456789abcdefABCDEF", 1) == std::string::npos) {
      const unsigned long rgb = std::stoul(part.substr(1), nullptr, 16);
      font.Color = effects::ColorFromRGB((rgb >> 16) & 0xff, (rgb >> 8) & 0xff, rgb & 0xff);
    } else if (part == "bold") {
      font.Bold = true;
    } else if (part == "italic") {
      font.Italic = true;
    } else if (part == "underline") {
      font.Underline = true;
    } else if (part == "strikeout") {
      font.StrikeOut = true;
    } else {
      throw TUsageError("--font " + text + ": '" + part +
                        "' is not a size, a #RRGGBB colour or a style");
    }
  }
  return font;
}

TConvertOptions ParseConvertOptions(const std::vector<std::string>& args) {
  TConvertOptions o;
  batch::TlvFilesRecord& e = o.edits;
  bool filesOnly = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    const auto value = [&](const char* name) { return OptionValue(args, i, name); };
    if (filesOnly || a.empty() || a[0] != '-' || a == "-") {
      o.files.push_back(a);
    } else if (a == "--") {
      filesOnly = true;
    } else if (IsOption(a, "--profile")) {
      o.profile = IntegerValue(value("--profile"), "--profile", 0, 1'000'000);
    } else if (IsOption(a, "--out")) {
      o.out = value("--out");
    } else if (IsOption(a, "--settings")) {
      o.settingsDir = value("--settings");
    } else if (IsOption(a, "--set")) {
      const std::string setting = value("--set");
      const size_t equals = setting.find('=');
      if (equals == std::string::npos || equals == 0)
        throw TUsageError("--set " + setting + ": needs NAME=VALUE");
      o.parameters.emplace_back(setting.substr(0, equals), setting.substr(equals + 1));
    } else if (a == "--save") {
      o.save = true;
    } else if (IsOption(a, "--trim")) {
      const std::string text = value("--trim");
      const size_t comma = text.find(',');
      e.TrimStart = ParseTime(text.substr(0, comma), "--trim");
      if (comma != std::string::npos) {
        const int64_t end = ParseTime(text.substr(comma + 1), "--trim");
        if (end <= e.TrimStart) throw TUsageError("--trim " + text + ": the end is not after the start");
        e.TrimDuration = end - e.TrimStart;
      }
    } else if (IsOption(a, "--crop")) {
      const std::string text = value("--crop");
      const std::vector<int> bands = ParseNumbers(text, "--crop", 4, 0, 100000);
      for (const int band : bands)
        if (band % 2) throw TUsageError("--crop " + text + ": bands must be even");
      e.CropTop = bands[0];
      e.CropBottom = bands[1];
      e.CropLeft = bands[2];
      e.CropRight = bands[3];
    } else if (IsOption(a, "--zoom")) {
      const std::string zoom = value("--zoom");
      if (zoom != "full" && zoom != "lbox" && zoom != "pan" && zoom != "center")
        throw TUsageError("--zoom " + zoom + ": not one of full, lbox, pan, center");
      o.zoom = zoom;
    } else if (IsOption(a, "--brightness")) {
      e.Brightness = IntegerValue(value("--brightness"), "--brightness", 0, 512);
    } else if (IsOption(a, "--contrast")) {
      e.Contrast = IntegerValue(value("--contrast"), "--contrast", -100, 100);
    } else if (IsOption(a, "--saturation")) {
      e.Saturation = IntegerValue(value("--saturation"), "--saturation", 0, 512);
    } else if (IsOption(a, "--exposure")) {
      e.Exposure = IntegerValue(value("--exposure"), "--exposure", -255, 512);
    } else if (IsOption(a, "--text")) {
      e.MarkText = value("--text");
    } else if (IsOption(a, "--font")) {
      e.MarkFont = ParseFont(value("--font"));
    } else if (IsOption(a, "--text-pos")) {
      const std::vector<int> xy = ParseNumbers(value("--text-pos"), "--text-pos", 2, -100000, 100000);
      e.TextX = xy[0];
      e.TextY = xy[1];
    } else if (a == "--text-first") {
      e.ProcessText = true;
    } else if (IsOption(a, "--image")) {
      e.MarkImageFile = fs::absolute(value("--image")).string();
    } else if (IsOption(a, "--image-pos")) {
      const std::vector<int> xy =
          ParseNumbers(value("--image-pos"), "--image-pos", 2, -100000, 100000);
      e.ImageX = xy[0];
      e.ImageY = xy[1];
    } else if (IsOption(a, "--alpha")) {
      e.ImageAlpha = IntegerValue(value("--alpha"), "--alpha", 0, 255);
    } else if (IsOption(a, "--style")) {
      e.ImageStyle = IntegerValue(value("--style"), "--style", 1, 2);
    } else if (a == "--image-first") {
      e.ProcessImage = true;
    } else if (IsOption(a, "--jobs")) {
      o.jobs = IntegerValue(value("--jobs"), "--jobs", 1, 64);
    } else if (IsOption(a, "--priority")) {
      const std::string level = value("--priority");
      constexpr std::array<const char*, 4> kLevels = {"idle", "normal", "lower", "lowest"};
      const auto found = std::find(kLevels.begin(), kLevels.end(), level);
      if (found == kLevels.end())
        throw TUsageError("--priority " + level + ": not one of idle, normal, lower, lowest");
      o.priority = static_cast<int>(found - kLevels.begin());
    } else if (a == "--open") {
      o.openFolder = true;
    } else if (a == "--shutdown") {
      o.shutDown = true;
    } else if (a == "--json") {
      o.json = true;
    } else if (a == "-q" || a == "--quiet") {
      o.quiet = true;
    } else if (a == "-v" || a == "--verbose") {
      o.verbose = true;
    } else {
      throw TUsageError("unknown option '" + a + "'");
    }
  }
  if (o.files.empty()) throw TUsageError("no file given");
  if (o.profile) {
    const std::vector<int> codes = profiles::AllProfileCodes();
    if (std::find(codes.begin(), codes.end(), *o.profile) == codes.end())
      throw TUsageError("unknown profile " + std::to_string(*o.profile) +
                        " (kvc profiles lists them)");
  }
  return o;
}

// The stored text a list entry of a box stands for.
std::optional<std::string> StoredValue(profiles::TParamBox box, const std::string& entry) {
  if (box == profiles::TParamBox::Channel) return profiles::ChannelValue(entry);
  if (box == profiles::TParamBox::Volume) return profiles::VolumeValue(entry);
  return entry;
}

// Sets one profile parameter the way the parameter panel does when the user picks or types it,
// with the panel's own checks; a value the panel refuses is a usage error with its message.
void SetParameter(const std::string& settingsFile, const std::string& formatFile, int code,
                  const std::string& name, const std::string& value) {
  const auto found =
      std::find_if(kParamNames.begin(), kParamNames.end(), [&](const TParamName& p) {
        const std::string_view stored = profiles::BoxInfo(p.box).textKey;  // "paraVideoSize"
        return platform::SameTextAscii(name, p.name) || platform::SameTextAscii(name, stored) ||
               platform::SameTextAscii(name, stored.substr(std::string_view("para").size()));
      });
  if (found == kParamNames.end())
    throw TUsageError("--set " + name + ": unknown parameter (size, vcodec, vbitrate, fps, zoom, "
                      "rate, acodec, channels, abitrate, volume, or the settings file's names "
                      "such as VideoSize)");
  const profiles::TParamBox box = found->box;
  const std::string what = "--set " + name + "=" + value;
  platform::TScriptedPrompt prompt;
  platform::TPromptScope scope(prompt);
  profiles::TParameterPanel panel(settingsFile, formatFile);
  panel.Load(code);
  if (!panel.Enabled(box))
    throw TUsageError(what + ": profile " + std::to_string(code) + " has no such parameter");

  if (profiles::BoxInfo(box).editable) {
    panel.SetText(box, value);
    panel.Leave(box);
    for (const std::string& message : prompt.Texts()) {
      // A frame size with odd sides is corrected, not refused.
      if (message.rfind(profiles::kFrameSizeEvenText, 0) == 0)
        std::fprintf(stderr, "kvc: %s: %s\n", what.c_str(), message.c_str());
      else
        throw TUsageError(what + ": " + message);
    }
    return;
  }
  const std::vector<std::string>& entries = panel.Entries(box);
  for (size_t i = 0; i < entries.size(); ++i) {
    const std::string& entry = entries[i];
    const std::optional<std::string> stored = box == profiles::TParamBox::Zoom
                                                  ? profiles::ZoomValue(static_cast<int>(i))
                                                  : StoredValue(box, entry);
    if (value == entry || value + "%" == entry || (stored && value == *stored)) {
      panel.Select(box, static_cast<int>(i));
      return;
    }
  }
  std::string list;
  for (const std::string& entry : entries) list += (list.empty() ? "" : ", ") + entry;
  throw TUsageError(what + ": not one of " + list);
}

// The options that change stored values, applied to one settings file.
void ApplyStoredOptions(const TConvertOptions& o, const std::string& settingsFile,
                        const std::string& formatFile, int code) {
  const profiles::TSettings settings(settingsFile);
  if (o.profile) {
    // As a press on the catalogue's line does: the box shows the caption the code stands for.
    settings.SetFormatCode(*o.profile);
    settings.SetFormatName(profiles::ProfileCaption(*o.profile));
  }
  if (o.out) settings.SetOutPutDir(fs::absolute(*o.out).lexically_normal().string());
  if (o.priority) settings.SetPriority(*o.priority);
  for (const auto& [name, value] : o.parameters)
    SetParameter(settingsFile, formatFile, code, name, value);
}

std::atomic<int> gStopSignal{0};

void OnStopSignal(int signal) { gStopSignal = signal; }

void InstallStopSignals() {
  struct sigaction action {};
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  // A second Ctrl-C ends the program at once, without waiting for the files to be finished off.
  action.sa_flags = SA_RESETHAND;
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
}

}  // namespace

int RunConvert(const std::vector<std::string>& args) {
  TConvertOptions o = ParseConvertOptions(args);
  const TSettingsFiles files = ResolveSettingsFiles(o.settingsDir);
  const int code = o.profile.value_or(profiles::TSettings(files.settingsFile).FormatCode());
  if (!o.edits.MarkImageFile.empty()) {
    try {
      effects::LoadOverlayImage(o.edits.MarkImageFile);
    } catch (const std::exception& error) {
      throw TUsageError("--image: " + std::string(error.what()));
    }
  }

  const platform::TTempFolder runFolder("kvc");
  const std::string runSettings = runFolder.Path() + "/" + profiles::kSettingsFileName;
  std::error_code copyError;
  if (fs::exists(files.settingsFile)) fs::copy_file(files.settingsFile, runSettings, copyError);
  // The profile's defaults go in before any single value, so that a value given alone never
  // stands for a profile that is otherwise not set up.
  profiles::EnsureProfileValues(runSettings, files.formatFile, code);
  ApplyStoredOptions(o, runSettings, files.formatFile, code);
  if (o.save) {
    profiles::EnsureProfileValues(files.settingsFile, files.formatFile, code);
    ApplyStoredOptions(o, files.settingsFile, files.formatFile, code);
  }
  // The zoom is a per-file edit: the batch takes every row's zoom from the profile, so it is set
  // there, for this run only.
  if (o.zoom) profiles::TSettings(runSettings).SetProfileString(code, "parazoom", *o.zoom);

  std::string libraryError;
  if (!LoadMediaLibraries(libraryError)) {
    std::fprintf(stderr, "kvc: %s\n", libraryError.c_str());
    return kExitLibraries;
  }
  // Text is drawn on the workers' threads; the drawing library is set up on this one first.
  if (!o.edits.MarkText.empty()) effects::EnsureGuiApplication();

  TConsolePrompt prompt;
  platform::TPromptScope promptScope(prompt);
  const TOutputMode mode = o.json ? TOutputMode::Json
                           : isatty(STDERR_FILENO) && !o.quiet ? TOutputMode::Live
                                                               : TOutputMode::Lines;
  engine::TZUzezaVIV engine;
  engine.SetProgressInterval(250);
  batch::TFileList list(engine, runSettings, files.formatFile);
  TConsoleView view(mode, o.quiet, list);
  view.SetJobs(o.jobs);
  view.SetPostActions(o.openFolder, o.shutDown);
  batch::TBatchController controller(engine, list, view, runSettings, files.formatFile);
  view.SetController(&controller);
  // No window shows the converted pictures: the workers need not copy one out every 100 ms.
  engine.SetPreviewBitmap(false);
  media::TFFLogger& logger = media::GetLogger();
  if (o.verbose) {
    logger.SetLogLevel(media::llVerbose);
    logger.OnLog = [&view](media::TFFBaseComponent*, uint32_t, media::TLogLevel,
                           const std::string& text) { view.Log(text); };
  }

  std::vector<batch::TSkippedFile> skipped;
  {
    // The names given go once the list has them: a batch of many files keeps one copy.
    std::vector<std::string> paths;
    paths.reserve(o.files.size());
    for (const std::string& file : o.files) paths.push_back(fs::absolute(file).lexically_normal());
    std::vector<std::string>().swap(o.files);
    list.AddFiles(paths, &skipped);
  }
  for (const batch::TSkippedFile& file : skipped) {
    if (file.Reason == batch::kListedReason)
      std::fprintf(stderr, "kvc: %s: given more than once, converted once\n", file.Path.c_str());
    else
      view.FileRefused(file.Path, file.Reason);
  }
  for (int row = 0; row < list.RowCount(); ++row) {
    batch::TlvFilesRecord& record = *list.Row(row).Record;
    batch::TlvFilesRecord edited = o.edits;
    edited.SelIndex = record.SelIndex;
    edited.SourceFile = std::move(record.SourceFile);
    edited.DestFile = std::move(record.DestFile);
    edited.DurationSec = record.DurationSec;
    edited.Zoom = std::move(record.Zoom);
    record = std::move(edited);
  }

  InstallStopSignals();
  InstallSuspendClock();
  // Ctrl-C while the files were being probed: nothing starts.
  bool interrupted = gStopSignal != 0;
  if (!interrupted && !list.Empty() && controller.Start(o.jobs)) {
    while (controller.Running()) {
      platform::WaitServing(
          [&] { return !controller.Running() || (gStopSignal != 0 && !interrupted); });
      if (gStopSignal != 0 && !interrupted) {
        interrupted = true;
        controller.Stop();
      }
    }
  }
  logger.OnLog = nullptr;
  view.BatchEnded(interrupted);
  if (interrupted) return 128 + gStopSignal;
  return view.Failed() > 0 || view.Converted() == 0 ? kExitFailed : kExitOk;
}

}  // namespace cli
