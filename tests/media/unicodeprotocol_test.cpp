#include "media/unicodeprotocol.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <clocale>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

#include "media/ffapi.h"
#include "media/ffloader.h"
#include "tests/support/ffprobe.h"
#include "tests/support/testdirs.h"

using namespace media;
using testsupport::Fixture;
namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

const std::string kPrefix = "unicode:utf8:";

std::string Repeat(const std::string& text, size_t times) {
  std::string out;
  for (size_t i = 0; i < times; ++i) out += text;
  return out;
}

// ---- Conversion rules ---------------------------------------------------------------------------

struct NameCase {
  std::string name;
  const char* codePage;
  bool prefixed;  // expected: "unicode:utf8:" + name; otherwise the name unchanged
};

TEST(FileNameToURL, FollowsSchemeListAndCodePage) {
  const std::vector<NameCase> cases = {
      // Names the code page holds are passed unchanged.
      {"/home/user/Videos/clip.avi", "ISO-8859-1", false},
      {"/home/user/My Videos/clip 1.avi", "CP1252", false},
      {"/home/user/café.avi", "ISO-8859-1", false},
      {"/home/user/Видео тест.mp4", "CP1251", false},
      {"/home/user/Видео тест.mp4", "UTF-8", false},
      {"", "UTF-8", false},
      // Names outside it need the prefix.
      {"/home/user/Видео тест.mp4", "ISO-8859-1", true},
      {"/home/user/Видео тест.mp4", "CP1252", true},
      {"/home/user/café.avi", "ANSI_X3.4-1968", true},
      {"/home/user/bad\xff.avi", "UTF-8", true},  // not UTF-8: cannot round-trip
      // A listed scheme passes unchanged whatever its characters.
      {"http:Видео.avi", "ISO-8859-1", false},
      {"udp:Видео", "ISO-8859-1", false},
      {"gopher:Видео", "ISO-8859-1", false},
      {"unicode:Видео", "ISO-8859-1", false},
      // Anything else is not a listed scheme and goes on to the code page test.
      {"HTTP:Видео.avi", "ISO-8859-1", true},   // exact case only
      {"https:Видео.avi", "ISO-8859-1", true},  // not in the list
      {"file:Видео.avi", "ISO-8859-1", true},
      {"ht:Видео.avi", "ISO-8859-1", true},  // part of a listed scheme
      {"tp:Видео.avi", "ISO-8859-1", true},
      {"C:Видео.avi", "ISO-8859-1", true},  // drive letter
      {"C:clip.avi", "ISO-8859-1", false},
      {":http:Видео.avi", "ISO-8859-1", true},  // colon first: no scheme
      {"/tmp/http:Видео.avi", "ISO-8859-1", true},
      // A name that looks converted already is converted once more, so it comes back whole.
      {"unicode:utf8:clip.avi", "UTF-8", true},
      // An unknown code page holds ASCII only.
      {"/home/user/clip.avi", "NO-SUCH-CODE-PAGE", false},
      {"/home/user/Видео.avi", "NO-SUCH-CODE-PAGE", true},
  };
  for (const NameCase& c : cases) {
    SCOPED_TRACE(c.name + " on " + c.codePage);
    const std::string url = FileNameToURL(c.name, c.codePage);
    EXPECT_EQ(url, c.prefixed ? kPrefix + c.name : c.name);
    EXPECT_EQ(URLToFileName(url), c.name);  // round trip
  }
}

TEST(FileNameToURL, SystemCodePageIsTheLocaleCharacterSet) {
  const std::string name = "/home/user/Видео тест.mp4";
  ASSERT_NE(std::setlocale(LC_CTYPE, "C"), nullptr);
  EXPECT_EQ(FileNameToURL(name), kPrefix + name);
  EXPECT_EQ(FileNameToURL("/home/user/clip.avi"), "/home/user/clip.avi");
  ASSERT_NE(std::setlocale(LC_CTYPE, "C.UTF-8"), nullptr);
  EXPECT_EQ(SystemCodePage(), "UTF-8");
  EXPECT_EQ(FileNameToURL(name), name);
  std::setlocale(LC_CTYPE, "C");
}

TEST(FileNameToURL, ResultsOver2047BytesAreRefused) {
  const std::string ascii2047 = "/" + std::string(2046, 'a');
  EXPECT_EQ(FileNameToURL(ascii2047, "UTF-8"), ascii2047);
  EXPECT_EQ(FileNameToURL(ascii2047 + "a", "UTF-8"), "");
  // With the prefix: 13 + 2034 bytes fit, one byte more does not.
  const std::string cyrillic2034 = "/" + Repeat("ж", 1016) + "a";
  ASSERT_EQ(cyrillic2034.size(), 2034u);
  EXPECT_EQ(FileNameToURL(cyrillic2034, "ISO-8859-1"), kPrefix + cyrillic2034);
  EXPECT_EQ(FileNameToURL(cyrillic2034 + "a", "ISO-8859-1"), "");
}

