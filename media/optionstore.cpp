#include "media/optionstore.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <optional>

#include "media/ffapi.h"
#include "media/fflogger.h"
#include "platform/text.h"

namespace media {
namespace {

struct CodecContextFree {
  void operator()(AVCodecContext* ctx) const { ff::avcodec_free_context(&ctx); }
};
struct FormatContextFree {
  void operator()(AVFormatContext* ctx) const { ff::avformat_free_context(ctx); }
};
struct ScalerFree {
  void operator()(SwsContext* ctx) const { ff::sws_freeContext(ctx); }
};
struct ResamplerFree {
  void operator()(SwrContext* ctx) const { ff::swr_free(&ctx); }
};
using CodecContextPtr = std::unique_ptr<AVCodecContext, CodecContextFree>;
using FormatContextPtr = std::unique_ptr<AVFormatContext, FormatContextFree>;
using ScalerPtr = std::unique_ptr<SwsContext, ScalerFree>;
using ResamplerPtr = std::unique_ptr<SwrContext, ResamplerFree>;


// The option of that name in a class (searched as a fake object, without children).
const AVOption* FindIn(const AVClass* cls, const std::string& name) {
  if (!cls) return nullptr;
  return ff::av_opt_find(&cls, name.c_str(), nullptr, 0, AV_OPT_SEARCH_FAKE_OBJ);
}

// Two options with equal signatures parse every value the same way: same type, same range and
// the same named constants. A value one of them refused need not be tried on the other (each
// refusal also puts lines into the log).
std::string Signature(const AVClass* cls, const AVOption* option) {
  char head[96];
  std::snprintf(head, sizeof head, "%d|%a|%a|", static_cast<int>(option->type), option->min,
                option->max);
  std::string signature = head;
  if (option->unit) {
    for (const AVOption* c = nullptr; (c = ff::av_opt_next(&cls, c));) {
      if (c->type == AV_OPT_TYPE_CONST && c->unit && std::strcmp(c->unit, option->unit) == 0)
        signature += std::string(c->name) + "=" + std::to_string(c->default_val.i64) + ",";
    }
  }
  return signature;
}

bool SetOn(void* obj, const std::string& name, const std::string& value, int searchFlags = 0) {
  return obj && ff::av_opt_set(obj, name.c_str(), value.c_str(), searchFlags) >= 0;
}

// The integer an option holds after setting value on obj; nullopt when refused.
std::optional<int64_t> IntAfterSet(void* obj, const std::string& name, const std::string& value) {
  int64_t result = 0;
  if (!SetOn(obj, name, value) || ff::av_opt_get_int(obj, name.c_str(), 0, &result) < 0)
    return std::nullopt;
  return result;
}

bool LetterMatches(const std::string& name, int mediaType) {
  if (name.size() < 2) return false;
  switch (name[0]) {
    case 'a': return mediaType == AVMEDIA_TYPE_AUDIO;
    case 'v': return mediaType == AVMEDIA_TYPE_VIDEO;
    case 's': return mediaType == AVMEDIA_TYPE_SUBTITLE;
    default: return false;
  }
}

// One lookup of Set: which tables know the name, and the first that accepted the value.
class Lookup {
 public:
  // Tries the value when the class knows the name and no earlier class accepted it; trial sets
  // the value on a fresh object of that class.
  void Try(const AVClass* cls, const std::string& optionName, TOptionStore::TTarget target,
           const std::function<bool()>& trial) {
    if (accepted_) return;
    const AVOption* option = FindIn(cls, optionName);
    if (!option) return;
    known_ = true;
    const std::string signature = Signature(cls, option);
    if (std::find(refused_.begin(), refused_.end(), signature) != refused_.end()) return;
    if (trial()) {
      accepted_ = target;
      flagsType_ = option->type == AV_OPT_TYPE_FLAGS;
    } else {
      refused_.push_back(signature);
    }
  }

  bool Known() const { return known_; }
  const std::optional<TOptionStore::TTarget>& Accepted() const { return accepted_; }
  bool FlagsType() const { return flagsType_; }

