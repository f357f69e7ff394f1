#include "profiles/parameterpanel.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <map>
#include <mutex>
#include <tuple>
#include <utility>

#include "platform/inifile.h"
#include "platform/prompt.h"
#include "platform/tempfolder.h"
#include "platform/text.h"
#include "profiles/encodermap.h"
#include "profiles/settings.h"

namespace profiles {

namespace {

using platform::TIniFile;

constexpr TParamBoxInfo kBoxInfo[kParamBoxCount] = {
    {"Frame Size:", true, true, "VideoSize", "paraVideoSize", "iVideoSize"},
    {"Encoder:", false, true, "VideoEncoder", "paraVideoEncoder", "iVideoEncoder"},
    {"BitRate (Kbps):", true, true, "VideoBitRate", "paraVideoBitRate", "iVideoBitRate"},
    {"FrameRate (Fps):", false, true, "FrameRate", "paraFrameRate", "iFrameRate"},
    {"Zoom:", false, true, "", "paraZoom", ""},
    {"SampleRate (Hz):", true, false, "SampleRate", "paraSampleRate", "iSampleRate"},
    {"Encoder:", false, false, "AudioEncoder", "paraAudioEncoder", "iAudioEncoder"},
    {"Channel:", false, false, "Channel", "paraChannel", "iChannel"},
    {"BitRate (Kbps):", true, false, "AudioBitRate", "paraAudioBitRate", "iAudioBitRate"},
    {"Volume:", false, false, "Volume", "paraVolume", "iVolume"},
};

constexpr TParamBox kAllBoxes[] = {
    TParamBox::VideoSize,  TParamBox::VideoEncoder, TParamBox::VideoBitRate, TParamBox::FrameRate,
    TParamBox::Zoom,       TParamBox::SampleRate,   TParamBox::AudioEncoder, TParamBox::Channel,
    TParamBox::AudioBitRate, TParamBox::Volume,
};

// The editable boxes whose stored text is shown when loading, with the text a profile without a
// stored value shows.
constexpr std::pair<TParamBox, const char*> kTextDefaults[] = {
    {TParamBox::VideoSize, "320x240"},
    {TParamBox::VideoBitRate, "768"},
    {TParamBox::SampleRate, "44100"},
    {TParamBox::AudioBitRate, "96"},
};

// The list-only boxes whose stored position is shown when loading.
constexpr TParamBox kPositionBoxes[] = {TParamBox::FrameRate, TParamBox::VideoEncoder,
                                        TParamBox::Channel, TParamBox::Volume,
                                        TParamBox::AudioEncoder};

// The order in which "Default" stores the boxes' values.
constexpr TParamBox kDefaultOrder[] = {
    TParamBox::VideoEncoder, TParamBox::VideoSize,    TParamBox::FrameRate,
    TParamBox::VideoBitRate, TParamBox::Zoom,         TParamBox::AudioEncoder,
    TParamBox::AudioBitRate, TParamBox::SampleRate,   TParamBox::Channel,
    TParamBox::Volume,
};

constexpr char kAsSource[] = "as source";

bool IsDigit(char32_t c) { return c >= '0' && c <= '9'; }

// Position of text among entries, or -1.
int IndexOf(const std::vector<std::string>& entries, std::string_view text) {
  for (size_t i = 0; i < entries.size(); ++i)
    if (entries[i] == text) return static_cast<int>(i);
  return -1;
}

}  // namespace

const TParamBoxInfo& BoxInfo(TParamBox box) { return kBoxInfo[static_cast<size_t>(box)]; }


std::optional<std::vector<std::string>> ReadValueList(const TIniFile& formatFile, int code,
                                                      TParamBox box) {
  const TParamBoxInfo& info = BoxInfo(box);
  if (*info.listKey == '\0') return std::nullopt;
  const std::string value = formatFile.ReadString(FormatInfoSection(code), info.listKey, "null");
  if (value == "null") return std::nullopt;
  // Frame size, video bit rate and frame rate are switched off only by "null".
  const bool emptyApplies = box == TParamBox::VideoSize || box == TParamBox::VideoBitRate ||
                            box == TParamBox::FrameRate;
  if (value.empty() && !emptyApplies) return std::nullopt;
  std::vector<std::string> entries;
  size_t start = 0;
  for (;;) {
    const size_t comma = value.find(',', start);
    if (comma == std::string::npos) break;
    entries.push_back(value.substr(start, comma - start));
    start = comma + 1;
  }
  entries.push_back(value.substr(start));
  return entries;
}

std::optional<int> ParseIntegerText(std::string_view text) {
  bool negative = false;
  if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
    negative = text.front() == '-';
    text.remove_prefix(1);
  }
  if (text.empty()) return std::nullopt;
  const int64_t limit = negative ? int64_t{INT32_MAX} + 1 : int64_t{INT32_MAX};
  int64_t value = 0;
  for (char c : text) {
    if (!IsDigit(static_cast<unsigned char>(c))) return std::nullopt;
    value = value * 10 + (c - '0');
    if (value > limit) return std::nullopt;
  }
  return static_cast<int>(negative ? -value : value);
}

