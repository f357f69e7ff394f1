#include "media/ffloader.h"

#include <dlfcn.h>
#include <link.h>
#include <sys/stat.h>

#include <cassert>
#include <cstdio>
#include <stdexcept>

#include "media/ffapi.h"
#include "media/ffutils.h"
#include "media/fflogger.h"
#include "media/unicodeprotocol.h"

namespace ff {
#define FF_FUNC(name) decltype(&::name) name = nullptr;
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

namespace media {
namespace {

struct EntryPoint {
  const char* name;
  void (*set)(void* address);  // stores the address (nullptr clears) in the ff:: variable
};

#define FF_FUNC(n) {#n, [](void* a) { ff::n = reinterpret_cast<decltype(ff::n)>(a); }},
const EntryPoint kAvutil[] = {
#include "media/entries/avutil.inc"
};
const EntryPoint kSwresample[] = {
#include "media/entries/swresample.inc"
};
const EntryPoint kSwscale[] = {
#include "media/entries/swscale.inc"
};
const EntryPoint kAvcodec[] = {
#include "media/entries/avcodec.inc"
};
const EntryPoint kAvformat[] = {
#include "media/entries/avformat.inc"
};
const EntryPoint kAvfilter[] = {
#include "media/entries/avfilter.inc"
};
const EntryPoint kAvdevice[] = {
#include "media/entries/avdevice.inc"
};
const EntryPoint kSdl[] = {
#include "media/entries/sdl.inc"
};
#undef FF_FUNC

// Major version of a bound library as reported by the library itself.
int SdlMajor() {
  SDL_version v{};
  ff::SDL_GetVersion(&v);
  return v.major;
}

struct LibraryItem {
  const char* baseName;
  int major;              // -1: no version suffix, fileName is used as it stands
  const char* fileName;   // fixed file name of a library without version suffix
  const EntryPoint* entries;
  size_t entryCount;
  int (*runtimeMajor)();  // nullptr: no version check
  const char* companion;  // private dependency to open from LibraryPath first, or nullptr
};

template <size_t N>
constexpr size_t Count(const EntryPoint (&)[N]) { return N; }

const LibraryItem kItems[kLibraryCount] = {
    {"avcodec", LIBAVCODEC_VERSION_MAJOR, nullptr, kAvcodec, Count(kAvcodec),
     [] { return int(ff::avcodec_version() >> 16); }, nullptr},
    {"avdevice", LIBAVDEVICE_VERSION_MAJOR, nullptr, kAvdevice, Count(kAvdevice),
     [] { return int(ff::avdevice_version() >> 16); }, nullptr},
    {"avfilter", LIBAVFILTER_VERSION_MAJOR, nullptr, kAvfilter, Count(kAvfilter),
     [] { return int(ff::avfilter_version() >> 16); }, "libpostproc.so.56"},
    {"avformat", LIBAVFORMAT_VERSION_MAJOR, nullptr, kAvformat, Count(kAvformat),
     [] { return int(ff::avformat_version() >> 16); }, nullptr},
    {"avutil", LIBAVUTIL_VERSION_MAJOR, nullptr, kAvutil, Count(kAvutil),
     [] { return int(ff::avutil_version() >> 16); }, nullptr},
    {"swscale", LIBSWSCALE_VERSION_MAJOR, nullptr, kSwscale, Count(kSwscale),
     [] { return int(ff::swscale_version() >> 16); }, nullptr},
    {"swresample", LIBSWRESAMPLE_VERSION_MAJOR, nullptr, kSwresample, Count(kSwresample),
     [] { return int(ff::swresample_version() >> 16); }, nullptr},
    {"c", -1, "libc.so.6", nullptr, 0, nullptr, nullptr},
    {"SDL2", -1, "libSDL2-2.0.so.0", kSdl, Count(kSdl), SdlMajor, nullptr},
};
constexpr int kSdlHeaderMajor = SDL_MAJOR_VERSION;

// Dependencies first, so that libraries found in LibraryPath bind to each other and not to a
// second copy from the system.
constexpr TLibrary kLoadOrder[] = {libAVUtil,  libSwResample, libSwScale,  libAVCodec, libAVFormat,
                                   libAVFilter, libAVDevice,  libMSVCRT, libSDL};

// The system's error text without trailing spaces, control characters and full stops.
std::string SystemText(const char* text) {
  std::string s = text ? text : "unknown error";
  while (!s.empty() && (static_cast<unsigned char>(s.back()) <= ' ' || s.back() == '.'))
    s.pop_back();
  return s;
}

// Flags of every dlopen. Sanitizer builds keep unloaded modules mapped: the system libraries'
// one-time allocations would otherwise be reported as leaks once their data is unmapped.
#ifdef VC_SANITIZE_BUILD
constexpr int kOpenFlags = RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE;
#else
constexpr int kOpenFlags = RTLD_NOW | RTLD_LOCAL;
#endif

bool IsRegularFile(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::string WithSlash(std::string folder) {
  if (!folder.empty() && folder.back() != '/') folder += '/';
  return folder;
}

}  // namespace

TFFmpegLoader::TFFmpegLoader() = default;

// Libraries stay loaded until the process exits: other static objects' destructors may still
// call into them.
TFFmpegLoader::~TFFmpegLoader() = default;

std::string TFFmpegLoader::LibraryFileName(TLibrary lib) const {
  if (!status_[lib].fileName.empty()) return status_[lib].fileName;
  const LibraryItem& item = kItems[lib];
  if (item.major < 0) return item.fileName;
  return std::string("lib") + item.baseName + ".so." + std::to_string(item.major);
}

void TFFmpegLoader::SetLibraryFileName(TLibrary lib, const std::string& fileName) {
  status_[lib].fileName = fileName;
}

std::string TFFmpegLoader::LoadedFrom(TLibrary lib) const {
  link_map* map = nullptr;
  if (!status_[lib].handle || dlinfo(status_[lib].handle, RTLD_DI_LINKMAP, &map) != 0 || !map)
    return {};
  return map->l_name ? map->l_name : "";
}

void* TFFmpegLoader::OpenModule(const std::string& folder, const std::string& file,
                                std::string& error) {
  const std::string full = WithSlash(folder) + file;
  const bool local = !folder.empty() && IsRegularFile(full);
  void* handle = dlopen(local ? full.c_str() : file.c_str(), kOpenFlags);
  if (!handle) error = SystemText(dlerror());
  return handle;
}

void TFFmpegLoader::Bind(TLibrary lib, void* handle, const std::string& fileName) {
  const LibraryItem& item = kItems[lib];
  auto clear = [&item] {
    for (size_t i = 0; i < item.entryCount; ++i) item.entries[i].set(nullptr);
  };
  dlerror();
  for (size_t i = 0; i < item.entryCount; ++i) {
    void* address = dlsym(handle, item.entries[i].name);
    if (!address) {
      const std::string text = SystemText(dlerror());
      clear();
      throw std::runtime_error(
          FormatText("Load function %s@%s error: %s", item.entries[i].name, fileName.c_str(),
                     text.c_str()));
    }
    item.entries[i].set(address);
  }
  // Structure layouts follow the headers' major version; another major cannot be used safely.
  if (item.runtimeMajor) {
    const int headerMajor = lib == libSDL ? kSdlHeaderMajor : item.major;
    const int found = item.runtimeMajor();
    if (found != headerMajor) {
      clear();
      throw std::runtime_error(
          FormatText("Load library %s error: major version %d found, version %d required",
                     status_[lib].path.c_str(), found, headerMajor));
    }
  }
}

bool TFFmpegLoader::LoadLib(TLibrary lib) {
  Status& st = status_[lib];
  if (!st.handle) {
    const std::string name = LibraryFileName(lib);
    const size_t slash = name.rfind('/');
    std::string folder = slash == std::string::npos ? std::string() : name.substr(0, slash + 1);
    const std::string file = slash == std::string::npos ? name : name.substr(slash + 1);
    if (folder.empty() && !LibraryPath.empty()) folder = WithSlash(LibraryPath);
    const char* companion = kItems[lib].companion;
    if (companion && !folder.empty() && IsRegularFile(folder + companion))
      st.companion = dlopen((folder + companion).c_str(), kOpenFlags);
    std::string error;
    st.handle = OpenModule(folder, file, error);
    st.path = WithSlash(folder) + file;
    if (!st.handle) {
      lastErrMsg_ = FormatText("Load library %s error: %s", (folder + file).c_str(), error.c_str());
      UnloadLib(lib);
      return false;
    }
  }
  if (!st.bound) {
    try {
      Bind(lib, st.handle, LibraryFileName(lib));
      st.bound = true;
      ++st.bindCount;
    } catch (const std::exception& e) {
      lastErrMsg_ = e.what();
    }
  }
  if (!st.bound) {
    UnloadLib(lib);
    return false;
  }
  if (lib == libAVUtil) GetLogger().InstallLogCallback();
  if (lib == libAVFormat) RegisterUnicodeProtocol();
  return true;
}

bool TFFmpegLoader::Load(TLibraries libs) {
  assert(!libs.Empty());
  for (TLibrary lib : kLoadOrder) {
    if (libs.Contains(lib) && !LoadLib(lib)) {
      Unload(libs);
      return false;
    }
  }
  return true;
}

bool TFFmpegLoader::IsLoaded(TLibrary lib) const {
  return status_[lib].handle != nullptr && status_[lib].bound;
}

bool TFFmpegLoader::Loaded(TLibraries libs) const {
  assert(!libs.Empty());
  for (int i = 0; i < kLibraryCount; ++i)
    if (libs.Contains(TLibrary(i)) && !IsLoaded(TLibrary(i))) return false;
  return true;
}

void TFFmpegLoader::UnloadLib(TLibrary lib) {
  Status& st = status_[lib];
  if (st.bound) {
    if (lib == libAVUtil) GetLogger().RemoveLogCallback();
    for (size_t i = 0; i < kItems[lib].entryCount; ++i) kItems[lib].entries[i].set(nullptr);
    st.bound = false;
  }
  if (st.handle) {
    dlclose(st.handle);
    st.handle = nullptr;
  }
  if (st.companion) {
    dlclose(st.companion);
    st.companion = nullptr;
  }
}

void TFFmpegLoader::Unload(TLibraries libs) {
  assert(!libs.Empty());
  for (int i = 0; i < kLibraryCount; ++i)
    if (libs.Contains(TLibrary(i))) UnloadLib(TLibrary(i));
}

TFFmpegLoader& FFLoader() {
  static TFFmpegLoader* loader = new TFFmpegLoader;  // lives until the process exits
  return *loader;
}

std::mutex& CodecLock() {
  static std::mutex* lock = new std::mutex;
  return *lock;
}

}  // namespace media
