#ifndef TABSYNC_TESTS_SUPPORT_FILE_SIZE_LIMIT_H_
#define TABSYNC_TESTS_SUPPORT_FILE_SIZE_LIMIT_H_

#include <signal.h>
#include <sys/resource.h>

namespace tabsync::test {

// Lowers the largest file this process may write, so that a write beyond
// `bytes` fails half-way (with EFBIG); gives the limit back when it goes.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) {
    ::getrlimit(RLIMIT_FSIZE, &old_);
    rlimit lowered = old_;
    lowered.rlim_cur = bytes;
    old_handler_ = ::signal(SIGXFSZ, SIG_IGN);  // the write then fails instead
    ::setrlimit(RLIMIT_FSIZE, &lowered);
  }
  ~FileSizeLimit() {
    ::setrlimit(RLIMIT_FSIZE, &old_);
    ::signal(SIGXFSZ, old_handler_);
  }
  FileSizeLimit(const FileSizeLimit&) = delete;
  FileSizeLimit& operator=(const FileSizeLimit&) = delete;

 private:
  rlimit old_;
  sighandler_t old_handler_;
};

}  // namespace tabsync::test

#endif  // TABSYNC_TESTS_SUPPORT_FILE_SIZE_LIMIT_H_
