// kvc profiles and kvc info run as processes: the catalogue listed as text and JSON, one group,
// the defaults compared with what the parameter panel's "Default" stores, a settings folder's own
// format file; files described as text and JSON and checked against an independent reader,
// unreadable files among good ones, missing media libraries and wrong command lines.
#include <gtest/gtest.h>

#include <libavutil/version.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "platform/inifile.h"
#include "profiles/catalogue.h"
#include "profiles/parameterpanel.h"
#include "profiles/settings.h"
#include "tests/support/ffprobe.h"
#include "tests/support/testdirs.h"

namespace {

namespace fs = std::filesystem;
using nlohmann::json;
using testsupport::Fixture;

const char kSourceFormatFile[] = VC_SOURCE_DIR "/data/keltovideoformat.ini";

// The short names `profiles` lists the defaults under, with the settings key of each.
const std::pair<const char*, profiles::TParamBox> kNames[] = {
    {"size", profiles::TParamBox::VideoSize},      {"vcodec", profiles::TParamBox::VideoEncoder},
    {"vbitrate", profiles::TParamBox::VideoBitRate}, {"fps", profiles::TParamBox::FrameRate},
    {"zoom", profiles::TParamBox::Zoom},           {"rate", profiles::TParamBox::SampleRate},
    {"acodec", profiles::TParamBox::AudioEncoder}, {"channels", profiles::TParamBox::Channel},
    {"abitrate", profiles::TParamBox::AudioBitRate}, {"volume", profiles::TParamBox::Volume},
};

struct TRun {
  int status = -1;
  std::string out, err;
};

TRun Kvc(std::vector<std::string> args) {
  args.insert(args.begin(), KVC_PATH);
  TRun run;
  run.status = testsupport::RunTool(args, &run.out, &run.err);
  return run;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

json ParseJson(const std::string& text) {
  json parsed = json::parse(text, nullptr, false);
  EXPECT_FALSE(parsed.is_discarded()) << "not JSON: " << text;
  return parsed;
}

// A settings folder with a copy of the source tree's format file, so that the listing does not
// depend on a format file installed or placed beside the program.
struct TSettingsFolder {
  testsupport::TempDir dir;
  TSettingsFolder() { fs::copy_file(kSourceFormatFile, dir.File(profiles::kFormatFileName)); }
};

// What the panel's "Default" stores for a profile, by short name; only the stored values.
json StoredDefaults(const std::string& formatFile, int code) {
  const testsupport::TempDir dir;
  const std::string settingsFile = dir.File(profiles::kSettingsFileName);
  profiles::StoreProfileDefaults(settingsFile, formatFile, code);
  const profiles::TSettings settings(settingsFile);
  json defaults = json::object();
  for (const auto& [name, box] : kNames) {
    const char* key = profiles::BoxInfo(box).textKey;
    if (settings.File().ValueExists(profiles::FormatInfoSection(code), key))
      defaults[name] = settings.ProfileString(code, key, "");
  }
  return defaults;
}

// The profiles of a `profiles --json` document by code.
std::map<int, json> ProfilesByCode(const json& document) {
  std::map<int, json> byCode;
  for (const json& group : document.at("groups"))
    for (const json& profile : group.at("profiles")) byCode[profile.at("code")] = profile;
  return byCode;
}

TEST(CliProfiles, TextListsEveryGroupAndProfileWithItsDetails) {
  const TSettingsFolder folder;
  const TRun run = Kvc({"profiles", "--settings", folder.dir.Path()});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.err, "");

  const std::regex groupLine(R"(Group (\d+): (.*))");
  const std::regex codeLine(R"( *(\d+)  (\S.*))");
  std::vector<int> groups, codes;
  std::map<int, std::string> details;
  const std::vector<std::string> lines = Lines(run.out);
  for (size_t i = 0; i < lines.size(); ++i) {
    std::smatch m;
    if (std::regex_match(lines[i], m, groupLine)) {
      groups.push_back(std::stoi(m[1]));
      EXPECT_EQ(m[2], profiles::Group(groups.back()).header);
    } else if (std::regex_match(lines[i], m, codeLine)) {
      codes.push_back(std::stoi(m[1]));
      EXPECT_EQ(m[2], profiles::ProfileCaption(codes.back()));
      // The caption is followed by an indented line with extension, format and defaults.
      ASSERT_LT(i + 1, lines.size());
      EXPECT_EQ(lines[i + 1].rfind("         ", 0), 0u) << lines[i + 1];
      details[codes.back()] = lines[++i];
    } else {
      EXPECT_EQ(lines[i], "") << "unexpected line " << i;
    }
  }
  std::vector<int> allGroups(profiles::kGroupCount);
  for (int g = 0; g < profiles::kGroupCount; ++g) allGroups[g] = g;
  EXPECT_EQ(groups, allGroups);
  EXPECT_EQ(codes, profiles::AllProfileCodes());

  // A video profile shows its video values, then its audio values; a sound-only profile has no
  // video values, not even the zoom "Default" stores for it.
  EXPECT_NE(details[1].find("mp4 (ipod): "), std::string::npos) << details[1];
  EXPECT_NE(details[1].find(" fps full | "), std::string::npos) << details[1];
  EXPECT_NE(details[1].find(" Hz 2 ch "), std::string::npos) << details[1];
  EXPECT_EQ(details[2700].find('|'), std::string::npos) << details[2700];
  EXPECT_EQ(details[2700].find("full"), std::string::npos) << details[2700];
  EXPECT_EQ(details[2700].find("fps"), std::string::npos) << details[2700];
  EXPECT_NE(details[2700].find("mp3 (mp3): "), std::string::npos) << details[2700];
}

TEST(CliProfiles, GroupOptionListsThatGroupOnly) {
  const TSettingsFolder folder;
  for (const std::vector<std::string>& option :
       {std::vector<std::string>{"--group", "0"}, {"--group=13"}, {"--group", "27"}}) {
    std::vector<std::string> args = {"profiles", "--settings", folder.dir.Path(), "--json"};
    args.insert(args.end(), option.begin(), option.end());
    const TRun run = Kvc(args);
    ASSERT_EQ(run.status, 0) << run.err;
    const json document = ParseJson(run.out);
    ASSERT_EQ(document["groups"].size(), 1u) << option.back();
    const int group = document["groups"][0]["index"];
    EXPECT_EQ(option.back().substr(option.back().find_first_of("0123456789")),
              std::to_string(group));
    EXPECT_EQ(document["groups"][0]["header"], profiles::Group(group).header);
    for (const json& profile : document["groups"][0]["profiles"])
      EXPECT_EQ(profile["code"].get<int>() / 100, group);

    // The text listing names the same group only.
    args.erase(args.begin() + 3);
    const std::vector<std::string> lines = Lines(Kvc(args).out);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines[0], "Group " + std::to_string(group) + ": " + profiles::Group(group).header);
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                            [](const std::string& l) { return l.rfind("Group ", 0) == 0; }),
              1);
  }
}