bool IsDecimalText(std::string_view text) {
  if (!text.empty() && (text.front() == '+' || text.front() == '-')) text.remove_prefix(1);
  bool digit = false, point = false;
  for (char c : text) {
    if (IsDigit(static_cast<unsigned char>(c))) {
      digit = true;
    } else if (c == '.' && !point) {
      point = true;
    } else {
      return false;
    }
  }
  return digit;
}

TFrameSizeCheck CheckFrameSize(std::string_view text) {
  TFrameSizeCheck check;
  if (platform::LowerAscii(std::string(text)).find(kAsSource) != std::string::npos) {
    check.kind = TFrameSizeCheck::AsSource;
    return check;
  }
  const size_t x = text.rfind('x');
  if (x == std::string_view::npos) return check;
  const std::optional<int> width = ParseIntegerText(text.substr(0, x));
  const std::optional<int> height = ParseIntegerText(text.substr(x + 1));
  if (!width || !height) return check;
  auto even = [](int n) {
    const int e = n / 2 * 2;  // toward zero
    return e == 0 ? 2 : e;
  };
  check.width = even(*width);
  check.height = even(*height);
  if (check.width == *width && check.height == *height) {
    check.kind = TFrameSizeCheck::Valid;
  } else {
    check.kind = TFrameSizeCheck::Corrected;
    check.corrected = std::to_string(check.width) + "x" + std::to_string(check.height);
  }
  return check;
}

bool NumericTextAccepted(TParamBox box, std::string_view text) {
  if (text == kAsSource || ParseIntegerText(text)) return true;
  return box == TParamBox::AudioBitRate && IsDecimalText(text);
}

bool FrameSizeKeyAccepted(std::string_view text, char32_t key) {
  if (text.empty() || key == kBackspace || IsDigit(key)) return true;
  return key == 'x' && text.find('x') == std::string_view::npos;
}

bool NumericKeyAccepted(char32_t key) { return key == kBackspace || IsDigit(key); }

std::optional<std::string> ChannelValue(std::string_view entry) {
  if (entry == kAsSource) return std::string(kAsSource);
  if (entry == "mono 1 channel") return std::string("1");
  if (entry == "stereo 2 channels") return std::string("2");
  return std::nullopt;
}

std::optional<std::string> VolumeValue(std::string_view entry) {
  // The percentages the volume lists offer, as volumes out of 256 (p × 256 ÷ 100).
  static constexpr std::pair<int, const char*> kSteps[] = {
      {25, "64"},   {50, "128"},  {75, "192"},  {100, "256"}, {125, "320"}, {150, "384"},
      {175, "448"}, {200, "512"}, {250, "640"}, {300, "768"}, {350, "896"}, {400, "1024"},
  };
  if (entry.empty()) return std::nullopt;
  const std::optional<int> percent = ParseIntegerText(entry.substr(0, entry.size() - 1));
  if (!percent || *percent <= 0) return std::nullopt;
  for (const auto& [p, volume] : kSteps)
    if (p == *percent) return std::string(volume);
  return std::nullopt;
}

std::optional<std::string> ZoomValue(int position) {
  static constexpr const char* kValues[] = {"full", "lbox", "pan", "center"};
  if (position < 0 || position >= static_cast<int>(std::size(kValues))) return std::nullopt;
  return std::string(kValues[position]);
}

int ZoomPosition(std::string_view value) {
  for (int i = 0; i < 4; ++i)
    if (value == *ZoomValue(i)) return i;
  return -1;
}

