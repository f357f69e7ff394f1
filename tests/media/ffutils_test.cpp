#include "media/ffutils.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <ctime>
#include <fstream>

#include "media/ffapi.h"
#include "media/ffloader.h"
#include "media/unicodeprotocol.h"
#include "tests/support/testdirs.h"

using namespace media;

namespace {

class MediaUtils : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(FFLoader().Load(EngineLibraries)) << FFLoader().LastErrMsg(); }
};

void WriteFile(const std::string& path, const std::string& content) {
  std::ofstream(path, std::ios::binary) << content;
}

}  // namespace

TEST(MediaTexts, DurationToStr) {
  const struct {
    int64_t us;
    const char* text;
  } cases[] = {
      {3723456789, "01:02:03.456"},         // 1 h 2 min 3.456789 s: milliseconds truncated
      {AV_NOPTS_VALUE, "N/A"},
      {0, "00:00:00.000"},
      {999, "00:00:00.000"},
      {1000, "00:00:00.001"},
      {59999999, "00:00:59.999"},
      {60000000, "00:01:00.000"},
      {359999999999, "99:59:59.999"},
      {360000000000, "100:00:00.000"},      // hours are not limited to two digits
      {1234LL * 3600000000 + 5000, "1234:00:00.005"},
      {-1500000, "-00:00:01.500"},
      {INT64_MAX, "2562047788:00:54.775"},
  };
  for (const auto& c : cases) EXPECT_EQ(DurationToStr(c.us), c.text) << c.us;
}

TEST(MediaTexts, FileSizeToStr) {
  const struct {
    int64_t bytes;
    const char* text;
  } cases[] = {
      {0, "0 Byte"},
      {1024, "1024 Byte"},
      {1025, "1.00 KB"},
      {1536, "1.50 KB"},
      {1048576, "1024.00 KB"},
      {1048577, "1.00 MB"},
      {1073741824, "1024.00 MB"},
      {1073741825, "1.00 GB"},
      {5LL << 30, "5.00 GB"},
      {(3LL << 40) + (1LL << 39), "3584.00 GB"},
      {-1, "-1 Byte"},
      {-5000000, "-5000000 Byte"},
  };
  for (const auto& c : cases) EXPECT_EQ(FileSizeToStr(c.bytes), c.text) << c.bytes;
}

TEST_F(MediaUtils, AVErrorToStr) {
  const struct {
    int code;
    const char* text;
  } cases[] = {
      {-2, "a.avi: No such file or directory"},
      // Every other code the system gives, in the system's words; other numbers as numbers.
      {-1, "a.avi: Operation not permitted"},
      {-4, "a.avi: Interrupted system call"},
      {AVERROR(EMFILE), "a.avi: Too many open files"},
      {-5000, "a.avi: Error number -5000 occurred"},
      {AVERROR(EACCES), "a.avi: Permission denied"},
      {AVERROR(EISDIR), "a.avi: Is a directory"},
      {AVERROR(ENOSPC), "a.avi: No space left on device"},
      {AVERROR(EFBIG), "a.avi: File too large"},
      {AVERROR(EROFS), "a.avi: Read-only file system"},
      {AVERROR(ENAMETOOLONG), "a.avi: File name too long"},
      {0, "a.avi: Error number 0 occurred"},
      {-1163346256, "a.avi: Not yet implemented in FFmpeg"},
      {-10043, "a.avi: Unsupported network protocol"},
      {AVERROR_PROTOCOL_NOT_FOUND, "a.avi: Unsupported network protocol"},
      {-42, "a.avi: Unknown format"},
      {AVERROR_DEMUXER_NOT_FOUND, "a.avi: Unknown format"},
      {AVERROR_MUXER_NOT_FOUND, "a.avi: Unknown format"},
      {-33, "a.avi: Number syntax expected in filename"},
      {-32, "a.avi: End of file"},
      {AVERROR_EOF, "a.avi: End of file"},
      {-22, "a.avi: Invalid data found when processing input"},
      {AVERROR_INVALIDDATA, "a.avi: Invalid data found when processing input"},
      {-12, "a.avi: Not enough memory"},
      {-5, "a.avi: I/O error"},
  };
  for (const auto& c : cases) EXPECT_EQ(AVErrorToStr("a.avi", c.code), c.text) << c.code;

  // The codes opening a text file, a missing file and a folder really give.
  testsupport::TempDir dir;
  WriteFile(dir.File("notes.txt"), "these are not the frames you are looking for\n");
  const struct {
    std::string file;
    const char* text;
  } opens[] = {{dir.File("notes.txt"), ": Invalid data found when processing input"},
               {dir.File("missing.avi"), ": No such file or directory"},
               {dir.Path(), ": Is a directory"}};
  for (const auto& o : opens) {
    AVFormatContext* ctx = nullptr;
    const int code = OpenInputFile(&ctx, o.file, nullptr, nullptr);
    ASSERT_LT(code, 0);
    EXPECT_EQ(AVErrorToStr(o.file, code), o.file + o.text);
  }
}

