// hook_bench: the cost of the custom hook's picture round trip, a 1280x720 yuv420p picture to the
// 24-bit bitmap the hook handler draws on and back, as every hooked frame of a conversion pays
// it. Prints milliseconds per frame for each direction and for the round trip.
//   hook_bench [frames]   (default 300)
#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "media/ffapi.h"
#include "media/ffloader.h"
#include "media/pictureconverter.h"

int main(int argc, char** argv) {
  const int frames = argc > 1 ? std::atoi(argv[1]) : 300;
  if (!media::FFLoader().Load(media::EngineLibraries)) {
    std::fprintf(stderr, "hook_bench: %s\n", media::FFLoader().LastErrMsg().c_str());
    return 3;
  }
  constexpr int kWidth = 1280, kHeight = 720;
  AVFrame* picture = ff::av_frame_alloc();
  picture->format = AV_PIX_FMT_YUV420P;
  picture->width = kWidth;
  picture->height = kHeight;
  if (ff::av_frame_get_buffer(picture, 0) < 0) return 1;
  // A picture with detail in every plane, so no conversion step meets only flat data.
  for (int p = 0; p < 3; ++p) {
    const int w = p ? kWidth / 2 : kWidth, h = p ? kHeight / 2 : kHeight;
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) picture->data[p][y * picture->linesize[p] + x] = uint8_t(x * 7 + y * 3 + p * 50);
  }
  media::TPictureConverter converter;
  using Clock = std::chrono::steady_clock;
  const auto toRgb = [&] {
    return media::PictureToBitmap(converter, picture->data, picture->linesize, AV_PIX_FMT_YUV420P,
                                  kHeight, kWidth);
  };
  const auto fromRgb = [&] {
    return media::BitmapToPicture(converter, picture->data, picture->linesize, AV_PIX_FMT_YUV420P,
                                  kHeight, kWidth);
  };
  for (int i = 0; i < 10; ++i) toRgb() && fromRgb();  // warm-up: scalers made, caches filled
  Clock::duration to{}, from{};
  for (int i = 0; i < frames; ++i) {
    const auto t0 = Clock::now();
    if (!toRgb()) return 1;
    const auto t1 = Clock::now();
    if (!fromRgb()) return 1;
    to += t1 - t0;
    from += Clock::now() - t1;
  }
  const auto ms = [&](Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count() / frames;
  };
  std::printf("custom hook round trip, 1280x720 yuv420p, %d frames, called from one thread\n", frames);
  std::printf("  to bitmap    %6.3f ms/frame\n", ms(to));
  std::printf("  from bitmap  %6.3f ms/frame\n", ms(from));
  std::printf("  round trip   %6.3f ms/frame\n", ms(to + from));
  ff::av_frame_free(&picture);
  return 0;
}
