// The media libraries' entry points as process-wide function pointers (namespace ff), bound at run
// time by FFLoader (media/ffloader.h). Code calls ff::name(...) only after its component's loaded
// check; nothing links the libraries, so a direct call to a library function fails at link time.
// Header-inline helpers (av_q2d, av_make_q, AVERROR, av_cmp_q, AV_RL32) need no binding.
#pragma once

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavcodec/bsf.h>
#include <libavdevice/avdevice.h>
#include <libavfilter/avfilter.h>
#include <libavfilter/buffersink.h>
#include <libavfilter/buffersrc.h>
#include <libavformat/avformat.h>
#include <libavformat/avio.h>
#include <libavutil/audio_fifo.h>
#include <libavutil/avutil.h>
#include <libavutil/dict.h>
#include <libavutil/display.h>
#include <libavutil/error.h>
#include <libavutil/frame.h>
#include <libavutil/imgutils.h>
#include <libavutil/intreadwrite.h>
#include <libavutil/log.h>
#include <libavutil/mathematics.h>
#include <libavutil/mem.h>
#include <libavutil/opt.h>
#include <libavutil/parseutils.h>
#include <libavutil/pixdesc.h>
#include <libavutil/rational.h>
#include <libavutil/samplefmt.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}
#define SDL_MAIN_HANDLED
#include <SDL2/SDL.h>

namespace ff {
#define FF_FUNC(name) extern decltype(&::name) name;
#include "media/entries/avutil.inc"
#include "media/entries/swresample.inc"
#include "media/entries/swscale.inc"
#include "media/entries/avcodec.inc"
#include "media/entries/avformat.inc"
#include "media/entries/avfilter.inc"
#include "media/entries/avdevice.inc"
#include "media/entries/sdl.inc"
#undef FF_FUNC
}  // namespace ff