 private:
  bool known_ = false;
  std::optional<TOptionStore::TTarget> accepted_;
  bool flagsType_ = false;
  std::vector<std::string> refused_;
};

bool TryEncoder(const AVCodec* encoder, const std::string& name, const std::string& value) {
  CodecContextPtr ctx(ff::avcodec_alloc_context3(encoder));
  return ctx && SetOn(ctx->priv_data, name, value);
}

bool TryMuxer(const AVOutputFormat* muxer, const std::string& name, const std::string& value) {
  AVFormatContext* raw = nullptr;
  if (ff::avformat_alloc_output_context2(&raw, muxer, nullptr, nullptr) < 0) return false;
  FormatContextPtr ctx(raw);
  return SetOn(ctx->priv_data, name, value);
}

bool TryGenericCodec(const std::string& name, const std::string& value) {
  CodecContextPtr ctx(ff::avcodec_alloc_context3(nullptr));
  return SetOn(ctx.get(), name, value);
}

}  // namespace

TOptionStore::TOptionStore(int scalerFlags) : scalerFlags_(scalerFlags) {}

int TOptionStore::MediaOptionFlags(int mediaType) {
  switch (mediaType) {
    case AVMEDIA_TYPE_VIDEO: return AV_OPT_FLAG_VIDEO_PARAM;
    case AVMEDIA_TYPE_AUDIO: return AV_OPT_FLAG_AUDIO_PARAM;
    case AVMEDIA_TYPE_SUBTITLE: return AV_OPT_FLAG_SUBTITLE_PARAM;
    default: return 0;
  }
}

bool TOptionStore::Set(const std::string& rawName, const std::string& rawValue) {
  const std::string name = platform::TrimText(rawName);
  const std::string value = platform::TrimText(rawValue);
  if (name.empty() || value.empty()) return false;

  Lookup lookup;
  // Encoders' private options first: the libraries resolve a codec option the same way, and a
  // generic option of the same name (the integer "profile") would otherwise refuse values only
  // the private one understands (libx264's "profile=baseline"). Text options go first: they take
  // any value, so trying them first keeps refusals of other encoders out of the log.
  {
    std::vector<const AVCodec*> encoders;
    void* it = nullptr;
    while (const AVCodec* codec = ff::av_codec_iterate(&it)) {
      if (ff::av_codec_is_encoder(codec) && FindIn(codec->priv_class, name))
        encoders.push_back(codec);
    }
    std::stable_partition(encoders.begin(), encoders.end(), [&](const AVCodec* codec) {
      return FindIn(codec->priv_class, name)->type == AV_OPT_TYPE_STRING;
    });
    for (const AVCodec* encoder : encoders)
      lookup.Try(encoder->priv_class, name, TTarget::Codec,
                 [&] { return TryEncoder(encoder, name, value); });
  }
  lookup.Try(ff::avcodec_get_class(), name, TTarget::Codec,
             [&] { return TryGenericCodec(name, value); });
  lookup.Try(ff::avformat_get_class(), name, TTarget::Format, [&] {
    FormatContextPtr ctx(ff::avformat_alloc_context());
    return SetOn(ctx.get(), name, value);
  });
  {
    void* it = nullptr;
    while (const AVOutputFormat* muxer = ff::av_muxer_iterate(&it))
      lookup.Try(muxer->priv_class, name, TTarget::Format,
                 [&] { return TryMuxer(muxer, name, value); });
  }
  lookup.Try(ff::sws_get_class(), name, TTarget::Scaler, [&] {
    ScalerPtr ctx(ff::sws_alloc_context());
    return SetOn(ctx.get(), name, value);
  });
  lookup.Try(ff::swr_get_class(), name, TTarget::Resampler, [&] {
    ResamplerPtr ctx(ff::swr_alloc());
    return SetOn(ctx.get(), name, value);
  });
  // "vb" and the like: the generic codec option without its media letter.
  if (!lookup.Known() && (name[0] == 'a' || name[0] == 'v' || name[0] == 's') &&
      name.size() > 1) {
    const std::string rest = name.substr(1);
    lookup.Try(ff::avcodec_get_class(), rest, TTarget::Codec,
               [&] { return TryGenericCodec(rest, value); });
  }

  if (!lookup.Accepted()) {
    if (lookup.Known())
      ff::av_log(nullptr, AV_LOG_ERROR, "Invalid value \"%s\" for option \"%s\"\n", value.c_str(),
                 name.c_str());
    return false;
  }
  Store(name, value, *lookup.Accepted(), lookup.FlagsType());

  // Debug output asked for: let the debug lines through the logger.
  const TTarget target = *lookup.Accepted();
  const auto stored = std::find_if(options_.begin(), options_.end(), [&](const TOption& o) {
    return o.name == name && o.target == target;
  });
  std::optional<int64_t> debug;
  if (target == TTarget::Codec && name == "debug") {
    CodecContextPtr ctx(ff::avcodec_alloc_context3(nullptr));
    debug = IntAfterSet(ctx.get(), name, stored->value);
  } else if (target == TTarget::Format && name == "fdebug") {
    FormatContextPtr ctx(ff::avformat_alloc_context());
    debug = IntAfterSet(ctx.get(), name, stored->value);
  }
  if (debug.value_or(0) != 0) GetLogger().SetLogLevel(llDebug);
  return true;
}

void TOptionStore::Store(const std::string& name, const std::string& value, TTarget target,
                         bool flagsType) {
  for (TOption& option : options_) {
    if (option.name != name || option.target != target) continue;
    // Flags given as changes ("+bitexact", "-loop") add to what was set before.
    if (flagsType && (value[0] == '+' || value[0] == '-'))
      option.value += value;
    else
      option.value = value;
    return;
  }
  options_.push_back({name, value, target});
}

std::vector<std::string> TOptionStore::Apply(void* target, TTarget kind, int flags,
                                             int mediaType) const {
  std::vector<std::string> refused;
  if (!target) return refused;
  for (const TOption& option : options_) {
    if (option.target != kind) continue;
    std::string name = option.name;
    const AVOption* found =
        ff::av_opt_find(target, name.c_str(), nullptr, 0, AV_OPT_SEARCH_CHILDREN);
    if (!found && LetterMatches(name, mediaType)) {
      name.erase(0, 1);
      found = ff::av_opt_find(target, name.c_str(), nullptr, 0, AV_OPT_SEARCH_CHILDREN);
    }
    if (!found || (found->flags & flags) != flags) continue;
    if (!SetOn(target, name, option.value, AV_OPT_SEARCH_CHILDREN)) refused.push_back(option.name);
  }
  return refused;
}

std::vector<std::string> TOptionStore::CopyTo(AVCodecContext* target, int flags) const {
  return Apply(target, TTarget::Codec, flags, target ? target->codec_type : AVMEDIA_TYPE_UNKNOWN);
}

std::vector<std::string> TOptionStore::CopyTo(AVFormatContext* target, int flags) const {
  return Apply(target, TTarget::Format, flags, AVMEDIA_TYPE_UNKNOWN);
}

std::vector<std::string> TOptionStore::CopyTo(SwrContext* target) const {
  return Apply(target, TTarget::Resampler, 0, AVMEDIA_TYPE_UNKNOWN);
}

int TOptionStore::ScalerFlags() const {
  ScalerPtr ctx(ff::sws_alloc_context());
  if (!ctx || !SetOn(ctx.get(), "sws_flags", std::to_string(scalerFlags_))) return scalerFlags_;
  Apply(ctx.get(), TTarget::Scaler, 0, AVMEDIA_TYPE_UNKNOWN);
  int64_t flags = scalerFlags_;
  ff::av_opt_get_int(ctx.get(), "sws_flags", 0, &flags);
  return static_cast<int>(flags);
}

bool TOptionStore::CodecDefaultInt(const std::string& name, AVMediaType type,
                                   int64_t& value) const {
  CodecContextPtr ctx(ff::avcodec_alloc_context3(nullptr));
  if (!ctx) return false;
  ctx->codec_type = type;
  const AVOption* wanted = ff::av_opt_find(ctx.get(), name.c_str(), nullptr, 0, 0);
  if (!wanted) return false;
  // Only the pairs that set this very field, so other options' refusals stay out of the log.
  const int flags = MediaOptionFlags(type);
  for (const TOption& option : options_) {
    if (option.target != TTarget::Codec) continue;
    std::string optionName = option.name;
    const AVOption* found = ff::av_opt_find(ctx.get(), optionName.c_str(), nullptr, 0, 0);
    if (!found && LetterMatches(optionName, type)) {
      optionName.erase(0, 1);
      found = ff::av_opt_find(ctx.get(), optionName.c_str(), nullptr, 0, 0);
    }
    if (found && found->offset == wanted->offset && (found->flags & flags) == flags)
      SetOn(ctx.get(), optionName, option.value);
  }
  return ff::av_opt_get_int(ctx.get(), name.c_str(), 0, &value) >= 0;
}

}  // namespace media