TEST(CliProfiles, JsonDefaultsAreWhatDefaultStores) {
  const TSettingsFolder folder;
  const TRun run = Kvc({"profiles", "--settings", folder.dir.Path(), "--json"});
  ASSERT_EQ(run.status, 0) << run.err;
  ASSERT_EQ(Lines(run.out).size(), 1u);
  const json document = ParseJson(run.out);
  ASSERT_EQ(document["groups"].size(), static_cast<size_t>(profiles::kGroupCount));
  const std::map<int, json> byCode = ProfilesByCode(document);
  const std::vector<int> codes = profiles::AllProfileCodes();
  ASSERT_EQ(byCode.size(), codes.size());
  for (int code : codes) {
    ASSERT_EQ(byCode.count(code), 1u) << code;
    EXPECT_EQ(byCode.at(code)["caption"], profiles::ProfileCaption(code));
  }

  // H.264 video with its encoder extras, video with a sound bit rate "as source", sound only,
  // and sound only with "as source".
  const platform::TIniFile format(kSourceFormatFile);
  for (int code : {1, 1300, 2700, 2704}) {
    SCOPED_TRACE(code);
    const json& profile = byCode.at(code);
    EXPECT_EQ(profile["defaults"], StoredDefaults(kSourceFormatFile, code));
    const std::string section = profiles::FormatInfoSection(code);
    EXPECT_EQ(profile["format"], format.ReadString(section, "Format", "?"));
    EXPECT_EQ(profile["extension"], format.ReadString(section, "FileExt", "?"));
  }
  EXPECT_TRUE(byCode.at(1)["defaults"].contains("size"));
  EXPECT_FALSE(byCode.at(2700)["defaults"].contains("size"));
}

