#include "profiles/parameterpanel.h"
#include "profiles/settings.h"

#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "platform/inifile.h"
#include "platform/prompt.h"
#include "tests/support/testdirs.h"

namespace {

using testsupport::ReadText;
using testsupport::WriteText;

using platform::TIniFile;
using profiles::TParamBox;
using profiles::TParameterPanel;

constexpr int kVideo = 2101;    // a video profile with every list
constexpr int kAudio = 2700;    // an audio-only profile
constexpr int kOddSize = 100;   // a video profile whose default frame size is odd

const char kFormat[] =
    "[formatInfo2101]\n"
    "Format=avi\n"
    "VideoSize=320x240,640x480,641x481,as source\n"
    "VideoEncoder=mpeg-4,H264,xvid,divx\n"
    "VideoBitRate=512,768,1024,as source\n"
    "FrameRate=25,29.97,as source,\n"
    "SampleRate=22050,44100,as source\n"
    "AudioEncoder=mp3,aac,pcm_mulaw ,wma9\n"
    "Channel=mono 1 channel,stereo 2 channels,Stereo 2 Channels,as source\n"
    "AudioBitRate=64,96,128,as source\n"
    "Volume=50%,100%,110%,150%\n"
    "iVideoSize=1\n"
    "iVideoBitRate=1\n"
    "iFrameRate=1\n"
    "iVideoEncoder=0\n"
    "iAudioBitRate=2\n"
    "iSampleRate=1\n"
    "iChannel=1\n"
    "iVolume=1\n"
    "iAudioEncoder=0\n"
    "paraBitExact=TRUE\n"
    "paraMaxBitrate=1500\n"
    "paraBufferSize=0\n"
    "paraLevel=30\n"
    "paraQscale=-1\n"
    "paraGop=250\n"
    "paraCoder=0\n"
    "\n"
    "[formatInfo2700]\n"
    "VideoSize=null\n"
    "VideoEncoder=null\n"
    "VideoBitRate=null\n"
    "FrameRate=null\n"
    "AudioEncoder=mp3,ogg\n"
    "SampleRate=44100,48000\n"
    "Channel=\n"
    "AudioBitRate=128,192\n"
    "Volume=100%,200%\n"
    "iAudioEncoder=1\n"
    "iAudioBitRate=1\n"
    "iVolume=9\n"
    "\n"
    "[formatInfo100]\n"
    "VideoSize=176x145,320x240\n"
    "VideoEncoder=h263\n"
    "VideoBitRate=128\n"
    "FrameRate=15\n"
    "AudioEncoder=aac\n"
    "SampleRate=8000\n"
    "Channel=mono 1 channel\n"
    "AudioBitRate=32\n"
    "Volume=100%\n";

// Stored values that no rule of the panel produces, so that "nothing stored" shows.
const char kPrevious[] =
    "[formatInfo2101]\n"
    "paraVideoSize=999x999\n"
    "iVideoSize=7\n"
    "paraVideoEncoder=prev\n"
    "iVideoEncoder=7\n"
    "paraVideoBitRate=prev\n"
    "iVideoBitRate=7\n"
    "paraFrameRate=prev\n"
    "iFrameRate=7\n"
    "paraZoom=prev\n"
    "paraSampleRate=prev\n"
    "iSampleRate=7\n"
    "paraAudioEncoder=prev\n"
    "iAudioEncoder=7\n"
    "paraChannel=prev\n"
    "iChannel=7\n"
    "paraAudioBitRate=prev\n"
    "iAudioBitRate=7\n"
    "paraVolume=prev\n"
    "iVolume=7\n";

constexpr TParamBox kVideoBoxes[] = {TParamBox::VideoSize, TParamBox::VideoEncoder,
                                     TParamBox::VideoBitRate, TParamBox::FrameRate,
                                     TParamBox::Zoom};
constexpr TParamBox kAudioBoxes[] = {TParamBox::SampleRate, TParamBox::AudioEncoder,
                                     TParamBox::Channel, TParamBox::AudioBitRate,
                                     TParamBox::Volume};

class ParameterPanelTest : public ::testing::Test {
 protected:
  ParameterPanelTest() { WriteText(formatPath_, kFormat); }