TEST(URLToFileName, StripsOnlyAWholePrefixWithSomethingAfterIt) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"unicode:utf8:a", "a"},
      {"unicode:utf8:/tmp/Видео тест.mp4", "/tmp/Видео тест.mp4"},
      {"unicode:utf8:unicode:utf8:a", "unicode:utf8:a"},  // once only
      {"unicode:utf8:", "unicode:utf8:"},                 // 13 characters
      {"Unicode:utf8:abc", "Unicode:utf8:abc"},
      {"unicode:utf16:abc", "unicode:utf16:abc"},
      {"http://127.0.0.1/a.avi", "http://127.0.0.1/a.avi"},
  };
  for (const auto& [url, name] : cases) EXPECT_EQ(URLToFileName(url), name) << url;
}

// ---- Reading and writing local files --------------------------------------------------------------

size_t OpenDescriptorCount() {
  size_t count = 0;
  for ([[maybe_unused]] const auto& entry : fs::directory_iterator("/proc/self/fd")) ++count;
  return count;
}

std::string ErrorText(int code) {
  char text[AV_ERROR_MAX_STRING_SIZE] = {};
  ff::av_strerror(code, text, sizeof text);
  return text;
}

void WriteFile(const std::string& path, const std::string& content) {
  std::ofstream(path, std::ios::binary) << content;
}

// Runs the undo action when it goes out of scope.
struct Finally {
  std::function<void()> undo;
  ~Finally() { undo(); }
};

class UnicodeProtocolIO : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(std::setlocale(LC_CTYPE, "C"), nullptr);  // ASCII: Cyrillic names get the prefix
    ASSERT_TRUE(FFLoader().Load(EngineLibraries)) << FFLoader().LastErrMsg();
  }
  testsupport::TempDir dir;
};

// Reads every packet; counts per stream. The last av_read_frame result goes to *end.
std::vector<int64_t> ReadAllPackets(AVFormatContext* ic, int* end) {
  std::vector<int64_t> counts(ic->nb_streams, 0);
  AVPacket* pkt = ff::av_packet_alloc();
  while ((*end = ff::av_read_frame(ic, pkt)) >= 0) {
    ++counts[pkt->stream_index];
    ff::av_packet_unref(pkt);
  }
  ff::av_packet_free(&pkt);
  return counts;
}

TEST_F(UnicodeProtocolIO, ReadsTheCyrillicNamedFileByNameAndByURL) {
  const std::string path = Fixture("Видео тест.mp4");
  const std::string url = FileNameToURL(path);
  ASSERT_EQ(url, kPrefix + path);
  const testsupport::FFprobe probe(path);
  ASSERT_TRUE(probe.Ok()) << probe.Errors();
  const size_t fds = OpenDescriptorCount();

  for (const std::string& given : {path, url}) {
    SCOPED_TRACE(given);
    AVFormatContext* ic = nullptr;
    ASSERT_EQ(OpenInputFile(&ic, given, nullptr, nullptr), 0);
    EXPECT_EQ(std::string(ic->url), url);
    ASSERT_GE(ff::avformat_find_stream_info(ic, nullptr), 0);
    ASSERT_EQ(ic->nb_streams, probe.StreamCount());
    EXPECT_EQ(ff::avio_size(ic->pb), static_cast<int64_t>(fs::file_size(path)));

    // The index is at the end of this file, so reading it needed seeks; every packet arrives.
    int end = 0;
    const std::vector<int64_t> counts = ReadAllPackets(ic, &end);
    EXPECT_EQ(end, AVERROR_EOF);
    for (unsigned i = 0; i < ic->nb_streams; ++i) EXPECT_EQ(counts[i], probe.NbFrames(i)) << i;

    // Back to the start and read again.
    ASSERT_GE(ff::avformat_seek_file(ic, -1, INT64_MIN, 0, 0, 0), 0);
    EXPECT_EQ(ReadAllPackets(ic, &end), counts);

    CloseInputFile(&ic);
    EXPECT_EQ(ic, nullptr);
    EXPECT_EQ(OpenDescriptorCount(), fds);
  }
}