void CopyH264Extras(const TIniFile& settingsFile, const TIniFile& formatFile, int code) {
  const std::string section = FormatInfoSection(code);
  const std::string bitExact = formatFile.ReadString(section, "paraBitExact", "");
  if (platform::SameTextAscii(bitExact, "true"))
    settingsFile.WriteString(section, "paraBitExact", bitExact);
  for (const char* key :
       {"paraMaxBitrate", "paraBufferSize", "paraLevel", "paraQscale", "paraGop"}) {
    const int value = formatFile.ReadInteger(section, key, 0);
    if (value > 0) settingsFile.WriteInteger(section, key, value);
  }
  const int coder = formatFile.ReadInteger(section, "paraCoder", -1);
  if (coder >= 0) settingsFile.WriteInteger(section, "paraCoder", coder);
}

void StoreProfileDefaults(const std::string& settingsFile, const std::string& formatFile,
                          int code) {
  TParameterPanel panel(settingsFile, formatFile);
  panel.quiet_ = true;
  panel.code_ = code;
  panel.LoadLists();
  panel.Default();
}

namespace {

using TProfileValues = std::vector<std::pair<std::string, std::string>>;

// The keys and values StoreProfileDefaults would store for the profile, in the order it stores
// them, worked out on a throw-away settings file.
TProfileValues WorkOutProfileDefaults(const std::string& formatFile, int code) {
  const platform::TTempFolder folder;
  const std::string file = folder.Path() + "/" + kSettingsFileName;
  StoreProfileDefaults(file, formatFile, code);
  const TIniFile defaults(file);
  const std::string section = FormatInfoSection(code);
  TProfileValues values;
  for (const std::string& key : defaults.ReadSection(section))
    values.emplace_back(key, defaults.ReadString(section, key, ""));
  return values;
}

// The same, remembered: they depend on the format file alone, so they are worked out once per
// profile while that file stays as it is (its size and modification time).
TProfileValues ProfileDefaultValues(const std::string& formatFile, int code) {
  struct stat info {};
  if (::stat(formatFile.c_str(), &info) != 0) return WorkOutProfileDefaults(formatFile, code);
  using TKey = std::tuple<std::string, int, int64_t, int64_t, int64_t>;
  const TKey key{formatFile, code, static_cast<int64_t>(info.st_size),
                 static_cast<int64_t>(info.st_mtim.tv_sec),
                 static_cast<int64_t>(info.st_mtim.tv_nsec)};
  static std::mutex lock;
  static std::map<TKey, TProfileValues> known;
  {
    std::lock_guard guard(lock);
    if (const auto found = known.find(key); found != known.end()) return found->second;
  }
  TProfileValues values = WorkOutProfileDefaults(formatFile, code);
  std::lock_guard guard(lock);
  known.emplace(key, values);
  return values;
}

}  // namespace

bool EnsureProfileValues(const std::string& settingsFile, const std::string& formatFile,
                         int code) {
  const TProfileValues defaults = ProfileDefaultValues(formatFile, code);
  const std::string section = FormatInfoSection(code);
  bool stored = false;
  TIniFile(settingsFile).Update([&](platform::TIniDocument& doc) {
    for (const auto& [key, value] : defaults)
      if (!doc.Find(section, key, nullptr) && doc.Set(section, key, value)) stored = true;
    return stored;
  });
  return stored;
}

TParameterPanel::TParameterPanel(std::string settingsFile, std::string formatFile)
    : settingsFile_(std::move(settingsFile)), formatFile_(std::move(formatFile)) {}

const TParamBoxState& TParameterPanel::Box(TParamBox box) const {
  return boxes_[static_cast<size_t>(box)];
}

void TParameterPanel::Load(int code) {
  code_ = code;
  EnsureProfileValues(settingsFile_, formatFile_, code);
  LoadLists();

  const TIniFile settings(settingsFile_);
  const std::string section = FormatInfoSection(code);
  const std::string zoom = settings.ReadString(section, "paraZoom", "full");
  TParamBoxState& zoomBox = State(TParamBox::Zoom);
  if (zoom != "null" && !zoom.empty()) {
    zoomBox.enabled = true;
    SelectEntry(TParamBox::Zoom, ZoomPosition(zoom));  // "center" has no entry: no selection
  } else {
    zoomBox.enabled = false;
  }

  for (const auto& [box, def] : kTextDefaults) {
    const std::string value = settings.ReadString(section, BoxInfo(box).textKey, def);
    TParamBoxState& state = State(box);
    const int position = IndexOf(state.entries, value);
    if (position >= 0) {
      SelectEntry(box, position);
    } else {
      state.itemIndex = -1;
      state.text = value;
    }
  }
  for (TParamBox box : kPositionBoxes)
    SelectEntry(box, settings.ReadInteger(section, BoxInfo(box).indexKey, 0));

  ApplyGroupEnabling();
}

