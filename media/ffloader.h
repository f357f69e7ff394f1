// The process-wide loader of the media libraries (FFLoader): finds each library's file (the
// LibraryPath folder first, then the system search), binds its entry points into ff:: (ffapi.h),
// refuses a build whose major version differs from the headers', and records which libraries are
// usable. It also owns the process-wide codec lock. Used from the user-interface thread only.
#pragma once

#include <array>
#include <cstdint>
#include <initializer_list>
#include <mutex>
#include <string>

namespace media {

// The run-time libraries. The order is the bit order of sets and the order of Unload; loading
// follows the libraries' dependencies instead (LoadOrder in ffloader.cpp).
enum TLibrary : int {
  libAVCodec,
  libAVDevice,
  libAVFilter,
  libAVFormat,
  libAVUtil,
  libSwScale,
  libSwResample,
  libMSVCRT,  // the platform C library; bound trivially, callers use libc directly
  libSDL,
};
constexpr int kLibraryCount = libSDL + 1;

// A set of libraries.
class TLibraries {
 public:
  constexpr TLibraries() = default;
  constexpr TLibraries(std::initializer_list<TLibrary> libs) {
    for (TLibrary lib : libs) bits_ |= Bit(lib);
  }
  constexpr bool Contains(TLibrary lib) const { return (bits_ & Bit(lib)) != 0; }
  constexpr bool Empty() const { return bits_ == 0; }
  constexpr TLibraries operator|(TLibraries other) const { return FromBits(bits_ | other.bits_); }
  constexpr bool operator==(const TLibraries&) const = default;

 private:
  static constexpr uint32_t Bit(TLibrary lib) { return 1u << static_cast<int>(lib); }
  static constexpr TLibraries FromBits(uint32_t bits) {
    TLibraries s;
    s.bits_ = bits;
    return s;
  }
  uint32_t bits_ = 0;
};

inline constexpr TLibraries EngineLibraries{libAVCodec, libAVFilter, libAVFormat, libAVUtil,
                                            libSwScale, libSwResample, libMSVCRT};
inline constexpr TLibraries PlayerLibraries = EngineLibraries | TLibraries{libSDL};

class TFFmpegLoader {
 public:
  TFFmpegLoader();
  ~TFFmpegLoader();
  TFFmpegLoader(const TFFmpegLoader&) = delete;
  TFFmpegLoader& operator=(const TFFmpegLoader&) = delete;

  // Folder to load from ("" = system search only). Set by the components' LoadAVLib.
  std::string LibraryPath;
  // Text of the most recent failure; replaced by each failure, never cleared by success.
  const std::string& LastErrMsg() const { return lastErrMsg_; }

  // The explicit file name when one was set, else "lib" + base + ".so." + major
  // (libavcodec.so.59), or the library's fixed name when it has no version (libSDL2-2.0.so.0).
  std::string LibraryFileName(TLibrary lib) const;
  // Sets an explicit file name (may include a folder); "" goes back to the derived name.
  void SetLibraryFileName(TLibrary lib, const std::string& fileName);

  // Opens and binds one library; false with LastErrMsg on failure (the library is then released).
  // On success, also when already loaded: installs the log callback after libavutil and registers
  // the file-name protocol after libavformat.
  bool LoadLib(TLibrary lib);
  // Loads every member of a non-empty set, all or nothing: at the first failure the whole set is
  // unloaded, also members that were loaded before this call.
  bool Load(TLibraries libs);
  bool IsLoaded(TLibrary lib) const;
  bool Loaded(TLibraries libs) const;
  // Clears the library's entry points and releases its module.
  void UnloadLib(TLibrary lib);
  void Unload(TLibraries libs);

  // How many times the library's entry points were bound (diagnostics and tests).
  int BindCount(TLibrary lib) const { return status_[lib].bindCount; }
  // The full path of the file the library was loaded from ("" when not loaded).
  std::string LoadedFrom(TLibrary lib) const;

 private:
  struct Status {
    std::string fileName;  // explicit file name; empty = derived
    std::string path;      // folder + file name tried last (for messages)
    void* handle = nullptr;
    void* companion = nullptr;  // a private dependency opened from LibraryPath before this library
    bool bound = false;
    int bindCount = 0;
  };
  void* OpenModule(const std::string& folder, const std::string& file, std::string& error);
  void Bind(TLibrary lib, void* handle, const std::string& fileName);
  std::array<Status, kLibraryCount> status_;
  std::string lastErrMsg_;
};

// The one loader of the process.
TFFmpegLoader& FFLoader();

// Held around every codec open and close and stream-information probe, process-wide.
std::mutex& CodecLock();

}  // namespace media