// A settings folder's own format file is the one read, and the settings file beside it is left
// alone: the defaults are stored elsewhere.
TEST(CliProfiles, SettingsFolderFormatFileIsRead) {
  const testsupport::TempDir dir;
  testsupport::WriteText(dir.File(profiles::kFormatFileName),
                         "[formatInfo0]\n"
                         "Format=avi\nFileExt=avi\n"
                         "VideoSize=176x144,352x288\niVideoSize=1\n"
                         "VideoBitRate=100,200\niVideoBitRate=1\n"
                         "FrameRate=10,12\niFrameRate=0\n"
                         "VideoEncoder=mpeg-4\niVideoEncoder=0\n"
                         "AudioBitRate=32\niAudioBitRate=0\n"
                         "SampleRate=8000\niSampleRate=0\n"
                         "AudioEncoder=mp3\niAudioEncoder=0\n"
                         "Channel=mono 1 channel\niChannel=0\n"
                         "Volume=50%\niVolume=0\n");
  const std::string settingsFile = dir.File(profiles::kSettingsFileName);
  testsupport::WriteText(settingsFile, "[formatInfo0]\nparaVideoSize=640x480\n");

  const TRun run = Kvc({"profiles", "--settings", dir.Path(), "--group", "0", "--json"});
  ASSERT_EQ(run.status, 0) << run.err;
  const std::map<int, json> byCode = ProfilesByCode(ParseJson(run.out));
  const json& own = byCode.at(0);
  EXPECT_EQ(own["format"], "avi");
  EXPECT_EQ(own["defaults"]["size"], "352x288");
  EXPECT_EQ(own["defaults"]["vbitrate"], "200");
  EXPECT_EQ(own["defaults"]["fps"], "10");
  EXPECT_EQ(own["defaults"]["volume"], "128");
  EXPECT_EQ(own["defaults"], StoredDefaults(dir.File(profiles::kFormatFileName), 0));
  // A profile the file has no section for has no format and no parameter values (only the zoom,
  // which "Default" stores for every profile).
  EXPECT_EQ(byCode.at(1)["defaults"], StoredDefaults(dir.File(profiles::kFormatFileName), 1));
  EXPECT_FALSE(byCode.at(1)["defaults"].contains("size"));
  EXPECT_FALSE(byCode.at(1)["defaults"].contains("rate"));
  EXPECT_EQ(byCode.at(1)["format"], "");

  EXPECT_EQ(testsupport::ReadText(settingsFile), "[formatInfo0]\nparaVideoSize=640x480\n");
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.Path()), fs::directory_iterator()), 2);
}

// Wrong command lines of both commands: status 2, the message names what is wrong, then the
// command's usage; nothing on standard output.
TEST(CliQuery, WrongCommandLinesAreRefused) {
  const std::string av = Fixture("av.mp4");
  const struct {
    std::vector<std::string> args;
    std::string message;
  } cases[] = {
      {{"profiles", "--group", "99"}, "--group 99"},
      {{"profiles", "--group=-1"}, "--group -1"},
      {{"profiles", "--group", "two"}, "--group two"},
      {{"profiles", "--group"}, "--group needs a value"},
      {{"profiles", "--bogus"}, "unknown option '--bogus'"},
      {{"profiles", "stray"}, "'stray'"},
      {{"profiles", "--settings", "/nonexistent/folder"}, "/nonexistent/folder"},
      {{"info"}, "no file given"},
      {{"info", "--json"}, "no file given"},
      {{"info", "--bogus", av}, "unknown option '--bogus'"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args.back());
    const TRun run = Kvc(c.args);
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err.rfind("kvc: ", 0), 0u) << run.err;
    EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("\nTry 'kvc " + c.args[0] + " --help' for more information.\n"),
              std::string::npos)
        << run.err;
    EXPECT_EQ(run.err.find("Usage:"), std::string::npos) << run.err;
  }
}

