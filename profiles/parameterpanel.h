// The parameter panel without widgets: the ten parameter boxes of the current profile (entries,
// enabled state, selection or typed text), loaded from the format file and the settings file,
// with the change, leave and key rules that validate and store each value under "formatInfo" +
// code in the settings file. A window only draws the boxes and forwards the user's events here.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform {
class TIniFile;
}

namespace profiles {

// The ten boxes, in the order of their captions on the panel.
enum class TParamBox {
  VideoSize,     // "Frame Size:", editable
  VideoEncoder,  // "Encoder:", list only
  VideoBitRate,  // "BitRate (Kbps):", editable
  FrameRate,     // "FrameRate (Fps):", list only
  Zoom,          // "Zoom:", list only, fixed entries
  SampleRate,    // "SampleRate (Hz):", editable
  AudioEncoder,  // "Encoder:", list only
  Channel,       // "Channel:", list only
  AudioBitRate,  // "BitRate (Kbps):", editable
  Volume,        // "Volume:", list only
};
inline constexpr int kParamBoxCount = 10;

// Fixed facts of a box. listKey and indexKey are empty for the zoom box, which has neither.
struct TParamBoxInfo {
  const char* caption;
  bool editable;        // the user may type into it (otherwise only an entry can be chosen)
  bool video;           // one of the five "Video Options" boxes
  const char* listKey;  // its value list in the format file ("VideoSize", ...)
  const char* textKey;  // its stored text in the settings file ("paraVideoSize", ...)
  const char* indexKey; // its stored position in the settings file ("iVideoSize", ...)
};
const TParamBoxInfo& BoxInfo(TParamBox box);

// The entries of the zoom box and the values stored for them.
inline constexpr std::array<const char*, 3> kZoomEntries = {"Full Screen", "Letter Box",
                                                            "Pan and Scan"};

// Messages shown by the panel's checks (the profile settings dialog shows the same ones).
inline constexpr char kFrameSizeInvalidText[] = "Frame Size is not a valid value!";
inline constexpr char kFrameSizeEvenText[] = "Frame Size must be a multiple of 2.\nThe correct value:";
inline constexpr char kFrameSizeEvenTitle[] = "Input Error!";
inline constexpr char kEnterNumericalText[] = "Please enter numerical.";
inline constexpr char kVideoBitRateInvalidText[] = "Video BitRate is not a valid value!";
inline constexpr char kSampleRateInvalidText[] = "Audio SampleRate is not a valid value!";
inline constexpr char kAudioBitRateInvalidText[] = "Audio BitRate is not a valid value!";
// Title of the messages that name no title of their own.
inline constexpr char kWarningTitle[] = "Warning";

// ---- Rules shared by the panel and the profile settings dialog ----

// A box's value list from the format file: nullopt when the parameter does not apply: "null" or a
// missing key, and for the encoder, sample rate, channel, audio bit rate and volume boxes also an
// empty value. Otherwise the value split at every "," (an empty value gives one empty entry, a
// trailing "," a final empty entry). The zoom box has no list (nullopt).
std::optional<std::vector<std::string>> ReadValueList(const platform::TIniFile& formatFile,
                                                      int code, TParamBox box);

// A whole decimal number that fits 32 bits, with an optional sign and nothing else.
std::optional<int> ParseIntegerText(std::string_view text);
// A decimal number with "." as the decimal point and an optional sign.
bool IsDecimalText(std::string_view text);

// Outcome of checking a frame size text.
struct TFrameSizeCheck {
  enum TKind {
    AsSource,   // contains "as source" in any case: accepted as it is, nothing to store
    Invalid,    // no "x", or a side that is not an integer
    Valid,      // both sides even and non-zero
    Corrected,  // a side was odd or zero: corrected holds the even replacement
  } kind = Invalid;
  int width = 0, height = 0;  // the sides after correction (Valid, Corrected)
  std::string corrected;      // width "x" height (Corrected only)
};
// Splits at the last "x"; odd sides are rounded toward zero to even, a 0 becomes 2.
TFrameSizeCheck CheckFrameSize(std::string_view text);

// Whether a typed text of the video bit rate, sample rate or audio bit rate box is a value:
// an integer or exactly "as source", for the audio bit rate also a decimal number.
bool NumericTextAccepted(TParamBox box, std::string_view text);

// Key filters (no messages): the frame size box takes backspace, digits and one "x" (an empty
// box takes any first key); the numeric boxes take backspace and digits.
inline constexpr char32_t kBackspace = 8;
bool FrameSizeKeyAccepted(std::string_view text, char32_t key);
bool NumericKeyAccepted(char32_t key);

// Stored values of list entries; nullopt when the entry stores nothing.
// Channel words are compared exactly: "as source", "mono 1 channel" → "1", "stereo 2 channels" → "2".
std::optional<std::string> ChannelValue(std::string_view entry);
// A percentage entry ("150%": the last character is dropped) → its volume out of 256, for the
// listed steps 25, 50, 75, 100, 125, 150, 175, 200, 250, 300, 350, 400 only.
std::optional<std::string> VolumeValue(std::string_view entry);
// Zoom position → "full", "lbox", "pan", "center" (0 … 3), and back (-1 for any other text).
std::optional<std::string> ZoomValue(int position);
int ZoomPosition(std::string_view value);

// Copies the H.264 extras of a profile from its format file section into its settings section:
// "paraBitExact" when it reads "true" in any case; "paraMaxBitrate", "paraBufferSize",
// "paraLevel", "paraQscale", "paraGop" when their integer value is > 0; "paraCoder" when >= 0.
// Extras that do not qualify leave the settings file as it was.
void CopyH264Extras(const platform::TIniFile& settingsFile, const platform::TIniFile& formatFile,
                    int code);

// ---- Profile defaults ----

// Stores the profile's default values exactly as the panel's "Default" does, without any message
// or beep: every box takes its default position from the format file and its handler stores it.
void StoreProfileDefaults(const std::string& settingsFile, const std::string& formatFile,
                          int code);
// Completes the profile's stored values: every key the defaults would store that the profile's
// section lacks gets its default, in one write; keys already there keep their values, whoever
// wrote them. True when something was stored. Whoever reads a profile's values (the panel on
// loading, the job builder, the batch) calls this first, so that a profile never set up, or one
// whose section holds only some values (a zoom stored alone, a section written by hand),
// converts with its own defaults for the rest.
bool EnsureProfileValues(const std::string& settingsFile, const std::string& formatFile, int code);

// ---- The panel ----

// State of one box as it is drawn.
struct TParamBoxState {
  std::vector<std::string> entries;
  bool enabled = false;  // disabled boxes are drawn with grey text
  int itemIndex = -1;    // the selected entry; -1 when none is selected
  std::string text;      // the box's text: the selected entry, or what was typed
};

// The panel of one profile at a time. All methods run on the user-interface thread; messages and
// beeps go through platform::Prompt(). Every stored value is written to the settings file at
// once; nothing is cached, so a second panel or the job builder sees it immediately.
// Changes the panel makes itself (a reset to the second entry, a corrected frame size, loading)
// are no user events: a window redraws the boxes after each call and does not forward them back.
class TParameterPanel {
 public:
  TParameterPanel(std::string settingsFile, std::string formatFile);

