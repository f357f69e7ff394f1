// Command-line front end. For now it loads the media libraries the way the program does and reports
// what it found; converting, inspecting and listing profiles come with the engine and catalogue.
#include <unistd.h>

#include <cstdio>
#include <string>

#include "media/ffapi.h"
#include "media/ffloader.h"
#include "platform/mainthread.h"
#include "platform/paths.h"

namespace {

void PrintVersion(const char* name, unsigned v) {
  std::printf("  %-14s %u.%u.%u\n", name, v >> 16, (v >> 8) & 0xff, v & 0xff);
}

}  // namespace

int main(int argc, char** argv) {
  platform::SetMainThread();
  media::TFFmpegLoader& loader = media::FFLoader();
  loader.LibraryPath = platform::ExecutableFolder() + "/LibAV";
  if (!loader.Load(media::PlayerLibraries)) {
    std::fprintf(stderr, "kvc: %s\n", loader.LastErrMsg().c_str());
    return 3;
  }
  std::printf("Media libraries loaded:\n");
  PrintVersion("libavutil", ff::avutil_version());
  PrintVersion("libavcodec", ff::avcodec_version());
  PrintVersion("libavformat", ff::avformat_version());
  PrintVersion("libavfilter", ff::avfilter_version());
  PrintVersion("libswscale", ff::swscale_version());
  PrintVersion("libswresample", ff::swresample_version());
  SDL_version sdl{};
  ff::SDL_GetVersion(&sdl);
  std::printf("  %-14s %d.%d.%d\n", "SDL", sdl.major, sdl.minor, sdl.patch);
  std::printf("\nLibrary folder searched first: %s\n", loader.LibraryPath.c_str());
  std::printf("Converting (kvc convert), inspecting (kvc info) and listing profiles (kvc profiles)\n"
              "come with the engine and the profile catalogue.\n");
  (void)argc;
  (void)argv;
  return 0;
}
