#include "engine/presets.h"

#include <cstddef>

#include "platform/text.h"

namespace engine {
namespace {


// The device texts share one body; they differ in the entropy coder, partitions, B-frames and
// rates. The tail pins what the encoder would otherwise choose by itself.
#define DEVICE_HEAD(coder, partitions) \
    "coder=" coder "\n"                \
    "flags=+loop\n"                    \
    "level=30\n"                       \
    "cmp=+chroma\n"                    \
    "partitions=" partitions "\n"      \
    "me_method=umh\n"                  \
    "subq=7\n"                         \
    "me_range=16\n"                    \
    "g=250\n"                          \
    "keyint_min=25\n"                  \
    "sc_threshold=40\n"                \
    "i_qfactor=0.71\n"                 \
    "b_strategy=1\n"                   \
    "qcomp=0.6\n"                      \
    "qmin=10\n"                        \
    "qmax=51\n"                        \
    "qdiff=4\n"
#define DEVICE_MIDDLE "refs=1\n" "direct-pred=1\n" "trellis=2\n"
#define DEVICE_TAIL                                                                        \
    "bufsize=4000000\n" "bt=256000\n" "sc_threshold=40\n" "8x8dct=0\n" "weightb=0\n"    \
    "wpredp=0\n" "b-pyramid=none\n" "mixed-refs=0\n"

struct TPreset {
  const char* name;
  const char* text;
};

// The first 36 are libx264 tuning sets; the last four are device settings. The device texts pin
// what the encoder would otherwise choose by itself (B-frame pyramids, 8x8 transforms, weighted
// prediction) so that their streams stay within Main or Baseline profile, which the devices play.
// "libx264-ipod" has no B-frames for the same reason.
const TPreset kPresets[] = {
    {"libx264-baseline",
     "coder=0\n"
     "bf=0\n"
     "8x8dct=0\n"
     "weightb=0\n"
     "wpredp=0\n"},
    {"libx264-default",
     "preset=medium\n"},
    {"libx264-fast",
     "preset=fast\n"},
    {"libx264-fast_firstpass",
     "preset=fast\n"
     "fastfirstpass=1\n"},
    {"libx264-faster",
     "preset=faster\n"},
    {"libx264-faster_firstpass",
     "preset=faster\n"
     "fastfirstpass=1\n"},
    {"libx264-fastfirstpass",
     "preset=medium\n"
     "fastfirstpass=1\n"},
    {"libx264-hq",
     "preset=slow\n"},
    {"libx264-ipod320",
     "coder=0\n"
     "bf=0\n"
     "8x8dct=0\n"
     "weightb=0\n"
     "level=13\n"
     "maxrate=768000\n"
     "bufsize=3000000\n"
     "wpredp=0\n"},
    {"libx264-ipod640",
     "coder=0\n"
     "bf=0\n"
     "refs=1\n"
     "8x8dct=0\n"
     "weightb=0\n"
     "level=30\n"
     "maxrate=10000000\n"
     "bufsize=10000000\n"
     "wpredp=0\n"},
    {"libx264-lossless_fast",
     "preset=fast\n"
     "qp=0\n"},
    {"libx264-lossless_max",
     "preset=placebo\n"
     "qp=0\n"},
    {"libx264-lossless_medium",
     "preset=medium\n"
     "qp=0\n"},
    {"libx264-lossless_slow",
     "preset=slow\n"
     "qp=0\n"},
    {"libx264-lossless_slower",
     "preset=slower\n"
     "qp=0\n"},
    {"libx264-lossless_ultrafast",
     "preset=ultrafast\n"
     "qp=0\n"},
    {"libx264-main",
     "8x8dct=0\n"},
    {"libx264-max",
     "preset=placebo\n"},
    {"libx264-medium",
     "preset=medium\n"},
    {"libx264-medium_firstpass",
     "preset=medium\n"
     "fastfirstpass=1\n"},
    {"libx264-normal",
     "preset=medium\n"},
    {"libx264-placebo",
     "preset=placebo\n"},
    {"libx264-placebo_firstpass",
     "preset=placebo\n"
     "fastfirstpass=1\n"},
    {"libx264-slow",
     "preset=slow\n"},
    {"libx264-slow_firstpass",
     "preset=slow\n"
     "fastfirstpass=1\n"},
    {"libx264-slower",
     "preset=slower\n"},
    {"libx264-slower_firstpass",
     "preset=slower\n"
     "fastfirstpass=1\n"},
    {"libx264-slowfirstpass",
     "preset=medium\n"
     "fastfirstpass=0\n"},
    {"libx264-superfast",
     "preset=superfast\n"},
    {"libx264-superfast_firstpass",
     "preset=superfast\n"
     "fastfirstpass=1\n"},
    {"libx264-ultrafast",
     "preset=ultrafast\n"},
    {"libx264-ultrafast_firstpass",
     "preset=ultrafast\n"
     "fastfirstpass=1\n"},
    {"libx264-veryfast",
     "preset=veryfast\n"},
    {"libx264-veryfast_firstpass",
     "preset=veryfast\n"
     "fastfirstpass=1\n"},
    {"libx264-veryslow",
     "preset=veryslow\n"},
    {"libx264-veryslow_firstpass",
     "preset=veryslow\n"
     "fastfirstpass=1\n"},
    {"libx264-psp", DEVICE_HEAD("1", "i4x4,i8x8,p8x8,b8x8") "bf=3\n" DEVICE_MIDDLE
                        "b=1250000\n" "maxrate=1500000\n" DEVICE_TAIL},
    {"libx264-ps3", DEVICE_HEAD("1", "i4x4,i8x8,p8x8,b8x8") "bf=3\n" DEVICE_MIDDLE
                        "maxrate=3500000\n" DEVICE_TAIL},
    {"libx264-ipod", DEVICE_HEAD("0", "i4x4,i8x8,p8x8") "bf=0\n" DEVICE_MIDDLE
                         "b=1000000\n" "maxrate=1250000\n" DEVICE_TAIL},
    {"libx264-mp4", DEVICE_HEAD("1", "i4x4,i8x8,p8x8,b8x8") "bf=3\n" DEVICE_MIDDLE
                        "b=1250000\n" "maxrate=1500000\n" DEVICE_TAIL},
};

}  // namespace

const char* FindBuiltinPreset(const std::string& name) {
  for (const TPreset& preset : kPresets)
    if (platform::SameTextAscii(preset.name, name)) return preset.text;
  return nullptr;
}

const std::vector<std::string>& BuiltinPresetNames() {
  static const std::vector<std::string> names = [] {
    std::vector<std::string> result;
    for (const TPreset& preset : kPresets) result.push_back(preset.name);
    return result;
  }();
  return names;
}

const char* TargetFrameRate(TTargetNorm norm) {
  switch (norm) {
    case TTargetNorm::PAL: return "25";
    case TTargetNorm::NTSC: return "30000/1001";
    case TTargetNorm::FILM: return "24000/1001";
  }
  return "25";
}

}  // namespace engine