  // Loads the boxes for a profile (when the chosen profile changes). Values the profile has
  // not stored yet first get their defaults (EnsureProfileValues), so the panel shows what a
  // conversion will use.
  void Load(int code);
  int Code() const { return code_; }

  const TParamBoxState& Box(TParamBox box) const;
  const std::vector<std::string>& Entries(TParamBox box) const { return Box(box).entries; }
  bool Enabled(TParamBox box) const { return Box(box).enabled; }
  int ItemIndex(TParamBox box) const { return Box(box).itemIndex; }
  const std::string& Text(TParamBox box) const { return Box(box).text; }

  // The user chose entry `position` from a box's list: the box's change handler runs and stores
  // the value (an editable numeric box checks the entry like typed text). Ignored for a disabled
  // box or a position that is not an entry.
  void Select(TParamBox box, int position);
  // The text of an editable box changed by typing (after an accepted key, a paste, a deletion).
  // The numeric boxes check and store at every change; the frame size box waits for Leave.
  // Ignored for list-only and disabled boxes.
  void SetText(TParamBox box, const std::string& text);
  // The focus left a box. The frame size box checks, corrects and stores its text here; the batch
  // start calls this for it before converting. A disabled frame size box (a profile without
  // video) and the other boxes have nothing to do.
  void Leave(TParamBox box);
  // A character key typed into an editable box (the window forwards character input only, not
  // navigation keys): true when the box takes it. A refused key beeps; the numeric boxes first
  // show "Please enter numerical.". List-only boxes take no keys.
  bool KeyAccepted(TParamBox box, char32_t key);
  // The "Default" button: refills the editable boxes, selects every box's default position from
  // the format file and runs the handlers in order so that every value is stored. Boxes without
  // entries are passed over and store nothing.
  void Default();

 private:
  friend void StoreProfileDefaults(const std::string&, const std::string&, int);

  TParamBoxState& State(TParamBox box) { return boxes_[static_cast<size_t>(box)]; }
  void Tell(const std::string& text, const std::string& title);
  void Beep();
  void LoadLists();
  void FillList(TParamBox box);
  void ApplyGroupEnabling();
  void SelectEntry(TParamBox box, int position);
  void ResetToSecondEntry(TParamBox box);
  void RunHandler(TParamBox box);
  void StoreListChoice(TParamBox box);
  void CommitFrameSize();
  void CheckNumeric(TParamBox box);

  std::string settingsFile_, formatFile_;
  int code_ = -1;
  bool quiet_ = false;  // no messages or beeps (storing a profile's defaults unseen)
  std::array<TParamBoxState, kParamBoxCount> boxes_;
};

}  // namespace profiles
