#include "media/optionstore.h"

#include <gtest/gtest.h>

#include <memory>
#include <mutex>

#include "media/ffapi.h"
#include "media/ffloader.h"
#include "media/fflogger.h"
#include "platform/mainthread.h"

using namespace media;
using Strings = std::vector<std::string>;

namespace {

struct CodecContextFree {
  void operator()(AVCodecContext* ctx) const { ff::avcodec_free_context(&ctx); }
};
using CodecContextPtr = std::unique_ptr<AVCodecContext, CodecContextFree>;

CodecContextPtr EncoderContext(const char* name) {
  const AVCodec* codec = ff::avcodec_find_encoder_by_name(name);
  EXPECT_NE(codec, nullptr) << name;
  return CodecContextPtr(ff::avcodec_alloc_context3(codec));
}

std::string Get(void* obj, const char* name) {
  uint8_t* text = nullptr;
  if (ff::av_opt_get(obj, name, AV_OPT_SEARCH_CHILDREN, &text) < 0) return "<none>";
  std::string result = reinterpret_cast<char*>(text);
  ff::av_free(text);
  return result;
}

// Loads the libraries and keeps the log lines at error level and above.
class OptionStore : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::SetMainThread();
    ASSERT_TRUE(FFLoader().Load(EngineLibraries)) << FFLoader().LastErrMsg();
    GetLogger().SetLogLevel(llInfo);
    GetLogger().OnLog = [this](TFFBaseComponent*, uint32_t, TLogLevel level, const std::string& text) {
      if (level <= llError) errors.push_back(text);
    };
  }
  void TearDown() override { GetLogger().OnLog = nullptr; }

  Strings errors;
};

}  // namespace

TEST_F(OptionStore, SetAcceptsWhatSomeOptionTableTakes) {
  const struct {
    const char* name;
    const char* value;
    bool accepted;
    TOptionStore::TTarget target;
  } cases[] = {
      {"b", "1000k", true, TOptionStore::TTarget::Codec},           // generic codec
      {" g ", " 15 ", true, TOptionStore::TTarget::Codec},          // trimmed
      {"profile", "baseline", true, TOptionStore::TTarget::Codec},  // only libx264's text option
      {"preset", "slow", true, TOptionStore::TTarget::Codec},       // libx264 private
      {"coder", "1", true, TOptionStore::TTarget::Codec},           // libx264 private
      {"level", "30", true, TOptionStore::TTarget::Codec},
      {"sc_threshold", "40", true, TOptionStore::TTarget::Codec},   // private of many encoders
      {"ab", "128k", true, TOptionStore::TTarget::Codec},           // generic alias of b
      {"vb", "2000k", true, TOptionStore::TTarget::Codec},          // the letter rule: b
      {"packetsize", "2324", true, TOptionStore::TTarget::Format},  // generic container
      {"muxrate", "10080000", true, TOptionStore::TTarget::Format}, // MPEG muxers' private
      {"preload", "500000", true, TOptionStore::TTarget::Format},
      {"sws_flags", "bicubic", true, TOptionStore::TTarget::Scaler},
      {"dither_method", "triangular", true, TOptionStore::TTarget::Resampler},
      {"flags", "+bitexact", true, TOptionStore::TTarget::Codec},
      {"nosuchoption", "1", false, {}},
      {"vnosuchoption", "1", false, {}},
      {"", "1", false, {}},
      {"b", "  ", false, {}},
  };
  TOptionStore store;
  Strings accepted;
  for (const auto& c : cases) {
    EXPECT_EQ(store.Set(c.name, c.value), c.accepted) << c.name << "=" << c.value;
    if (!c.accepted) continue;
    const TOptionStore::TOption& last = store.Options().back();
    EXPECT_EQ(last.target, c.target) << c.name;
    accepted.push_back(last.name + "=" + last.value);
  }
  EXPECT_EQ(accepted, (Strings{"b=1000k", "g=15", "profile=baseline", "preset=slow", "coder=1",
                               "level=30", "sc_threshold=40", "ab=128k", "vb=2000k",
                               "packetsize=2324", "muxrate=10080000", "preload=500000",
                               "sws_flags=bicubic", "dither_method=triangular",
                               "flags=+bitexact"}));
  EXPECT_EQ(store.Options().size(), accepted.size());
  EXPECT_TRUE(errors.empty()) << errors.front();  // unknown names are refused silently
}