void TParameterPanel::Select(TParamBox box, int position) {
  TParamBoxState& state = State(box);
  if (!state.enabled || position < 0 || position >= static_cast<int>(state.entries.size()))
    return;
  SelectEntry(box, position);
  if (box == TParamBox::VideoSize) {
    // A listed size needs no check: it is stored as it stands.
    const TIniFile settings(settingsFile_);
    const std::string section = FormatInfoSection(code_);
    settings.WriteInteger(section, "iVideoSize", position);
    settings.WriteString(section, "paraVideoSize", state.text);
  } else if (BoxInfo(box).editable) {
    CheckNumeric(box);
  } else {
    StoreListChoice(box);
  }
}

void TParameterPanel::SetText(TParamBox box, const std::string& text) {
  TParamBoxState& state = State(box);
  if (!BoxInfo(box).editable || !state.enabled) return;
  state.text = text;
  state.itemIndex = -1;
  if (box != TParamBox::VideoSize) CheckNumeric(box);
}

void TParameterPanel::Leave(TParamBox box) {
  if (box == TParamBox::VideoSize && State(box).enabled) CommitFrameSize();
}

bool TParameterPanel::KeyAccepted(TParamBox box, char32_t key) {
  const TParamBoxState& state = State(box);
  if (!BoxInfo(box).editable || !state.enabled) return false;
  if (box == TParamBox::VideoSize) {
    if (FrameSizeKeyAccepted(state.text, key)) return true;
    Beep();
    return false;
  }
  if (NumericKeyAccepted(key)) return true;
  Tell(kEnterNumericalText, kWarningTitle);
  Beep();
  return false;
}

void TParameterPanel::Default() {
  if (code_ < 0) return;  // nothing loaded yet
  for (TParamBox box : {TParamBox::VideoSize, TParamBox::VideoBitRate, TParamBox::AudioBitRate,
                        TParamBox::SampleRate})
    FillList(box);
  ApplyGroupEnabling();

  const TIniFile format(formatFile_);
  const std::string section = FormatInfoSection(code_);
  for (TParamBox box : kAllBoxes) {
    const char* indexKey = BoxInfo(box).indexKey;
    if (*indexKey != '\0') SelectEntry(box, format.ReadInteger(section, indexKey, 0));
  }
  SelectEntry(TParamBox::Zoom, 0);

  for (TParamBox box : kDefaultOrder) RunHandler(box);
}

void TParameterPanel::Tell(const std::string& text, const std::string& title) {
  if (!quiet_)
    platform::Prompt().Message(text, title,
                               title == kFrameSizeEvenTitle ? platform::TPromptIcon::Error
                                                            : platform::TPromptIcon::Warning);
}

void TParameterPanel::Beep() {
  if (!quiet_) platform::Prompt().Beep();
}

void TParameterPanel::FillList(TParamBox box) {
  TParamBoxState& state = State(box);
  std::optional<std::vector<std::string>> entries =
      ReadValueList(TIniFile(formatFile_), code_, box);
  state.enabled = entries.has_value();
  state.entries = entries ? std::move(*entries) : std::vector<std::string>{};
  state.itemIndex = -1;
  state.text.clear();
}

void TParameterPanel::LoadLists() {
  for (TParamBox box : kAllBoxes) {
    if (box != TParamBox::Zoom) FillList(box);
  }
  TParamBoxState& zoom = State(TParamBox::Zoom);
  zoom.entries.assign(kZoomEntries.begin(), kZoomEntries.end());
  zoom.enabled = true;
  zoom.itemIndex = -1;
  zoom.text.clear();
}

void TParameterPanel::ApplyGroupEnabling() {
  // A profile without video (or audio) encoders has no video (audio) parameters at all.
  const bool video = !State(TParamBox::VideoEncoder).entries.empty();
  const bool audio = !State(TParamBox::AudioEncoder).entries.empty();
  for (TParamBox box : kAllBoxes) State(box).enabled = BoxInfo(box).video ? video : audio;
}

