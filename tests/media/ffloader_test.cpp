#include "media/ffloader.h"

#include <gtest/gtest.h>

#include <link.h>

#include <filesystem>
#include <utility>
#include <vector>

#include "media/ffapi.h"
#include "media/unicodeprotocol.h"
#include "tests/support/testdirs.h"

using namespace media;
namespace fs = std::filesystem;

namespace {

// A "LibAV" folder holding one stand-in library under libavutil's real file name.
std::string LibAVWith(const testsupport::TempDir& dir, const char* fakeLibrary) {
  const std::string folder = dir.File("LibAV");
  fs::create_directories(folder);
  fs::copy_file(fakeLibrary, folder + "/libavutil.so.57");
  return folder;
}

}  // namespace

TEST(FFLoader, FileNamesFollowTheHeaderMajors) {
  TFFmpegLoader& loader = FFLoader();
  EXPECT_EQ(loader.LibraryFileName(libAVCodec), "libavcodec.so.59");
  EXPECT_EQ(loader.LibraryFileName(libAVUtil), "libavutil.so.57");
  EXPECT_EQ(loader.LibraryFileName(libSwResample), "libswresample.so.4");
  EXPECT_EQ(loader.LibraryFileName(libSDL), "libSDL2-2.0.so.0");
  loader.SetLibraryFileName(libAVCodec, "/opt/x/libavcodec-custom.so");
  EXPECT_EQ(loader.LibraryFileName(libAVCodec), "/opt/x/libavcodec-custom.so");
  loader.SetLibraryFileName(libAVCodec, "");
  EXPECT_EQ(loader.LibraryFileName(libAVCodec), "libavcodec.so.59");
}

TEST(FFLoader, FolderWithoutTheLibrariesFallsBackToSystemSearch) {
  testsupport::TempDir dir;
  TFFmpegLoader& loader = FFLoader();
  loader.LibraryPath = dir.Path();
  ASSERT_TRUE(loader.Load(PlayerLibraries)) << loader.LastErrMsg();
  EXPECT_TRUE(loader.Loaded(EngineLibraries));
  EXPECT_TRUE(loader.Loaded(PlayerLibraries));
  EXPECT_EQ(loader.LastErrMsg(), "");
  EXPECT_EQ(ff::avcodec_version() >> 16, unsigned(LIBAVCODEC_VERSION_MAJOR));
  EXPECT_TRUE(UnicodeProtocolRegistered());
  EXPECT_NE(loader.LoadedFrom(libAVUtil), "");
  EXPECT_EQ(loader.LoadedFrom(libAVUtil).rfind(dir.Path(), 0), std::string::npos);
}

TEST(FFLoader, FileMissingEverywhereNamesFolderAndFile) {
  testsupport::TempDir dir;
  TFFmpegLoader& loader = FFLoader();
  loader.LibraryPath = dir.Path();
  loader.SetLibraryFileName(libSwScale, "libswscale.so.999");
  EXPECT_FALSE(loader.Load(EngineLibraries));
  EXPECT_EQ(loader.LastErrMsg().rfind("Load library " + dir.Path() + "/libswscale.so.999 error: ", 0),
            0u)
      << loader.LastErrMsg();
  EXPECT_NE(loader.LastErrMsg().find("No such file"), std::string::npos) << loader.LastErrMsg();
  for (TLibrary lib : {libAVUtil, libSwResample, libSwScale, libAVCodec, libAVFormat})
    EXPECT_FALSE(loader.IsLoaded(lib)) << lib;
  EXPECT_EQ(ff::av_malloc, nullptr);
}

TEST(FFLoader, LoadingTwiceBindsOnce) {
  TFFmpegLoader& loader = FFLoader();
  ASSERT_TRUE(loader.Load(EngineLibraries)) << loader.LastErrMsg();
  auto* const bound = ff::av_malloc;
  ASSERT_TRUE(loader.Load(PlayerLibraries)) << loader.LastErrMsg();
  ASSERT_TRUE(loader.Load(PlayerLibraries)) << loader.LastErrMsg();
  for (TLibrary lib : {libAVCodec, libAVFormat, libAVUtil, libSwScale, libSwResample, libAVFilter,
                       libSDL})
    EXPECT_EQ(loader.BindCount(lib), 1) << loader.LibraryFileName(lib);
  EXPECT_EQ(ff::av_malloc, bound);
}