TEST_F(UnicodeProtocolIO, OpenFailuresGiveTheErrorAndFreeEverything) {
  const std::string unreadable = dir.File("unreadable.avi");
  fs::copy_file(Fixture("av.mp4"), unreadable);
  fs::permissions(unreadable, fs::perms::none);
  struct Case {
    std::string name;
    int code;
    std::string text;
  };
  std::vector<Case> cases = {
      {dir.File("missing.avi"), -2, "No such file or directory"},
      {FileNameToURL(dir.File("Нет файла.avi")), -2, "No such file or directory"},
      {dir.Path(), AVERROR(EISDIR), "Is a directory"},
      {Fixture("notmedia.avi"), AVERROR_INVALIDDATA, "Invalid data found when processing input"},
      {Fixture("truncated.mp4"), AVERROR_INVALIDDATA, "Invalid data found when processing input"},
      {"/" + std::string(2100, 'a'), AVERROR(ENAMETOOLONG), "File name too long"},
  };
  if (::geteuid() != 0)  // permissions do not stop root
    cases.push_back({unreadable, AVERROR(EACCES), "Permission denied"});

  const size_t fds = OpenDescriptorCount();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    AVFormatContext* ic = ff::avformat_alloc_context();  // a caller's own context is freed too
    EXPECT_EQ(OpenInputFile(&ic, c.name, nullptr, nullptr), c.code);
    EXPECT_EQ(ic, nullptr);
    EXPECT_EQ(ErrorText(c.code), c.text);
    EXPECT_EQ(OpenDescriptorCount(), fds);
  }
}

// Copies every packet of the input into a new file; returns the first error, or 0.
int Remux(const std::string& input, const std::string& output, const char* format,
          const char* movflags = nullptr) {
  AVFormatContext* ic = nullptr;
  AVFormatContext* oc = nullptr;
  AVPacket* pkt = ff::av_packet_alloc();
  int first = 0;
  auto note = [&first](int ret) {
    if (ret < 0 && first == 0) first = ret;
    return ret >= 0;
  };
  bool headerWritten = false;
  if (note(OpenInputFile(&ic, input, nullptr, nullptr)) &&
      note(ff::avformat_find_stream_info(ic, nullptr)) &&
      note(ff::avformat_alloc_output_context2(&oc, nullptr, format, nullptr))) {
    for (unsigned i = 0; i < ic->nb_streams; ++i) {
      AVStream* st = ff::avformat_new_stream(oc, nullptr);
      ff::avcodec_parameters_copy(st->codecpar, ic->streams[i]->codecpar);
      st->codecpar->codec_tag = 0;
      st->time_base = ic->streams[i]->time_base;
    }
    AVDictionary* opts = nullptr;
    if (movflags) ff::av_dict_set(&opts, "movflags", movflags, 0);
    headerWritten = note(OpenOutputFile(oc, output)) && note(ff::avformat_write_header(oc, &opts));
    ff::av_dict_free(&opts);
  }
  if (headerWritten) {
    while (ff::av_read_frame(ic, pkt) >= 0) {
      ff::av_packet_rescale_ts(pkt, ic->streams[pkt->stream_index]->time_base,
                               oc->streams[pkt->stream_index]->time_base);
      if (!note(ff::av_interleaved_write_frame(oc, pkt))) break;
    }
    note(ff::av_write_trailer(oc));
  }
  note(CloseOutputFile(oc));
  ff::avformat_free_context(oc);
  CloseInputFile(&ic);
  ff::av_packet_free(&pkt);
  return first;
}

TEST_F(UnicodeProtocolIO, WritingReplacesAnExistingLargerFile) {
  struct Case {
    std::string name;
    const char* format;
    const char* movflags;
    std::string formatName;
  };
  const std::vector<Case> cases = {
      {"Выход тест.mkv", "matroska", nullptr, "matroska,webm"},
      // Moving the index to the front reads the output back by its URL in a second pass.
      {"Выход тест.mp4", "mp4", "+faststart", "mov,mp4,m4a,3gp,3g2,mj2"},
  };
  const size_t fds = OpenDescriptorCount();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string out = dir.File(c.name);
    WriteFile(out, std::string(1 << 20, 'x'));
    ASSERT_EQ(Remux(Fixture("av.mp4"), FileNameToURL(out), c.format, c.movflags), 0);
    EXPECT_LT(fs::file_size(out), 1u << 20);

    const testsupport::FFprobe probe(out, /*countFrames=*/true);
    ASSERT_TRUE(probe.Ok()) << probe.Errors();
    EXPECT_EQ(probe.FormatName(), c.formatName);
    ASSERT_EQ(probe.StreamCount(), 2u);
    EXPECT_EQ(probe.CodecName(0), "h264");
    EXPECT_EQ(probe.CodecName(1), "aac");
    EXPECT_EQ(probe.NbReadFrames(0), 50);
    EXPECT_NEAR(probe.Duration(), 2.0, 0.1);
    if (c.movflags) {
      std::ifstream in(out, std::ios::binary);
      const std::string bytes((std::istreambuf_iterator<char>(in)), {});
      EXPECT_LT(bytes.find("moov"), bytes.find("mdat"));
    }
    EXPECT_EQ(OpenDescriptorCount(), fds);
  }
}

