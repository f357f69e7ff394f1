#include "batch/snapshots.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <random>

// libjpeg's header needs size_t and FILE declared first.
#include <jpeglib.h>

#include "batch/outputnames.h"
#include "profiles/settings.h"

namespace batch {

namespace {

// libjpeg reports a fatal error through error_exit, which must not return: it jumps back to the
// compressing function with the library's message.
struct TJpegError {
  jpeg_error_mgr manager;
  std::jmp_buf jump;
  char message[JMSG_LENGTH_MAX];
};

void OnJpegError(j_common_ptr info) {
  auto* error = reinterpret_cast<TJpegError*>(info->err);
  (*info->err->format_message)(info, error->message);
  std::longjmp(error->jump, 1);
}

// Compresses into a buffer libjpeg allocates (*buffer, freed by the caller with free()). Only
// plain data lives in this frame, so the jump back from an error skips no destructor. `row` holds
// one RGB scanline.
bool Compress(const media::TBitmap& bitmap, int quality, unsigned char** buffer,
              unsigned long* size, TJpegError* error, JSAMPLE* row) {
  jpeg_compress_struct info;
  info.err = jpeg_std_error(&error->manager);
  error->manager.error_exit = OnJpegError;
  error->message[0] = '\0';
  if (setjmp(error->jump)) {
    jpeg_destroy_compress(&info);
    return false;
  }
  jpeg_create_compress(&info);
  jpeg_mem_dest(&info, buffer, size);
  info.image_width = static_cast<JDIMENSION>(bitmap.Width());
  info.image_height = static_cast<JDIMENSION>(bitmap.Height());
  info.input_components = 3;
  info.in_color_space = JCS_RGB;
  jpeg_set_defaults(&info);
  jpeg_set_quality(&info, quality, TRUE);
  jpeg_start_compress(&info, TRUE);
  while (info.next_scanline < info.image_height) {
    // Stored B, G, R; the encoder takes R, G, B.
    const uint8_t* bgr = bitmap.ScanLine(static_cast<int>(info.next_scanline));
    for (int x = 0; x < bitmap.Width(); ++x) {
      row[x * 3] = bgr[x * 3 + 2];
      row[x * 3 + 1] = bgr[x * 3 + 1];
      row[x * 3 + 2] = bgr[x * 3];
    }
    JSAMPROW rows[1] = {row};
    jpeg_write_scanlines(&info, rows, 1);
  }
  jpeg_finish_compress(&info);
  jpeg_destroy_compress(&info);
  return true;
}

std::string SystemReason(int error) { return std::strerror(error); }

// Creates a new, empty file in `folder`, named after `name` as no other file is, and returns its
// path ("" with errno set when it cannot). The name starts with a dot, so a file manager does not
// show it while it is being written.
std::string CreateTemporaryBeside(const std::string& folder, const std::string& name) {
  static std::atomic<unsigned> counter{0};
  std::random_device random;
  for (int attempt = 0; attempt < 100; ++attempt) {
    char suffix[32];
    std::snprintf(suffix, sizeof suffix, ".%d.%u.%08x", static_cast<int>(::getpid()),
                  counter++, random());
    const std::string temporary = folder + "/." + name + suffix;
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0) {
      ::close(fd);
      return temporary;
    }
    if (errno != EEXIST) return "";
  }
  errno = EEXIST;
  return "";
}

// Writes one file through `write` (which fills the temporary file it is given and returns false,
// errno set where it can, when it fails) and renames it to folder/name. "" on success; else why
// not.
std::string WriteReplacing(const std::string& folder, const std::string& name,
                           const std::function<bool(const std::string&)>& write) {
  const std::string path = folder + "/" + name;
  const std::string temporary = CreateTemporaryBeside(folder, name);
  if (temporary.empty()) return "Cannot write " + path + ": " + SystemReason(errno);
  errno = 0;
  if (!write(temporary)) {
    const int error = errno;
    ::unlink(temporary.c_str());
    return "Cannot write " + path + (error != 0 ? ": " + SystemReason(error) : "");
  }
  if (std::rename(temporary.c_str(), path.c_str()) != 0) {
    const int error = errno;
    ::unlink(temporary.c_str());
    return "Cannot write " + path + ": " + SystemReason(error);
  }
  return "";
}

bool WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
  if (fd < 0) return false;
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      const int error = n < 0 ? errno : EIO;
      ::close(fd);
      errno = error;
      return false;
    }
    done += static_cast<size_t>(n);
  }
  return ::close(fd) == 0;
}

}  // namespace

bool EncodeJpeg(const media::TBitmap& bitmap, int quality, std::vector<uint8_t>& out,
                std::string& error) {
  std::lock_guard guard(bitmap);
  if (bitmap.Empty()) {
    error = "empty picture";
    return false;
  }
  std::vector<JSAMPLE> row(static_cast<size_t>(bitmap.Width()) * 3);
  TJpegError jpegError;
  unsigned char* buffer = nullptr;
  unsigned long size = 0;
  const bool ok =
      Compress(bitmap, std::clamp(quality, 1, 100), &buffer, &size, &jpegError, row.data());
  if (ok) out.assign(buffer, buffer + size);
  else error = jpegError.message;
  std::free(buffer);
  return ok;
}

TSnapshotFiles WriteSnapshots(const std::string& settingsFile, const media::TBitmap& full,
                              const media::TBitmap& small) {
  TSnapshotFiles result;
  if (full.Empty()) return result;
  const profiles::TSettings settings(settingsFile);
  std::string folder =
      UsableFolder(settings.SnapOutPutDir(),
                   [&settings](const std::string& fallback) { settings.SetSnapOutPutDir(fallback); });
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  result.Folder = folder;

  const bool fullSize = settings.SnapFullSize() == 1;
  const bool smallSize = settings.SnapSmallSize() == 1 && !small.Empty();
  const bool bmp = settings.SnapBmp() == 1;
  const bool jpg = settings.SnapJpg() == 1;
  const int quality = settings.JpgCmp();

  const auto note = [&result, &folder](const char* name, const std::string& failure) {
    if (failure.empty()) {
      result.Written.push_back(folder + "/" + name);
    } else {
      if (!result.Error.empty()) result.Error += "\n";
      result.Error += failure;
    }
  };
  const auto saveBmp = [&](const media::TBitmap& picture, const char* name) {
    note(name, WriteReplacing(folder, name, [&picture](const std::string& temporary) {
           return picture.SaveToBMP(temporary);
         }));
  };
  const auto saveJpg = [&](const media::TBitmap& picture, const char* name) {
    std::vector<uint8_t> bytes;
    std::string reason;
    if (!EncodeJpeg(picture, quality, bytes, reason)) {
      note(name, "Cannot write " + folder + "/" + name + ": " + reason);
      return;
    }
    note(name, WriteReplacing(folder, name, [&bytes](const std::string& temporary) {
           return WriteBytes(temporary, bytes);
         }));
  };
  if (fullSize && bmp) saveBmp(full, kSnapshotFullBmp);
  if (smallSize && bmp) saveBmp(small, kSnapshotSmallBmp);
  if (fullSize && jpg) saveJpg(full, kSnapshotFullJpg);
  if (smallSize && jpg) saveJpg(small, kSnapshotSmallJpg);
  return result;
}

}  // namespace batch