// Every stream of the sample files as an independent reader sees it: kind, codec, picture size,
// rotation and sample aspect, frame rate, sample rate, channels, language; the file's format,
// size, duration and title. The size a picture is seen at is the file's known one.
TEST(CliInfo, JsonAgreesWithIndependentReader) {
  const std::map<std::string, std::pair<int, int>> seenSizes = {{"av.mp4", {320, 240}},
                                                                {"audio.mp3", {0, 0}},
                                                                {"multi.mkv", {320, 240}},
                                                                {"phone90.mp4", {360, 640}},
                                                                {"pal_wide.mp4", {1024, 576}}};
  for (const auto& [name, seen] : seenSizes) {
    SCOPED_TRACE(name);
    const std::string file = Fixture(name);
    const TRun run = Kvc({"info", "--json", file});
    ASSERT_EQ(run.status, 0) << run.err;
    ASSERT_EQ(Lines(run.out).size(), 1u);
    const json info = ParseJson(run.out);
    const testsupport::FFprobe probe(file);
    ASSERT_TRUE(probe.Ok()) << probe.Errors();

    EXPECT_EQ(info["file"], file);
    EXPECT_EQ(info["format"], probe.FormatName());
    EXPECT_EQ(info["size"], fs::file_size(file));
    EXPECT_NEAR(info["duration"].get<double>(), probe.Duration(), 0.01);
    if (!probe.Tag("title").empty()) {
      EXPECT_EQ(info["tags"]["title"], probe.Tag("title"));
    }

    ASSERT_EQ(info["streams"].size(), probe.StreamCount());
    for (size_t i = 0; i < probe.StreamCount(); ++i) {
      SCOPED_TRACE(i);
      const json& stream = info["streams"][i];
      const json& expected = probe.Stream(i);
      EXPECT_EQ(stream["index"], i);
      EXPECT_EQ(stream["type"], probe.CodecType(i));
      EXPECT_EQ(stream["codec"], probe.CodecName(i));
      const std::string language = probe.StreamTag(i, "language");
      EXPECT_EQ(stream["language"], language.empty() ? json() : json(language));
      if (probe.CodecType(i) == "video") {
        EXPECT_EQ(stream["width"], probe.Width(i));
        EXPECT_EQ(stream["height"], probe.Height(i));
        EXPECT_EQ(stream["rotation"], probe.Rotation(i));
        EXPECT_EQ(stream["sample_aspect"], probe.SampleAspect(i));
        EXPECT_EQ(stream["display_width"], seen.first);
        EXPECT_EQ(stream["display_height"], seen.second);
        const std::string rate = expected.at("r_frame_rate");
        const size_t slash = rate.find('/');
        EXPECT_NEAR(stream["frame_rate"].get<double>(),
                    std::stod(rate.substr(0, slash)) / std::stod(rate.substr(slash + 1)), 1e-6);
      } else if (probe.CodecType(i) == "audio") {
        EXPECT_EQ(stream["sample_rate"], std::stoi(expected.at("sample_rate").get<std::string>()));
        EXPECT_EQ(stream["channels"], expected.at("channels"));
      }
    }
  }
  // The sample MP3's ID3 tags, numbers as numbers.
  const json tags = ParseJson(Kvc({"info", "--json", Fixture("audio.mp3")}).out)["tags"];
  EXPECT_EQ(tags, json({{"title", "Sample Title"},
                        {"author", "Sample Artist"},
                        {"album", "Sample Album"},
                        {"year", 2010},
                        {"track", 3}}));
}

TEST(CliInfo, TextDescribesTheStreams) {
  const TRun run = Kvc({"info", Fixture("av.mp4")});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.err, "");
  // One file: the description alone, with the terminal's line ends.
  EXPECT_EQ(run.out.rfind("File Name: " + Fixture("av.mp4") + "\n", 0), 0u) << run.out;
  EXPECT_EQ(run.out.find('\r'), std::string::npos);
  for (const char* part : {"Duration: 00:00:02.000", "Stream #0", "Video: h264", "320x240",
                           "25 fps", "Stream #1", "Audio: aac", "44100 Hz", "stereo"})
    EXPECT_NE(run.out.find(part), std::string::npos) << part << "\n" << run.out;
  // A phone's portrait clip says how it is seen.
  const TRun phone = Kvc({"info", Fixture("phone90.mp4")});
  ASSERT_EQ(phone.status, 0) << phone.err;
  EXPECT_NE(phone.out.find("640x360 [SAR 1:1 DAR 16:9], rotated 90°, display 360x640"),
            std::string::npos)
      << phone.out;
}