TEST_F(OptionStore, KnownNameWithBadValueIsLoggedAndRefused) {
  TOptionStore store;
  const struct {
    const char* name;
    const char* value;
  } cases[] = {{"b", "lots"}, {"flags2", "-wpred-dct8x8"}, {"muxrate", "fast"}, {"sws_flags", "sharp"}};
  for (const auto& c : cases) {
    errors.clear();
    EXPECT_FALSE(store.Set(c.name, c.value)) << c.name;
    ASSERT_FALSE(errors.empty()) << c.name;
    EXPECT_EQ(errors.back(),
              std::string("Invalid value \"") + c.value + "\" for option \"" + c.name + "\"");
  }
  EXPECT_TRUE(store.Options().empty());
}

TEST_F(OptionStore, LaterValuesReplaceAndFlagChangesAddUp) {
  TOptionStore store;
  ASSERT_TRUE(store.Set("g", "15"));
  ASSERT_TRUE(store.Set("flags", "+bitexact"));
  ASSERT_TRUE(store.Set("g", "250"));
  ASSERT_TRUE(store.Set("flags", "+global_header"));
  auto ctx = EncoderContext("mpeg4");
  EXPECT_TRUE(store.CopyTo(ctx.get(), AV_OPT_FLAG_VIDEO_PARAM | AV_OPT_FLAG_ENCODING_PARAM).empty());
  EXPECT_EQ(ctx->gop_size, 250);
  EXPECT_EQ(ctx->flags & (AV_CODEC_FLAG_BITEXACT | AV_CODEC_FLAG_GLOBAL_HEADER),
            AV_CODEC_FLAG_BITEXACT | AV_CODEC_FLAG_GLOBAL_HEADER);
  ASSERT_EQ(store.Options().size(), 2u);  // still in the order first set

  // A flags value without a sign sets the whole value again.
  ASSERT_TRUE(store.Set("flags", "qscale"));
  auto fresh = EncoderContext("mpeg4");
  store.CopyTo(fresh.get(), 0);
  EXPECT_EQ(fresh->flags, AV_CODEC_FLAG_QSCALE);
  EXPECT_EQ(store.Options()[1].value, "qscale");
}

TEST_F(OptionStore, CopyIntoCodecsFollowsEncoderAndMediaType) {
  TOptionStore store;
  for (const auto& [name, value] : std::vector<std::pair<const char*, const char*>>{
           {"b", "1000k"}, {"vb", "2000k"}, {"ab", "128k"}, {"profile", "baseline"},
           {"preset", "slow"}, {"coder", "0"}, {"g", "18"}, {"muxrate", "10080000"}})
    ASSERT_TRUE(store.Set(name, value)) << name;
  const int videoEncoding = AV_OPT_FLAG_VIDEO_PARAM | AV_OPT_FLAG_ENCODING_PARAM;

  // libx264 takes its private options; "vb" is "b" for video, "ab" is an audio option.
  auto x264 = EncoderContext("libx264");
  EXPECT_TRUE(store.CopyTo(x264.get(), videoEncoding).empty());
  EXPECT_EQ(Get(x264.get(), "profile"), "baseline");
  EXPECT_EQ(Get(x264.get(), "preset"), "slow");
  EXPECT_EQ(Get(x264.get(), "coder"), "0");
  EXPECT_EQ(x264->bit_rate, 2000000);
  EXPECT_EQ(x264->gop_size, 18);

  // mpeg4 does not know libx264's names and skips them; its generic integer "profile" refuses
  // "baseline", which is reported.
  auto mpeg4 = EncoderContext("mpeg4");
  EXPECT_EQ(store.CopyTo(mpeg4.get(), videoEncoding), Strings{"profile"});
  EXPECT_EQ(mpeg4->bit_rate, 2000000);
  EXPECT_EQ(mpeg4->gop_size, 18);

  // An audio encoder: "b", then "ab"; "g" is a video option.
  const int audioEncoding = AV_OPT_FLAG_AUDIO_PARAM | AV_OPT_FLAG_ENCODING_PARAM;
  auto aac = EncoderContext("aac");
  store.CopyTo(aac.get(), audioEncoding);
  EXPECT_EQ(aac->bit_rate, 128000);
  EXPECT_EQ(aac->gop_size, EncoderContext("aac")->gop_size);
  // "vb" is not for audio.
  TOptionStore videoOnly;
  ASSERT_TRUE(videoOnly.Set("vb", "2000k"));
  auto aac2 = EncoderContext("aac");
  EXPECT_TRUE(videoOnly.CopyTo(aac2.get(), audioEncoding).empty());
  EXPECT_EQ(aac2->bit_rate, EncoderContext("aac")->bit_rate);

  // A decoder with decoding flags takes none of the encoding options.
  CodecContextPtr decoder(ff::avcodec_alloc_context3(ff::avcodec_find_decoder(AV_CODEC_ID_H264)));
  EXPECT_TRUE(store.CopyTo(decoder.get(), AV_OPT_FLAG_VIDEO_PARAM | AV_OPT_FLAG_DECODING_PARAM).empty());
  CodecContextPtr untouched(ff::avcodec_alloc_context3(ff::avcodec_find_decoder(AV_CODEC_ID_H264)));
  EXPECT_EQ(decoder->bit_rate, untouched->bit_rate);

  int64_t bitRate = 0;
  ASSERT_TRUE(store.CodecDefaultInt("b", AVMEDIA_TYPE_AUDIO, bitRate));
  EXPECT_EQ(bitRate, 128000);
  ASSERT_TRUE(store.CodecDefaultInt("b", AVMEDIA_TYPE_VIDEO, bitRate));
  EXPECT_EQ(bitRate, 2000000);
  EXPECT_FALSE(store.CodecDefaultInt("nosuchoption", AVMEDIA_TYPE_VIDEO, bitRate));
}

