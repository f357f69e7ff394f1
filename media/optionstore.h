// TOptionStore: a task's generic options ("b", "g", "preset", "muxrate", "sws_flags", ...) as
// (name, value) texts, checked against the media libraries' option tables when set and applied
// later to each new codec, container or resampler context. Set refuses unknown names and values
// no table accepts; every library object it uses for checking is freed before Set returns.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

namespace media {

class TOptionStore {
 public:
  // The kind of context an accepted option is applied to.
  enum class TTarget { Codec, Format, Scaler, Resampler };
  struct TOption {
    std::string name;
    std::string value;
    TTarget target;
  };

  // scalerFlags: the scaler flags ScalerFlags() starts from (sws_flags changes them).
  explicit TOptionStore(int scalerFlags = SWS_BICUBIC);

  // Trims both texts; refuses an empty name or value. Looks the name up, in this order, in the
  // encoders' private options, the generic codec options, the generic container options, the
  // muxers' private options, the scaler and the resampler options, and takes the first of those
  // that accepts the value (tried on a fresh context). A name none of them knows but which starts
  // with "a", "v" or "s" is tried once more, without that letter, as a generic codec option.
  // A known name whose value every table refuses is logged through the library log as
  // "Invalid value \"%s\" for option \"%s\"\n" at error level and refused; unknown names are
  // refused silently. Accepted pairs are kept in the order first set; a later value replaces the
  // earlier one, except that a flags value starting with "+" or "-" is added to it. A non-zero
  // codec "debug" or container "fdebug" sets the logger's level to llDebug. Needs the engine's
  // libraries bound.
  bool Set(const std::string& name, const std::string& value);

  // The accepted pairs, in order.
  const std::vector<TOption>& Options() const { return options_; }

  // Applies the codec options to target, in order: each pair whose option target knows (its
  // encoder's or decoder's private options first, then the generic ones) and whose option flags
  // contain all of flags (e.g. AV_OPT_FLAG_VIDEO_PARAM | AV_OPT_FLAG_ENCODING_PARAM). A name the
  // target does not know that starts with "a", "v" or "s" is applied without that letter when
  // target->codec_type is audio, video or subtitle respectively. Names the target does not know
  // are skipped; returns the names the target knew but whose value it refused.
  std::vector<std::string> CopyTo(AVCodecContext* target, int flags) const;
  // The same for the container options on a format context (its muxer's or demuxer's private
  // options first), without the letter rule.
  std::vector<std::string> CopyTo(AVFormatContext* target, int flags) const;
  // The same for the resampler options on a resampler context, before swr_init.
  std::vector<std::string> CopyTo(SwrContext* target) const;

  // The scaler flags: the constructor's, changed by an accepted sws_flags.
  int ScalerFlags() const;

  // Reads an integer codec option as a fresh generic codec context of the media type holds it
  // after CopyTo with that type's flags (e.g. "b" for the audio bit rate). False when the option
  // is not an integer codec option.
  bool CodecDefaultInt(const std::string& name, AVMediaType type, int64_t& value) const;

  // AV_OPT_FLAG_VIDEO_PARAM, AV_OPT_FLAG_AUDIO_PARAM, AV_OPT_FLAG_SUBTITLE_PARAM for video, audio
  // and subtitle; 0 for every other media type.
  static int MediaOptionFlags(int mediaType);

 private:
  std::vector<std::string> Apply(void* target, TTarget kind, int flags, int mediaType) const;
  void Store(const std::string& name, const std::string& value, TTarget kind, bool flagsType);

  int scalerFlags_;
  std::vector<TOption> options_;
};

}  // namespace media
