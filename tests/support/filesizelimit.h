// A limit on the size of the files this process (and its children) write, for tests of write
// failures: going past it fails the write with EFBIG instead of raising SIGXFSZ. The previous
// limit and signal handling come back when the object goes.
#pragma once

#include <signal.h>
#include <sys/resource.h>

namespace testsupport {

class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) {
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    ::sigaction(SIGXFSZ, &ignore, &savedAction_);
    ::getrlimit(RLIMIT_FSIZE, &savedLimit_);
    rlimit limit = savedLimit_;
    limit.rlim_cur = bytes;
    set_ = ::setrlimit(RLIMIT_FSIZE, &limit) == 0;
  }
  ~FileSizeLimit() {
    ::setrlimit(RLIMIT_FSIZE, &savedLimit_);
    ::sigaction(SIGXFSZ, &savedAction_, nullptr);
  }
  FileSizeLimit(const FileSizeLimit&) = delete;
  FileSizeLimit& operator=(const FileSizeLimit&) = delete;
  // True when the limit is in force.
  bool Set() const { return set_; }

 private:
  struct sigaction savedAction_ {};
  rlimit savedLimit_{};
  bool set_ = false;
};

}  // namespace testsupport