  // Replaces the settings file, loads the panel for code and forgets what was shown so far.
  void LoadWith(const std::string& settings, int code = kVideo) {
    WriteText(settingsPath_, settings);
    panel_.Load(code);
    prompt_.Clear();
  }
  std::string Stored(const char* key, int code = kVideo) const {
    return TIniFile(settingsPath_).ReadString(profiles::FormatInfoSection(code), key, "<none>");
  }
  std::vector<std::string> Messages() const { return prompt_.Texts(); }
  int Beeps() const {
    int beeps = 0;
    for (const auto& shown : prompt_.Shown()) beeps += shown.kind == "beep";
    return beeps;
  }

  testsupport::TempDir dir_;
  std::string settingsPath_ = dir_.File("settings.ini");
  std::string formatPath_ = dir_.File("format.ini");
  platform::TScriptedPrompt prompt_;
  platform::TPromptScope scope_{prompt_};
  TParameterPanel panel_{settingsPath_, formatPath_};
};

TEST(ParameterPanelRules, ValueListsSplitAndSwitchOff) {
  testsupport::TempDir dir;
  const std::string path = dir.File("format.ini");
  WriteText(path,
            "[formatInfo5]\n"
            "VideoSize=\n"
            "VideoBitRate=a,b,\n"
            "FrameRate=null\n"
            "Channel=\n"
            "Volume=100%\n");
  const TIniFile format(path);
  using List = std::optional<std::vector<std::string>>;
  const struct {
    TParamBox box;
    List expected;
  } cases[] = {
      // The first three lists are switched off only by "null"; an empty value is one entry.
      {TParamBox::VideoSize, List{{""}}},
      {TParamBox::VideoBitRate, List{{"a", "b", ""}}},
      {TParamBox::FrameRate, std::nullopt},
      // The others are switched off by an empty value too, and a missing key reads as "null".
      {TParamBox::Channel, std::nullopt},
      {TParamBox::Volume, List{{"100%"}}},
      {TParamBox::AudioEncoder, std::nullopt},
      {TParamBox::Zoom, std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(profiles::BoxInfo(c.box).listKey);
    EXPECT_EQ(profiles::ReadValueList(format, 5, c.box), c.expected);
  }
}

TEST_F(ParameterPanelTest, LoadShowsStoredValuesAndTheirDefaults) {
  // Stored texts select the equal entry or show as typed; positions select; values the section
  // lacks get the profile's defaults first and show those.
  LoadWith("[formatInfo2101]\nparaVideoSize=700x400\nparaVideoBitRate=1024\niFrameRate=1\n"
           "iVideoEncoder=3\niChannel=9\niVolume=2\n");
  EXPECT_EQ(panel_.Text(TParamBox::VideoSize), "700x400");
  EXPECT_EQ(panel_.ItemIndex(TParamBox::VideoSize), -1);
  EXPECT_EQ(panel_.ItemIndex(TParamBox::VideoBitRate), 2);
  EXPECT_EQ(panel_.Text(TParamBox::FrameRate), "29.97");
  EXPECT_EQ(panel_.Text(TParamBox::VideoEncoder), "divx");
  EXPECT_EQ(panel_.ItemIndex(TParamBox::Channel), -1);
  EXPECT_EQ(panel_.Text(TParamBox::Volume), "110%");
  EXPECT_EQ(panel_.ItemIndex(TParamBox::AudioEncoder), 0);
  EXPECT_EQ(panel_.Text(TParamBox::SampleRate), "44100");
  EXPECT_EQ(panel_.ItemIndex(TParamBox::SampleRate), 1);
  EXPECT_EQ(panel_.Text(TParamBox::AudioBitRate), "128");
  EXPECT_EQ(panel_.Entries(TParamBox::FrameRate),
            (std::vector<std::string>{"25", "29.97", "as source", ""}));
  EXPECT_EQ(panel_.Entries(TParamBox::Zoom),
            (std::vector<std::string>{"Full Screen", "Letter Box", "Pan and Scan"}));
  for (TParamBox box : kVideoBoxes) EXPECT_TRUE(panel_.Enabled(box));
  for (TParamBox box : kAudioBoxes) EXPECT_TRUE(panel_.Enabled(box));

  LoadWith("[formatInfo2101]\nparaVideoSize=641x481\n");
  EXPECT_EQ(panel_.ItemIndex(TParamBox::VideoSize), 2);
  EXPECT_EQ(panel_.Text(TParamBox::VideoBitRate), "768");

  const std::map<std::string, int> zooms = {
      {"full", 0}, {"lbox", 1}, {"pan", 2}, {"center", -1}};
  for (const auto& [stored, position] : zooms) {
    LoadWith("[formatInfo2101]\nparaZoom=" + stored + "\n");
    EXPECT_EQ(panel_.ItemIndex(TParamBox::Zoom), position) << stored;
  }
  EXPECT_TRUE(Messages().empty());
}

TEST_F(ParameterPanelTest, ProfileWithoutEncoderListsDisablesItsGroup) {
  LoadWith("[formatInfo2700]\niVolume=0\n", kAudio);
  for (TParamBox box : kVideoBoxes) EXPECT_FALSE(panel_.Enabled(box));
  for (TParamBox box : kAudioBoxes) EXPECT_TRUE(panel_.Enabled(box));  // even the empty channel
  EXPECT_TRUE(panel_.Entries(TParamBox::Channel).empty());

  // An audio encoder list that is empty switches off the audio group the same way.
  WriteText(formatPath_, "[formatInfo9]\nVideoEncoder=mpeg-4\nAudioEncoder=\nVolume=100%\n");
  LoadWith("", 9);
  for (TParamBox box : kVideoBoxes) EXPECT_TRUE(panel_.Enabled(box));
  for (TParamBox box : kAudioBoxes) EXPECT_FALSE(panel_.Enabled(box));

  // Without a section in the format file every box is off.
  LoadWith("", 4242);
  for (TParamBox box : kVideoBoxes) EXPECT_FALSE(panel_.Enabled(box));
  for (TParamBox box : kAudioBoxes) EXPECT_FALSE(panel_.Enabled(box));
}

TEST_F(ParameterPanelTest, FrameSizeIsCheckedCorrectedAndStoredOnLeave) {
  const std::string even = "Frame Size must be a multiple of 2.\nThe correct value:";
  const struct {
    const char* typed;
    const char* message;  // "" for none
    const char* shown;    // the box text afterwards
    const char* stored;   // "paraVideoSize" afterwards
    const char* position; // "iVideoSize" afterwards
  } cases[] = {
      {"641x481", "640x480", "640x480", "640x480", "2"},  // position of the text as typed
      {"643x479", "642x478", "642x478", "642x478", "0"},  // not an entry: position 0
      {"0x0", "2x2", "2x2", "2x2", "0"},
      {"1280x720", "", "1280x720", "1280x720", "0"},
      {"640x480", "", "640x480", "640x480", "1"},
      {"640", "!", "640x480", "999x999", "7"},      // invalid: second entry, nothing stored
      {"abcx240", "!", "640x480", "999x999", "7"},
      {"640x480x", "!", "640x480", "999x999", "7"}, // a second "x"
      {"As Source", "", "As Source", "999x999", "7"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.typed);
    LoadWith(kPrevious);
    panel_.SetText(TParamBox::VideoSize, c.typed);
    EXPECT_EQ(Stored("paraVideoSize"), "999x999");  // typing alone stores nothing
    panel_.Leave(TParamBox::VideoSize);

    const std::string message = c.message;
    const auto shown = prompt_.Shown();
    if (message.empty()) {
      EXPECT_TRUE(shown.empty());
    } else {
      ASSERT_EQ(shown.size(), 1u);
      if (message == "!") {
        EXPECT_EQ(shown[0].text, "Frame Size is not a valid value!");
      } else {
        EXPECT_EQ(shown[0].text, even + message);
        EXPECT_EQ(shown[0].title, "Input Error!");
      }
    }
    EXPECT_EQ(panel_.Text(TParamBox::VideoSize), c.shown);
    EXPECT_EQ(Stored("paraVideoSize"), c.stored);
    EXPECT_EQ(Stored("iVideoSize"), c.position);
  }

  // Choosing an entry stores it as listed.
  LoadWith(kPrevious);
  panel_.Select(TParamBox::VideoSize, 2);
  EXPECT_EQ(Stored("paraVideoSize"), "641x481");
  EXPECT_EQ(Stored("iVideoSize"), "2");
  EXPECT_TRUE(Messages().empty());
}

TEST_F(ParameterPanelTest, NumericBoxesAreCheckedAtEveryChange) {
  const struct {
    TParamBox box;
    const char* typed;
    const char* stored;   // text key afterwards ("prev": nothing stored)
    const char* message;  // "" for none
  } cases[] = {
      {TParamBox::VideoBitRate, "", "prev", "Video BitRate is not a valid value!"},
      {TParamBox::VideoBitRate, "1500", "1500", ""},
      {TParamBox::VideoBitRate, "as source", "as source", ""},
      {TParamBox::VideoBitRate, "1.5", "prev", "Video BitRate is not a valid value!"},
      {TParamBox::SampleRate, "48000", "48000", ""},
      {TParamBox::SampleRate, "4800a", "prev", "Audio SampleRate is not a valid value!"},
      {TParamBox::SampleRate, "As Source", "prev", "Audio SampleRate is not a valid value!"},
      {TParamBox::AudioBitRate, "96.5", "96.5", ""},
      {TParamBox::AudioBitRate, "96.", "96.", ""},
      {TParamBox::AudioBitRate, "9x", "prev", "Audio BitRate is not a valid value!"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(profiles::BoxInfo(c.box).textKey) + " " + c.typed);
    LoadWith(kPrevious);
    panel_.SetText(c.box, c.typed);
    const char* textKey = profiles::BoxInfo(c.box).textKey;
    const char* indexKey = profiles::BoxInfo(c.box).indexKey;
    EXPECT_EQ(Stored(textKey), c.stored);
    if (*c.message) {
      EXPECT_EQ(Messages(), std::vector<std::string>{c.message});
      EXPECT_EQ(panel_.ItemIndex(c.box), 1);  // reset to the second entry
      EXPECT_EQ(Stored(indexKey), "7");
    } else {
      EXPECT_TRUE(Messages().empty());
      EXPECT_EQ(Stored(indexKey), "-1");  // typed text has no position
    }
  }

  // A chosen entry is checked like typed text and stored with its position.
  LoadWith(kPrevious);
  panel_.Select(TParamBox::AudioBitRate, 3);
  EXPECT_EQ(Stored("paraAudioBitRate"), "as source");
  EXPECT_EQ(Stored("iAudioBitRate"), "3");
  // Typing replaces the selection: even an entry's text is stored without a position.
  panel_.SetText(TParamBox::AudioBitRate, "128");
  EXPECT_EQ(Stored("paraAudioBitRate"), "128");
  EXPECT_EQ(Stored("iAudioBitRate"), "-1");
}

TEST_F(ParameterPanelTest, ChosenEntriesStoreTheirMappedValues) {
  const struct {
    TParamBox box;
    int position;
    const char* stored;  // text key afterwards ("prev": left as it was)
  } cases[] = {
      {TParamBox::VideoEncoder, 0, "mpeg4"},
      {TParamBox::VideoEncoder, 1, "libx264"},  // "H264": compared without case
      {TParamBox::VideoEncoder, 3, "prev"},     // "divx" is not an encoder name
      {TParamBox::FrameRate, 1, "29.97"},
      {TParamBox::Zoom, 1, "lbox"},
      {TParamBox::Zoom, 2, "pan"},
      {TParamBox::AudioEncoder, 0, "libmp3lame"},
      {TParamBox::AudioEncoder, 2, "pcm_mulaw"},
      {TParamBox::AudioEncoder, 3, "prev"},
      {TParamBox::Channel, 0, "1"},
      {TParamBox::Channel, 1, "2"},
      {TParamBox::Channel, 2, "prev"},  // "Stereo 2 Channels": words compared exactly
      {TParamBox::Channel, 3, "as source"},
      {TParamBox::Volume, 0, "128"},
      {TParamBox::Volume, 3, "384"},
      {TParamBox::Volume, 2, "prev"},   // 110% is no step of the table
  };
  for (const auto& c : cases) {
    const profiles::TParamBoxInfo& info = profiles::BoxInfo(c.box);
    SCOPED_TRACE(std::string(info.textKey) + " " + std::to_string(c.position));
    LoadWith(kPrevious);
    panel_.Select(c.box, c.position);
    EXPECT_EQ(Stored(info.textKey), c.stored);
    if (*info.indexKey) {
      EXPECT_EQ(Stored(info.indexKey), std::to_string(c.position));
    }
    EXPECT_EQ(panel_.ItemIndex(c.box), c.position);
  }
  EXPECT_TRUE(Messages().empty());
}

TEST_F(ParameterPanelTest, H264EntryCopiesTheQualifyingExtras) {
  LoadWith(kPrevious);
  panel_.Select(TParamBox::VideoEncoder, 0);
  EXPECT_EQ(Stored("paraBitExact"), "<none>");  // only the H.264 entry copies them

  panel_.Select(TParamBox::VideoEncoder, 1);
  EXPECT_EQ(Stored("paraBitExact"), "TRUE");
  EXPECT_EQ(Stored("paraMaxBitrate"), "1500");
  EXPECT_EQ(Stored("paraBufferSize"), "<none>");  // 0
  EXPECT_EQ(Stored("paraLevel"), "30");
  EXPECT_EQ(Stored("paraQscale"), "<none>");      // -1
  EXPECT_EQ(Stored("paraGop"), "250");
  EXPECT_EQ(Stored("paraCoder"), "0");            // 0 counts here
}

TEST_F(ParameterPanelTest, KeyFilters) {
  const struct {
    TParamBox box;
    const char* text;  // the frame size text before the key
    char32_t key;
    bool accepted;
    bool numericalMessage;
  } cases[] = {
      {TParamBox::VideoSize, "", U'a', true, false},  // an empty box takes any first key
      {TParamBox::VideoSize, "64", U'0', true, false},
      {TParamBox::VideoSize, "64", U'\b', true, false},
      {TParamBox::VideoSize, "640", U'x', true, false},
      {TParamBox::VideoSize, "640x", U'x', false, false},
      {TParamBox::VideoSize, "640", U'X', false, false},
      {TParamBox::VideoSize, "640", U' ', false, false},
      {TParamBox::VideoBitRate, "", U'7', true, false},
      {TParamBox::SampleRate, "", U'\b', true, false},
      {TParamBox::AudioBitRate, "", U'.', false, true},
      {TParamBox::VideoBitRate, "", U'a', false, true},
      {TParamBox::SampleRate, "", U'é', false, true},
      {TParamBox::FrameRate, "", U'1', false, false},  // list-only boxes take no keys
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(profiles::BoxInfo(c.box).textKey) + " '" + c.text + "' " +
                 std::to_string(static_cast<unsigned>(c.key)));
    LoadWith(kPrevious);
    if (c.box == TParamBox::VideoSize) panel_.SetText(c.box, c.text);
    prompt_.Clear();
    EXPECT_EQ(panel_.KeyAccepted(c.box, c.key), c.accepted);
    const bool beeps = !c.accepted && profiles::BoxInfo(c.box).editable;
    EXPECT_EQ(Beeps(), beeps ? 1 : 0);
    EXPECT_EQ(Messages(), c.numericalMessage ? std::vector<std::string>{"Please enter numerical."}
                                             : std::vector<std::string>{});
  }
}

TEST_F(ParameterPanelTest, DefaultStoresEveryValueFromTheDefaultPositions) {
  LoadWith(kPrevious);
  panel_.SetText(TParamBox::VideoSize, "700x400");
  panel_.Default();

  const std::map<std::string, std::string> expected = {
      {"paraVideoEncoder", "mpeg4"},     {"iVideoEncoder", "0"},
      {"paraVideoSize", "640x480"},      {"iVideoSize", "1"},
      {"paraFrameRate", "29.97"},        {"iFrameRate", "1"},
      {"paraVideoBitRate", "768"},       {"iVideoBitRate", "1"},
      {"paraZoom", "full"},              {"paraAudioEncoder", "libmp3lame"},
      {"iAudioEncoder", "0"},            {"paraAudioBitRate", "128"},
      {"iAudioBitRate", "2"},            {"paraSampleRate", "44100"},
      {"iSampleRate", "1"},              {"paraChannel", "2"},
      {"iChannel", "1"},                 {"paraVolume", "256"},
      {"iVolume", "1"},
  };
  for (const auto& [key, value] : expected) EXPECT_EQ(Stored(key.c_str()), value) << key;
  EXPECT_EQ(panel_.Text(TParamBox::VideoSize), "640x480");
  EXPECT_EQ(panel_.ItemIndex(TParamBox::Zoom), 0);
  EXPECT_EQ(panel_.ItemIndex(TParamBox::Volume), 1);
  EXPECT_TRUE(Messages().empty());
}

TEST_F(ParameterPanelTest, DefaultPassesOverBoxesWithoutEntries) {
  // Video lists "null", the channel list empty, the volume default past the list's end.
  LoadWith("[formatInfo2700]\nparaVideoEncoder=\n", kAudio);
  panel_.Default();
  EXPECT_TRUE(Messages().empty());
  EXPECT_EQ(Stored("paraAudioEncoder", kAudio), "vorbis");
  EXPECT_EQ(Stored("paraAudioBitRate", kAudio), "192");
  EXPECT_EQ(Stored("paraSampleRate", kAudio), "44100");
  EXPECT_EQ(Stored("paraVideoEncoder", kAudio), "");  // still an audio-only profile
  for (const char* key : {"iVideoEncoder", "paraVideoSize", "iVideoSize", "paraVideoBitRate",
                          "paraFrameRate", "iFrameRate", "paraChannel", "iChannel",
                          "paraVolume", "iVolume"})
    EXPECT_EQ(Stored(key, kAudio), "<none>") << key;
}

TEST_F(ParameterPanelTest, LoadingAProfileWithoutValuesStoresItsDefaultsSilently) {
  panel_.Load(kVideo);  // no settings file yet
  EXPECT_TRUE(prompt_.Shown().empty());
  EXPECT_EQ(Stored("paraVideoEncoder"), "mpeg4");
  EXPECT_EQ(Stored("paraVideoSize"), "640x480");
  EXPECT_EQ(Stored("paraAudioEncoder"), "libmp3lame");
  EXPECT_EQ(Stored("paraVolume"), "256");
  EXPECT_EQ(panel_.Text(TParamBox::VideoSize), "640x480");  // the panel shows what was stored

  // Stored values are never replaced by loading again.
  panel_.Select(TParamBox::Volume, 3);
  panel_.Load(kVideo);
  EXPECT_EQ(Stored("paraVolume"), "384");
  EXPECT_EQ(panel_.ItemIndex(TParamBox::Volume), 3);

  // Defaults that the "Default" button answers with a correction are stored corrected, unseen.
  panel_.Load(kOddSize);
  EXPECT_TRUE(prompt_.Shown().empty());
  EXPECT_EQ(Stored("paraVideoSize", kOddSize), "176x144");
  EXPECT_EQ(Stored("paraVideoEncoder", kOddSize), "h263");
  panel_.Default();
  EXPECT_EQ(Messages(), std::vector<std::string>{
                            "Frame Size must be a multiple of 2.\nThe correct value:176x144"});
}

TEST_F(ParameterPanelTest, MissingValuesGetTheProfilesDefaultsAndStoredOnesStay) {
  // Whatever the section holds already, written by the panel, by kvc or by hand, stays; every
  // value it lacks gets the profile's default.
  const struct {
    const char* section;  // the settings file before
    bool stores;          // EnsureProfileValues stores something
    std::map<std::string, std::string> expected;
  } cases[] = {
      {"", true, {{"paraVideoEncoder", "mpeg4"}, {"paraVolume", "256"}, {"paraZoom", "full"},
                  {"paraVideoSize", "640x480"}, {"iAudioBitRate", "2"}}},
      // A zoom stored alone, as a run-only zoom writes it: the encoder is still stored.
      {"[formatInfo2101]\nparaZoom=lbox\n", true,
       {{"paraVideoEncoder", "mpeg4"}, {"iVideoEncoder", "0"}, {"paraZoom", "lbox"}}},
      // A section written by hand with some values.
      {"[formatInfo2101]\nparaVideoSize=320x240\nparaVolume=512\nDescription=mine\n", true,
       {{"paraVideoSize", "320x240"}, {"paraVolume", "512"}, {"paraVideoEncoder", "mpeg4"},
        {"Description", "mine"}}},
      // An empty encoder written on purpose is a value too.
      {"[formatInfo2101]\nparaVideoEncoder=\n", true, {{"paraVideoEncoder", ""}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.section);
    WriteText(settingsPath_, c.section);
    EXPECT_EQ(profiles::EnsureProfileValues(settingsPath_, formatPath_, kVideo), c.stores);
    for (const auto& [key, value] : c.expected) EXPECT_EQ(Stored(key.c_str()), value) << key;
    // Complete now: a second call stores nothing and changes nothing.
    const std::string complete = ReadText(settingsPath_);
    EXPECT_FALSE(profiles::EnsureProfileValues(settingsPath_, formatPath_, kVideo));
    EXPECT_EQ(ReadText(settingsPath_), complete);
  }
  // Defaults stored unseen show no message, even where "Default" would answer with one.
  EXPECT_TRUE(profiles::EnsureProfileValues(settingsPath_, formatPath_, kOddSize));
  EXPECT_TRUE(prompt_.Shown().empty());
}

TEST_F(ParameterPanelTest, DefaultsFollowAFormatFileEditedMeanwhile) {
  EXPECT_TRUE(profiles::EnsureProfileValues(settingsPath_, formatPath_, kVideo));
  EXPECT_EQ(Stored("paraVideoSize"), "640x480");
  // The format file changes while the program runs: a profile set up afterwards takes the new
  // default, not the one worked out before.
  std::string edited = kFormat;
  edited.replace(edited.find("iVideoSize=1"), 12, "iVideoSize=0");
  WriteText(formatPath_, edited + "; edited\n");
  WriteText(settingsPath_, "");
  EXPECT_TRUE(profiles::EnsureProfileValues(settingsPath_, formatPath_, kVideo));
  EXPECT_EQ(Stored("paraVideoSize"), "320x240");
}

}  // namespace