TEST_F(MediaUtils, GetCodecName) {
  const struct {
    AVCodecID id;
    uint32_t tag;
    bool encoder;
    const char* text;
  } cases[] = {
      {AV_CODEC_ID_H264, 0, false, "h264(H.264 / AVC / MPEG-4 AVC / MPEG-4 part 10)"},
      {AV_CODEC_ID_H264, 0, true, "libx264(libx264 H.264 / AVC / MPEG-4 AVC / MPEG-4 part 10)"},
      {AV_CODEC_ID_MPEG4, MKTAG('X', 'V', 'I', 'D'), false, "mpeg4(MPEG-4 part 2)"},
      // No such codec in this direction: the id's own name.
      {AV_CODEC_ID_VP6, 0, true, "vp6"},
      // The transport stream id has its fixed name, not the library's "mpegts".
      {AV_CODEC_ID_MPEG2TS, 0, false, "mpeg2ts"},
      // No codec id at all: the tag, lowest byte first.
      {AV_CODEC_ID_NONE, MKTAG('X', 'V', 'I', 'D'), false, "XVID / 0x44495658"},
      {AV_CODEC_ID_NONE, MKTAG('d', 'x', '5', '0'), true, "dx50 / 0x30357864"},
      {AV_CODEC_ID_NONE, MKTAG('a', 'b', 'c', 0x7f), false, "0x7f636261"},
      {AV_CODEC_ID_NONE, 0x01, false, "0x0001"},
      {AV_CODEC_ID_NONE, 0, false, "0x0000"},
  };
  for (const auto& c : cases) {
    AVCodecParameters par{};
    par.codec_id = c.id;
    par.codec_tag = c.tag;
    EXPECT_EQ(GetCodecName(&par, c.encoder), c.text) << c.id << " " << c.tag;
  }
  AVCodecContext* ctx = ff::avcodec_alloc_context3(ff::avcodec_find_decoder(AV_CODEC_ID_H264));
  EXPECT_EQ(GetCodecName(ctx, false), "h264(H.264 / AVC / MPEG-4 AVC / MPEG-4 part 10)");
  ff::avcodec_free_context(&ctx);
}

TEST_F(MediaUtils, GetMetadataValueMatchesWholeKeysIgnoringCase) {
  AVDictionary* dict = nullptr;
  ff::av_dict_set(&dict, "Title", "Holiday", 0);
  ff::av_dict_set(&dict, "artist", "Someone", 0);
  EXPECT_EQ(GetMetadataValue(dict, "title", "-"), "Holiday");
  EXPECT_EQ(GetMetadataValue(dict, "ARTIST", "-"), "Someone");
  EXPECT_EQ(GetMetadataValue(dict, "tit", "-"), "-");
  EXPECT_EQ(GetMetadataValue(dict, "titles", "-"), "-");
  EXPECT_EQ(GetMetadataValue(dict, "album"), "");
  EXPECT_EQ(GetMetadataValue(nullptr, "title", "none"), "none");
  ff::av_dict_free(&dict);
}

TEST(MediaTexts, MediaTypeName) {
  const char* const expected[] = {"Unknown", "Video",      "Audio",  "Data",
                                  "Subtitle", "Attachment", "Unknown"};
  for (int type = -1; type <= 5; ++type) EXPECT_EQ(MediaTypeName(type), expected[type + 1]);
}