TEST(FFLoader, MissingExportFailsTheLibraryAndUnloadsTheWholeSet) {
  testsupport::TempDir dir;
  TFFmpegLoader& loader = FFLoader();
  // Another component loaded the player's set from the system first.
  ASSERT_TRUE(loader.Load(PlayerLibraries)) << loader.LastErrMsg();
  loader.UnloadLib(libAVUtil);

  loader.LibraryPath = LibAVWith(dir, FAKE_AVUTIL_MISSING);
  EXPECT_FALSE(loader.Load(EngineLibraries));
  const std::string& msg = loader.LastErrMsg();
  EXPECT_EQ(msg.rfind("Load function av_log_set_level@libavutil.so.57 error: ", 0), 0u) << msg;
  EXPECT_NE(msg.find("undefined symbol: av_log_set_level"), std::string::npos) << msg;
  for (TLibrary lib : {libAVCodec, libAVFilter, libAVFormat, libAVUtil, libSwScale, libSwResample})
    EXPECT_FALSE(loader.IsLoaded(lib)) << lib;
  EXPECT_FALSE(loader.Loaded(PlayerLibraries));
  EXPECT_TRUE(loader.IsLoaded(libSDL));  // not a member of the requested set
  EXPECT_EQ(ff::av_log, nullptr);
  EXPECT_EQ(ff::avcodec_open2, nullptr);

  // A later load from another folder may succeed.
  loader.LibraryPath = dir.File("elsewhere");
  EXPECT_TRUE(loader.Load(EngineLibraries)) << loader.LastErrMsg();
  EXPECT_EQ(loader.LastErrMsg(), msg);  // kept: success does not clear it
}

TEST(FFLoader, OtherMajorVersionIsRefused) {
  testsupport::TempDir dir;
  TFFmpegLoader& loader = FFLoader();
  loader.LibraryPath = LibAVWith(dir, FAKE_AVUTIL_OLDMAJOR);
  EXPECT_FALSE(loader.Load(EngineLibraries));
  EXPECT_EQ(loader.LastErrMsg(), "Load library " + loader.LibraryPath +
                                     "/libavutil.so.57 error: major version 56 found, version 57 "
                                     "required");
  EXPECT_FALSE(loader.IsLoaded(libAVUtil));
  EXPECT_EQ(ff::avutil_version, nullptr);
}

namespace {

// Paths of every mapped object whose file name contains the text.
std::vector<std::string> MappedObjects(const std::string& text) {
  std::vector<std::string> found;
  std::pair<std::string, std::vector<std::string>*> query(text, &found);
  dl_iterate_phdr(
      [](dl_phdr_info* info, size_t, void* data) {
        auto* pair = static_cast<std::pair<std::string, std::vector<std::string>*>*>(data);
        if (info->dlpi_name && std::string(info->dlpi_name).find(pair->first) != std::string::npos)
          pair->second->push_back(info->dlpi_name);
        return 0;
      },
      &query);
  return found;
}

}  // namespace

TEST(FFLoader, PrivateCopiesInTheFolderAreUsedAndBindToEachOther) {
  testsupport::TempDir dir;
  const std::string folder = dir.File("LibAV");
  fs::create_directories(folder);
  for (const char* name : {"libavutil.so.57", "libswresample.so.4", "libswscale.so.6",
                           "libpostproc.so.56", "libavcodec.so.59", "libavformat.so.59",
                           "libavfilter.so.8"})
    fs::copy_file(fs::canonical(std::string(FFMPEG_LIBDIR) + "/" + name), folder + "/" + name);

  TFFmpegLoader& loader = FFLoader();
  loader.LibraryPath = folder;
  ASSERT_TRUE(loader.Load(EngineLibraries)) << loader.LastErrMsg();
  for (TLibrary lib : {libAVUtil, libSwResample, libSwScale, libAVCodec, libAVFormat, libAVFilter})
    EXPECT_EQ(loader.LoadedFrom(lib), folder + "/" + loader.LibraryFileName(lib));
  // No second copy of a library came in from the system through a dependency.
  for (const char* name : {"libavutil.so", "libavcodec.so", "libswresample.so", "libpostproc.so"}) {
    const auto mapped = MappedObjects(name);
    ASSERT_EQ(mapped.size(), 1u) << name;
    EXPECT_EQ(mapped[0].rfind(folder, 0), 0u) << mapped[0];
  }
}