// A file that is no media and one that does not exist among good ones: each bad file is named on
// standard error, the good ones are still described in order, and the status is 1.
TEST(CliInfo, BadFilesFailWithoutStoppingTheOthers) {
  const std::string av = Fixture("av.mp4"), text = Fixture("notmedia.avi");
  const std::string missing = Fixture("missing-file.mp4");
  const std::string mp3 = Fixture("audio.mp3");
  for (bool asJson : {false, true}) {
    SCOPED_TRACE(asJson ? "json" : "text");
    std::vector<std::string> args = {"info", av, text, missing, mp3};
    if (asJson) args.insert(args.begin() + 1, "--json");
    const TRun run = Kvc(args);
    EXPECT_EQ(run.status, 1);
    const std::vector<std::string> errors = Lines(run.err);
    ASSERT_EQ(errors.size(), 2u) << run.err;
    EXPECT_EQ(errors[0].rfind("kvc: " + text + ": ", 0), 0u) << errors[0];
    EXPECT_EQ(errors[1].rfind("kvc: " + missing + ": ", 0), 0u) << errors[1];

    const std::vector<std::string> lines = Lines(run.out);
    if (asJson) {
      ASSERT_EQ(lines.size(), 4u) << run.out;
      std::vector<json> objects;
      for (const std::string& line : lines) objects.push_back(ParseJson(line));
      EXPECT_EQ(objects[0]["file"], av);
      EXPECT_EQ(objects[0]["streams"].size(), 2u);
      EXPECT_EQ(objects[1], json({{"file", text}, {"error", errors[0].substr(7 + text.size())}}));
      EXPECT_EQ(objects[2]["file"], missing);
      EXPECT_TRUE(objects[2]["error"].is_string());
      EXPECT_EQ(objects[3]["file"], mp3);
      EXPECT_EQ(objects[3]["format"], "mp3");
    } else {
      // Only the described files get a heading line, the second after a blank line.
      std::vector<std::string> headings;
      for (size_t i = 0; i < lines.size(); ++i) {
        if (lines[i].rfind("==> ", 0) != 0) continue;
        headings.push_back(lines[i]);
        if (i > 0) {
          EXPECT_EQ(lines[i - 1], "");
        }
      }
      EXPECT_EQ(headings, std::vector<std::string>({"==> " + av + " <==", "==> " + mp3 + " <=="}));
      EXPECT_NE(run.out.find("File Name: " + av), std::string::npos);
      EXPECT_NE(run.out.find("Video: h264"), std::string::npos);
      EXPECT_NE(run.out.find("File Name: " + mp3), std::string::npos);
    }
  }
}

// "--" ends the options: a file whose name starts with "-" is described.
TEST(CliInfo, DoubleDashEndsOptions) {
  const testsupport::TempDir dir;
  fs::copy_file(Fixture("av.mp4"), dir.File("-clip.mp4"));
  std::string out, err;
  const int status = testsupport::RunTool(
      {"sh", "-c", "cd \"$1\" && exec \"$2\" info --json -- -clip.mp4", "sh", dir.Path(), KVC_PATH},
      &out, &err);
  ASSERT_EQ(status, 0) << err;
  const json info = ParseJson(out);
  EXPECT_EQ(info["file"], "-clip.mp4");
  EXPECT_EQ(info["streams"].size(), 2u);
}

// A program whose "LibAV" folder holds a broken libavutil cannot load the media libraries:
// status 3 and the loader's message, before any file is looked at.
TEST(CliInfo, MissingMediaLibrariesExitThree) {
  // A copy of the program beside a "LibAV" folder whose libavutil is no library: the loader
  // refuses it, and neither a description nor a conversion starts.
  const testsupport::TempDir dir;
  fs::copy_file(KVC_PATH, dir.File("kvc"), fs::copy_options::overwrite_existing);
  fs::permissions(dir.File("kvc"), fs::perms::owner_exec, fs::perm_options::add);
  fs::create_directories(dir.File("LibAV"));
  fs::create_directories(dir.File("settings"));
  testsupport::WriteText(dir.File("LibAV/libavutil.so." + std::to_string(LIBAVUTIL_VERSION_MAJOR)),
                         "not a library\n");
  const std::vector<std::vector<std::string>> commands = {
      {"info", Fixture("av.mp4")},
      {"convert", "--settings", dir.File("settings"), "--out", dir.File("out"), Fixture("av.mp4")}};
  for (std::vector<std::string> args : commands) {
    SCOPED_TRACE(args[0]);
    args.insert(args.begin(), dir.File("kvc"));
    std::string out, err;
    EXPECT_EQ(testsupport::RunTool(args, &out, &err), 3);
    EXPECT_EQ(out, "");
    EXPECT_EQ(err.rfind("kvc: ", 0), 0u) << err;
    EXPECT_NE(err.find("libavutil"), std::string::npos) << err;
  }
  EXPECT_FALSE(fs::exists(dir.File("out")));
}

}  // namespace
