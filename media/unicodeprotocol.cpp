#include "media/unicodeprotocol.h"

#include <fcntl.h>
#include <iconv.h>
#include <langinfo.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <string_view>

#include "media/ffapi.h"

namespace media {
namespace {

std::atomic<bool> registered{false};

// Schemes the library treats as streams rather than files; each between colons.
constexpr std::string_view kNonFileSchemes = ":unicode:stream:gopher:http:pipe:rtp:tcp:udp:";
constexpr std::string_view kPrefix = kUnicodeURLPrefix;
constexpr int kBufferSize = 32768;

bool HasListedScheme(const std::string& name) {
  const size_t colon = name.find(':');
  if (colon == std::string::npos || colon == 0) return false;
  const std::string needle = ":" + name.substr(0, colon) + ":";
  return kNonFileSchemes.find(needle) != std::string_view::npos;
}

bool IsAscii(const std::string& text) {
  for (unsigned char c : text)
    if (c >= 0x80) return false;
  return true;
}

// Converts all of text with cd. False when a character cannot be converted exactly.
bool Convert(iconv_t cd, const std::string& text, std::string& out) {
  out.assign(text.size() * 4 + 16, '\0');
  char* in = const_cast<char*>(text.data());
  size_t inLeft = text.size();
  size_t done = 0;
  for (bool flushing = false;;) {
    char* dst = out.data() + done;
    size_t outLeft = out.size() - done;
    const size_t r = flushing ? ::iconv(cd, nullptr, nullptr, &dst, &outLeft)
                              : ::iconv(cd, &in, &inLeft, &dst, &outLeft);
    done = out.size() - outLeft;
    if (r == static_cast<size_t>(-1)) {
      if (errno != E2BIG) return false;  // EILSEQ, EINVAL: not representable or not valid input
      out.resize(out.size() * 2);
      continue;
    }
    if (r != 0) return false;  // irreversible (approximated) conversions
    if (flushing) break;
    flushing = true;  // write any closing shift sequence of a stateful code page
  }
  out.resize(done);
  return true;
}

// Whether the name converts to the code page and back to the same text.
bool SurvivesCodePage(const std::string& name, const std::string& codePage) {
  iconv_t to = ::iconv_open(codePage.c_str(), "UTF-8");
  iconv_t back = ::iconv_open("UTF-8", codePage.c_str());
  const iconv_t failed = reinterpret_cast<iconv_t>(-1);
  bool survives;
  if (to == failed || back == failed) {
    survives = IsAscii(name);
  } else {
    std::string encoded, decoded;
    survives = Convert(to, name, encoded) && Convert(back, encoded, decoded) && decoded == name;
  }
  if (to != failed) ::iconv_close(to);
  if (back != failed) ::iconv_close(back);
  return survives;
}

bool NeedsPrefix(const std::string& name, const std::string& codePage) {
  // A name that looks converted already would lose its start in URLToFileName.
  if (name.size() > kPrefix.size() && name.starts_with(kPrefix)) return true;
  if (HasListedScheme(name)) return false;
  return !SurvivesCodePage(name, codePage);
}

// ---- Our own I/O over a file descriptor -------------------------------------------------------

struct LocalFile {
  int fd = -1;
};

int ReadLocal(void* opaque, uint8_t* buf, int size) {
  const int fd = static_cast<LocalFile*>(opaque)->fd;
  for (;;) {
    const ssize_t n = ::read(fd, buf, static_cast<size_t>(size));
    if (n > 0) return static_cast<int>(n);
    if (n == 0) return AVERROR_EOF;
    if (errno != EINTR) return AVERROR(errno);
  }
}

int WriteLocal(void* opaque, uint8_t* buf, int size) {
  const int fd = static_cast<LocalFile*>(opaque)->fd;
  int written = 0;
  while (written < size) {
    const ssize_t n = ::write(fd, buf + written, static_cast<size_t>(size - written));
    if (n > 0) {
      written += static_cast<int>(n);
    } else if (n == 0) {
      return AVERROR(EIO);
    } else if (errno != EINTR) {
      return AVERROR(errno);
    }
  }
  return written;
}

int64_t SeekLocal(void* opaque, int64_t offset, int whence) {
  const int fd = static_cast<LocalFile*>(opaque)->fd;
  if (whence & AVSEEK_SIZE) {
    struct stat st;
    if (::fstat(fd, &st) != 0) return AVERROR(errno);
    return S_ISREG(st.st_mode) ? static_cast<int64_t>(st.st_size) : AVERROR(ENOSYS);
  }
  const off_t pos = ::lseek(fd, static_cast<off_t>(offset), whence & ~AVSEEK_FORCE);
  return pos < 0 ? AVERROR(errno) : static_cast<int64_t>(pos);
}

bool IsLocalIO(const AVIOContext* pb) {
  return pb && pb->read_packet == ReadLocal;
}

// Opens fileName with the library's open flags (AVIO_FLAG_READ, _WRITE, _READ_WRITE; writing
// always creates or truncates) and wraps it in an I/O context. 0 or AVERROR(errno).
int OpenLocalIO(const std::string& fileName, int flags, AVIOContext** pb) {
  *pb = nullptr;
  int mode = O_RDONLY;
  if ((flags & AVIO_FLAG_READ_WRITE) == AVIO_FLAG_READ_WRITE)
    mode = O_RDWR | O_CREAT | O_TRUNC;
  else if (flags & AVIO_FLAG_WRITE)
    mode = O_WRONLY | O_CREAT | O_TRUNC;
  int fd;
  do {
    fd = ::open(fileName.c_str(), mode | O_CLOEXEC, 0644);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return AVERROR(errno);
  // A directory opens for reading but cannot be read; say so now.
  struct stat st;
  int statErr = ::fstat(fd, &st) != 0 ? errno : 0;
  if (statErr == 0 && S_ISDIR(st.st_mode)) statErr = EISDIR;
  if (statErr != 0) {
    ::close(fd);
    return AVERROR(statErr);
  }
  auto* buffer = static_cast<unsigned char*>(ff::av_malloc(kBufferSize));
  auto* file = new LocalFile{fd};
  const bool writing = (flags & AVIO_FLAG_WRITE) != 0;
  AVIOContext* ctx = buffer ? ff::avio_alloc_context(buffer, kBufferSize, writing ? 1 : 0, file,
                                                     ReadLocal, writing ? WriteLocal : nullptr,
                                                     SeekLocal)
                            : nullptr;
  if (!ctx) {
    ff::av_free(buffer);
    delete file;
    ::close(fd);
    return AVERROR(ENOMEM);
  }
  *pb = ctx;
  return 0;
}

// Writes out what is buffered (for writing contexts), frees the context and its buffer (the
// current one: the library may have replaced ours) and closes the file. 0 or the first error.
int CloseLocalIO(AVIOContext** pb) {
  if (!pb || !*pb) return 0;
  auto* file = static_cast<LocalFile*>((*pb)->opaque);
  int ret = 0;
  if ((*pb)->write_flag) {
    ff::avio_flush(*pb);
    ret = (*pb)->error;
  }
  ff::av_freep(&(*pb)->buffer);
  ff::avio_context_free(pb);
  if (::close(file->fd) != 0 && ret == 0 && errno != EINTR) ret = AVERROR(errno);
  delete file;
  return ret;
}

// Inputs: every file or stream a demuxer tries to open by name is refused.
int RefuseNestedOpen(AVFormatContext* s, AVIOContext** pb, const char* url, int, AVDictionary**) {
  *pb = nullptr;
  ff::av_log(s, AV_LOG_ERROR, "Refused to open \"%s\" named inside a local file\n", url);
  return AVERROR(EPERM);
}

// Outputs: files a muxer opens itself are local files through our I/O.
int OpenNestedOutput(AVFormatContext*, AVIOContext** pb, const char* url, int flags,
                     AVDictionary**) {
  const std::string fileName = URLToFileName(url);
  return OpenLocalIO(fileName, flags, pb);
}

int CloseNestedOutput(AVFormatContext*, AVIOContext* pb) {
  if (!IsLocalIO(pb)) return AVERROR(EINVAL);
  return CloseLocalIO(&pb);
}

}  // namespace

std::string SystemCodePage() { return ::nl_langinfo(CODESET); }

std::string FileNameToURL(const std::string& name) { return FileNameToURL(name, SystemCodePage()); }

std::string FileNameToURL(const std::string& name, const std::string& codePage) {
  std::string url = NeedsPrefix(name, codePage) ? std::string(kPrefix) + name : name;
  if (url.size() > kMaxURLLength) return "";
  return url;
}

std::string URLToFileName(const std::string& url) {
  if (url.size() >= kPrefix.size() + 1 && url.starts_with(kPrefix)) return url.substr(kPrefix.size());
  return url;
}

int OpenInputFile(AVFormatContext** ic, const std::string& fileNameOrURL, const AVInputFormat* fmt,
                  AVDictionary** options) {
  if (!ic) return AVERROR(EINVAL);
  auto fail = [ic](int err) {
    ff::avformat_free_context(*ic);
    *ic = nullptr;
    return err;
  };
  const std::string fileName = URLToFileName(fileNameOrURL);
  const std::string url = FileNameToURL(fileName);
  if (url.empty() && !fileName.empty()) return fail(AVERROR(ENAMETOOLONG));
  if (*ic && (*ic)->pb) return fail(AVERROR(EINVAL));

  AVIOContext* pb = nullptr;
  if (const int err = OpenLocalIO(fileName, AVIO_FLAG_READ, &pb); err < 0) return fail(err);
  if (!*ic && !(*ic = ff::avformat_alloc_context())) {
    CloseLocalIO(&pb);
    return AVERROR(ENOMEM);
  }
  (*ic)->pb = pb;
  (*ic)->flags |= AVFMT_FLAG_CUSTOM_IO;
  (*ic)->io_open = RefuseNestedOpen;

  // An empty whitelist admits no protocol; nested contexts a demuxer makes inherit it.
  AVDictionary* ownOptions = nullptr;
  AVDictionary** opts = options ? options : &ownOptions;
  int ret = ff::av_dict_set(opts, "protocol_whitelist", "", 0);
  if (ret >= 0) {
    ret = ff::avformat_open_input(ic, url.c_str(), fmt, opts);  // frees *ic on failure
  } else {
    ff::avformat_free_context(*ic);
    *ic = nullptr;
  }
  ff::av_dict_free(&ownOptions);
  if (ret < 0) {
    CloseLocalIO(&pb);
    return ret;
  }
  return 0;
}

void CloseInputFile(AVFormatContext** ic) {
  if (!ic || !*ic) return;
  AVIOContext* pb = (*ic)->pb;
  ff::avformat_close_input(ic);  // leaves a caller-supplied pb alone
  if (IsLocalIO(pb)) CloseLocalIO(&pb);
}

int OpenOutputFile(AVFormatContext* oc, const std::string& fileNameOrURL) {
  if (!oc || !oc->oformat || oc->pb) return AVERROR(EINVAL);
  const std::string fileName = URLToFileName(fileNameOrURL);
  const std::string url = FileNameToURL(fileName);
  if (url.empty() && !fileName.empty()) return AVERROR(ENAMETOOLONG);
  char* urlCopy = ff::av_strdup(url.c_str());
  if (!urlCopy) return AVERROR(ENOMEM);
  if (!(oc->oformat->flags & AVFMT_NOFILE)) {
    AVIOContext* pb = nullptr;
    if (const int err = OpenLocalIO(fileName, AVIO_FLAG_WRITE, &pb); err < 0) {
      ff::av_free(urlCopy);
      return err;
    }
    oc->pb = pb;
    oc->flags |= AVFMT_FLAG_CUSTOM_IO;
  }
  ff::av_free(oc->url);
  oc->url = urlCopy;
  oc->io_open = OpenNestedOutput;
  oc->io_close2 = CloseNestedOutput;
  return 0;
}

int CloseOutputFile(AVFormatContext* oc) {
  if (!oc || !IsLocalIO(oc->pb)) return 0;
  return CloseLocalIO(&oc->pb);
}

void RegisterUnicodeProtocol() { registered = true; }
bool UnicodeProtocolRegistered() { return registered; }

}  // namespace media