void TParameterPanel::SelectEntry(TParamBox box, int position) {
  TParamBoxState& state = State(box);
  if (position >= 0 && position < static_cast<int>(state.entries.size())) {
    state.itemIndex = position;
    state.text = state.entries[static_cast<size_t>(position)];
  } else {
    state.itemIndex = -1;
    state.text.clear();
  }
}

void TParameterPanel::ResetToSecondEntry(TParamBox box) {
  if (State(box).entries.size() > 1) SelectEntry(box, 1);
}

void TParameterPanel::RunHandler(TParamBox box) {
  // A box without entries holds no value of this profile: there is nothing to store.
  if (State(box).entries.empty()) return;
  if (box == TParamBox::VideoSize) {
    CommitFrameSize();
  } else if (BoxInfo(box).editable) {
    CheckNumeric(box);
  } else {
    StoreListChoice(box);
  }
}

void TParameterPanel::StoreListChoice(TParamBox box) {
  const TParamBoxState& state = State(box);
  if (state.itemIndex < 0 || state.itemIndex >= static_cast<int>(state.entries.size())) return;
  const int position = state.itemIndex;
  const std::string& entry = state.entries[static_cast<size_t>(position)];
  const TParamBoxInfo& info = BoxInfo(box);
  const TIniFile settings(settingsFile_);
  const std::string section = FormatInfoSection(code_);

  std::optional<std::string> value;
  switch (box) {
    case TParamBox::VideoEncoder:
      value = MapVideoEncoder(entry);
      break;
    case TParamBox::FrameRate:
      value = entry;
      break;
    case TParamBox::Zoom:
      value = ZoomValue(position);
      break;
    case TParamBox::AudioEncoder:
      value = MapAudioEncoder(entry);
      break;
    case TParamBox::Channel:
      value = ChannelValue(entry);
      break;
    case TParamBox::Volume:
      value = VolumeValue(entry);
      break;
    default:
      return;  // editable boxes store through their checks
  }
  if (*info.indexKey != '\0') settings.WriteInteger(section, info.indexKey, position);
  if (value) settings.WriteString(section, info.textKey, *value);
  if (box == TParamBox::VideoEncoder && platform::SameTextAscii(entry, "h264"))
    CopyH264Extras(settings, TIniFile(formatFile_), code_);
}

void TParameterPanel::CommitFrameSize() {
  TParamBoxState& state = State(TParamBox::VideoSize);
  const TFrameSizeCheck check = CheckFrameSize(state.text);
  switch (check.kind) {
    case TFrameSizeCheck::AsSource:
      return;
    case TFrameSizeCheck::Invalid:
      Tell(kFrameSizeInvalidText, kWarningTitle);
      ResetToSecondEntry(TParamBox::VideoSize);
      return;
    case TFrameSizeCheck::Valid:
    case TFrameSizeCheck::Corrected:
      break;
  }
  // The stored position is that of the text as the user left it (0 when it is no entry).
  const int position = std::max(IndexOf(state.entries, state.text), 0);
  if (check.kind == TFrameSizeCheck::Corrected) {
    Tell(kFrameSizeEvenText + check.corrected, kFrameSizeEvenTitle);
    state.text = check.corrected;
    state.itemIndex = IndexOf(state.entries, state.text);
  }
  const TIniFile settings(settingsFile_);
  const std::string section = FormatInfoSection(code_);
  settings.WriteInteger(section, "iVideoSize", position);
  settings.WriteString(section, "paraVideoSize", state.text);
}

void TParameterPanel::CheckNumeric(TParamBox box) {
  const TParamBoxState& state = State(box);
  if (NumericTextAccepted(box, state.text)) {
    const TParamBoxInfo& info = BoxInfo(box);
    const TIniFile settings(settingsFile_);
    const std::string section = FormatInfoSection(code_);
    settings.WriteInteger(section, info.indexKey, state.itemIndex);
    settings.WriteString(section, info.textKey, state.text);
    return;
  }
  Tell(box == TParamBox::VideoBitRate ? kVideoBitRateInvalidText
       : box == TParamBox::SampleRate ? kSampleRateInvalidText
                                      : kAudioBitRateInvalidText,
       kWarningTitle);
  ResetToSecondEntry(box);
}

}  // namespace profiles