TEST_F(UnicodeProtocolIO, WriteFailuresReachTheCaller) {
  if (!fs::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
  EXPECT_EQ(Remux(Fixture("av.mp4"), "/dev/full", "matroska"), AVERROR(ENOSPC));
  // An output folder that does not exist fails at open with the system's code.
  EXPECT_EQ(Remux(Fixture("av.mp4"), dir.File("no/such/folder/out.mkv"), "matroska"), -2);
}

// ---- No network and no other files --------------------------------------------------------------

// A TCP socket listening on an ephemeral loopback port that never accepts.
class Listener {
 public:
  Listener() {
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    if (fd_ < 0 || ::bind(fd_, reinterpret_cast<sockaddr*>(&addr), len) != 0 ||
        ::listen(fd_, 8) != 0 || ::getsockname(fd_, reinterpret_cast<sockaddr*>(&addr), &len) != 0)
      throw std::runtime_error("cannot listen on 127.0.0.1");
    port_ = ntohs(addr.sin_port);
  }
  ~Listener() { ::close(fd_); }
  int Port() const { return port_; }
  // Whether a connection arrived (a connect completes in the kernel without accept).
  bool SawConnection() const {
    pollfd p{fd_, POLLIN, 0};
    return ::poll(&p, 1, 200) > 0;
  }

 private:
  int fd_ = -1;
  int port_ = 0;
};

TEST_F(UnicodeProtocolIO, NamesLikeURLsAreLocalFiles) {
  Listener listener;
  const fs::path previous = fs::current_path();
  fs::current_path(dir.Path());
  Finally back{[&] { fs::current_path(previous); }};
  fs::copy_file(Fixture("av.mp4"), "http:x.avi");

  AVFormatContext* ic = nullptr;
  ASSERT_EQ(OpenInputFile(&ic, "http:x.avi", nullptr, nullptr), 0);
  EXPECT_EQ(ic->nb_streams, 2u);
  CloseInputFile(&ic);

  const std::string url = "http://127.0.0.1:" + std::to_string(listener.Port()) + "/x.avi";
  EXPECT_EQ(OpenInputFile(&ic, url, nullptr, nullptr), -2);
  EXPECT_FALSE(listener.SawConnection());
}

TEST_F(UnicodeProtocolIO, PlaylistsReachNeitherTheNetworkNorOtherFiles) {
  Listener listener;
  const std::string remote = "http://127.0.0.1:" + std::to_string(listener.Port()) + "/seg.ts";
  fs::copy_file(Fixture("av.mp4"), dir.File("seg.mp4"));
  auto hls = [](const std::string& segment) {
    return "#EXTM3U\n#EXT-X-VERSION:3\n#EXT-X-TARGETDURATION:2\n#EXT-X-MEDIA-SEQUENCE:0\n"
           "#EXTINF:2.0,\n" +
           segment + "\n#EXT-X-ENDLIST\n";
  };
  auto concat = [](const std::string& file) {
    return "ffconcat version 1.0\nfile '" + file + "'\n";
  };
  const std::vector<std::pair<std::string, std::string>> playlists = {
      {"remote.m3u8", hls(remote)},
      {"local.m3u8", hls("seg.mp4")},
      {"absolute.m3u8", hls(dir.File("seg.mp4"))},
      {"remote.ffconcat", concat(remote)},
      {"local.ffconcat", concat("seg.mp4")},
  };
  // Should a request get out after all, the listener never answers: the deadline ends the wait.
  struct Deadline {
    std::chrono::steady_clock::time_point at;
    static int Passed(void* self) {
      return std::chrono::steady_clock::now() > static_cast<Deadline*>(self)->at;
    }
  } deadline;
  for (const auto& [name, content] : playlists) {
    SCOPED_TRACE(name);
    WriteFile(dir.File(name), content);
    deadline.at = std::chrono::steady_clock::now() + 10s;
    AVFormatContext* ic = ff::avformat_alloc_context();
    ic->interrupt_callback = {Deadline::Passed, &deadline};
    const int ret = OpenInputFile(&ic, dir.File(name), nullptr, nullptr);
    if (ret == 0) {
      int end = 0;
      const std::vector<int64_t> counts = ReadAllPackets(ic, &end);
      for (int64_t n : counts) EXPECT_EQ(n, 0);
      CloseInputFile(&ic);
    }
  }
  EXPECT_FALSE(listener.SawConnection());
}

}  // namespace