TEST(MediaFiles, ReadWholeFileAndGetFileSize) {
  testsupport::TempDir dir;
  WriteFile(dir.File("data.bin"), std::string("ab\0c", 4));
  WriteFile(dir.File("empty"), "");
  const struct {
    std::string name;
    int result;
    std::vector<uint8_t> buffer;
    int64_t size;
  } cases[] = {
      {dir.File("data.bin"), 0, {'a', 'b', 0, 'c', 0}, 4},
      {dir.File("empty"), 0, {0}, 0},
      {dir.File("missing"), -1, {}, -1},
      {dir.Path(), -1, {}, -1},  // a folder counts as missing
  };
  for (const auto& c : cases) {
    std::vector<uint8_t> buffer{1, 2, 3};
    EXPECT_EQ(ReadWholeFile(c.name, buffer), c.result) << c.name;
    EXPECT_EQ(buffer, c.buffer) << c.name;
    EXPECT_EQ(GetFileSize(c.name), c.size) << c.name;
  }
}

TEST_F(MediaUtils, Rationals) {
  const struct {
    AVRational a, b;
    int sign;
  } compares[] = {{{1, 2}, {2, 4}, 0},
                  {{1, 3}, {1, 2}, -1},
                  {{30000, 1001}, {2997, 100}, 1},
                  {{INT_MAX, 1}, {INT_MAX - 1, 1}, 1},  // products beyond 32 bits
                  {{1, INT_MAX}, {1, INT_MAX - 1}, -1}};
  for (const auto& c : compares) {
    EXPECT_EQ(RationalCompare(c.a, c.b), c.sign) << c.a.num << "/" << c.a.den;
    EXPECT_EQ(RationalCompare(c.b, c.a), -c.sign);
  }
  EXPECT_DOUBLE_EQ(RationalToReal({30000, 1001}), 30000.0 / 1001.0);
  EXPECT_DOUBLE_EQ(RationalToReal({-3, 4}), -0.75);

  const struct {
    double value;
    int max;
    AVRational q;
  } approximations[] = {{0.5, 100, {1, 2}},
                        {29.97, 100000, {2997, 100}},
                        {1.0 / 3, 10, {1, 3}},
                        {3.14159265358979, 1000, {355, 113}},
                        {-2.5, 10, {-5, 2}},
                        {25, 65535, {25, 1}}};
  for (const auto& a : approximations) {
    const AVRational q = RealToRational(a.value, a.max);
    EXPECT_EQ(q.num, a.q.num) << a.value;
    EXPECT_EQ(q.den, a.q.den) << a.value;
  }
}

TEST(MediaTexts, ClipAndSplitString) {
  EXPECT_EQ(Clip(-5, 0, 10), 0);
  EXPECT_EQ(Clip(11, 0, 10), 10);
  EXPECT_EQ(Clip(7, 0, 10), 7);
  EXPECT_EQ(Clip(INT64_MAX, INT_MIN, INT_MAX), INT_MAX);
  EXPECT_EQ(Clip(INT64_MIN, INT_MIN, INT_MAX), INT_MIN);

  const struct {
    const char* text;
    const char* separator;
    bool remove;
    const char* part;
    const char* rest;
  } cases[] = {
      {"key=value=more", "=", true, "key", "value=more"},
      {"key=value=more", "=", false, "key", "key=value=more"},
      {"no separator", "=", true, "no separator", ""},
      {"no separator", "=", false, "no separator", "no separator"},
      {"=value", "=", true, "", "value"},
      {"key=", "=", true, "key", ""},
      {"a::b::c", "::", true, "a", "b::c"},
      {"a|b", "", true, "a|b", ""},
      {"", "=", true, "", ""},
  };
  for (const auto& c : cases) {
    std::string text = c.text;
    EXPECT_EQ(SplitString(text, c.separator, c.remove), c.part) << c.text;
    EXPECT_EQ(text, c.rest) << c.text;
  }
}

TEST(MediaTexts, UnixToLocalDateTime) {
  const struct {
    const char* tz;
    int64_t seconds;
    double days;
  } cases[] = {{"UTC0", 0, 25569.0},
               {"UTC0", 86400 + 43200, 25570.5},
               {"XST-2", 0, 25569.0 + 2.0 / 24},   // two hours east of UTC
               {"XST+5", 3600, 25569.0 - 4.0 / 24}};
  for (const auto& c : cases) {
    setenv("TZ", c.tz, 1);
    tzset();
    EXPECT_NEAR(UnixToLocalDateTime(c.seconds), c.days, 1e-9) << c.tz << " " << c.seconds;
  }
  unsetenv("TZ");
  tzset();
}