TEST_F(OptionStore, CopyIntoContainersAndResampler) {
  TOptionStore store;
  ASSERT_TRUE(store.Set("muxrate", "10080000"));
  ASSERT_TRUE(store.Set("preload", "400000"));
  ASSERT_TRUE(store.Set("packetsize", "2048"));
  ASSERT_TRUE(store.Set("b", "1000k"));
  ASSERT_TRUE(store.Set("dither_method", "triangular"));

  AVFormatContext* dvd = nullptr;
  ASSERT_GE(ff::avformat_alloc_output_context2(&dvd, nullptr, "dvd", nullptr), 0);
  EXPECT_TRUE(store.CopyTo(dvd, AV_OPT_FLAG_ENCODING_PARAM).empty());
  EXPECT_EQ(Get(dvd, "muxrate"), "10080000");
  EXPECT_EQ(Get(dvd, "preload"), "400000");
  EXPECT_EQ(dvd->packet_size, 2048u);
  ff::avformat_free_context(dvd);

  AVFormatContext* mp4 = nullptr;  // no muxer-private muxrate: skipped
  ASSERT_GE(ff::avformat_alloc_output_context2(&mp4, nullptr, "mp4", nullptr), 0);
  EXPECT_TRUE(store.CopyTo(mp4, AV_OPT_FLAG_ENCODING_PARAM).empty());
  EXPECT_EQ(mp4->packet_size, 2048u);
  ff::avformat_free_context(mp4);

  SwrContext* swr = ff::swr_alloc();
  EXPECT_TRUE(store.CopyTo(swr).empty());
  int64_t dither = -1;
  ASSERT_GE(ff::av_opt_get_int(swr, "dither_method", 0, &dither), 0);
  EXPECT_EQ(dither, SWR_DITHER_TRIANGULAR);
  ff::swr_free(&swr);
}

TEST_F(OptionStore, ScalerFlagsStartFromTheGivenFlags) {
  EXPECT_EQ(TOptionStore().ScalerFlags(), SWS_BICUBIC);
  TOptionStore store(SWS_BILINEAR);
  EXPECT_EQ(store.ScalerFlags(), SWS_BILINEAR);
  ASSERT_TRUE(store.Set("sws_flags", "+accurate_rnd"));
  EXPECT_EQ(store.ScalerFlags(), SWS_BILINEAR | SWS_ACCURATE_RND);
  ASSERT_TRUE(store.Set("sws_flags", "lanczos"));
  EXPECT_EQ(store.ScalerFlags(), SWS_LANCZOS);
}

TEST_F(OptionStore, NonZeroDebugLetsDebugLinesThrough) {
  const struct {
    const char* name;
    const char* value;
    TLogLevel level;
  } cases[] = {{"debug", "0", llInfo}, {"fdebug", "0", llInfo}, {"debug", "mb_type", llDebug},
               {"fdebug", "ts", llDebug}, {"debug", "1", llDebug}};
  for (const auto& c : cases) {
    GetLogger().SetLogLevel(llInfo);
    TOptionStore store;
    ASSERT_TRUE(store.Set(c.name, c.value));
    EXPECT_EQ(GetLogger().LogLevel(), c.level) << c.name << "=" << c.value;
  }
}
