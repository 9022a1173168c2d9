#include "import/guarded_reader.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>

#include "dbengine/error.h"
#include "import/import_errors.h"
#include "platform/posix_io.h"

namespace tabsync::import {

namespace {

using Clock = std::chrono::steady_clock;
constexpr size_t kMaxDiagnostics = 8192;
// The child's address space: enough for libmdb and the largest long value,
// small enough that a runaway allocation fails in the child, not the machine.
constexpr rlim_t kChildMemory = rlim_t{4} << 30;

struct Pipe {
  int read = -1;
  int write = -1;
};

Pipe MakePipe() {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) throw ReaderFailed(std::string("no pipe: ") + std::strerror(errno));
  return {fds[0], fds[1]};
}

[[noreturn]] void RunChild(const std::function<void(StreamWriter&)>& read, Pipe data, Pipe diagnostics) {
  close(data.read);
  close(diagnostics.read);
  dup2(diagnostics.write, STDERR_FILENO);
  int null = open("/dev/null", O_WRONLY);
  dup2(null, STDOUT_FILENO);
  struct rlimit no_core = {0, 0};
  setrlimit(RLIMIT_CORE, &no_core);
  struct rlimit memory = {kChildMemory, kChildMemory};
  setrlimit(RLIMIT_AS, &memory);
  StreamWriter out(data.write);
  int status = 0;
  try {
    read(out);
  } catch (const Error& error) {
    status = 1;
    try {
      out.Failure(error.Description());
    } catch (const Error&) {
      // The parent is gone; the exit status is all that is left to say.
    }
  } catch (const std::exception& error) {
    status = 1;
    try {
      out.Failure(std::string("the reader failed: ") + error.what());
    } catch (const Error&) {
      // As above.
    }
  }
  _exit(status);
}

// The parent's side of one run: the child's pipes and what came through.
class Supervisor {
 public:
  Supervisor(pid_t child, int data, int diagnostics, const ReaderLimits& limits)
      : child_(child), data_(data), diagnostics_(diagnostics), limits_(limits),
        deadline_(Clock::now() + std::chrono::milliseconds(limits.time_limit_ms)) {}

  ~Supervisor() {
    if (child_ > 0) {
      kill(child_, SIGKILL);
      waitpid(child_, nullptr, 0);
    }
  }

  void Run(const std::function<void(const Frame&)>& on_frame) {
    Frame frame;
    bool done = false;
    while (data_open_) {
      Wait();
      while (splitter_.Next(&frame)) {
        if (done) throw DamagedStream();
        if (frame.tag == FrameTag::kFailure)
          throw Error(errors::kReaderFailed, DecodeFailure(frame.payload));
        done = frame.tag == FrameTag::kDone;
        if (!done) on_frame(frame);
      }
    }
    while (diagnostics_open_) Wait();
    int status = Reap();
    if (!done) throw ReaderFailed(HowItEnded(status));
  }

  const std::string& diagnostics() const { return diagnostics_text_; }

 private:
  void Wait() {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline_ - Clock::now());
    if (left.count() <= 0)
      throw ReaderFailed("it did not finish within " + std::to_string(limits_.time_limit_ms / 1000) +
                         " s (libmdb may be looping on a damaged file)");
    struct pollfd fds[2] = {{data_open_ ? data_.get() : -1, POLLIN, 0},
                            {diagnostics_open_ ? diagnostics_.get() : -1, POLLIN, 0}};
    int ready = poll(fds, 2, static_cast<int>(left.count()));
    if (ready < 0 && errno != EINTR) throw ReaderFailed(std::string("poll: ") + std::strerror(errno));
    if (ready <= 0) return;
    if (fds[0].revents) ReadData();
    if (fds[1].revents) ReadDiagnostics();
  }

  void ReadData() {
    char buffer[1 << 16];
    ssize_t got = read(data_.get(), buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) return;
    if (got <= 0) {
      data_open_ = false;
      return;
    }
    received_ += static_cast<uint64_t>(got);
    if (received_ > limits_.output_limit)
      throw ReaderFailed("its output passed the limit of " + std::to_string(limits_.output_limit) +
                         " bytes (libmdb may be looping on a damaged file)");
    splitter_.Feed(std::string_view(buffer, static_cast<size_t>(got)));
  }

  void ReadDiagnostics() {
    char buffer[4096];
    ssize_t got = read(diagnostics_.get(), buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) return;
    if (got <= 0) {
      diagnostics_open_ = false;
      return;
    }
    size_t room = kMaxDiagnostics - std::min(kMaxDiagnostics, diagnostics_text_.size());
    diagnostics_text_.append(buffer, std::min(room, static_cast<size_t>(got)));
  }

  int Reap() {
    int status = 0;
    waitpid(child_, &status, 0);
    child_ = -1;
    return status;
  }

  std::string HowItEnded(int status) const {
    std::string first_line = diagnostics_text_.substr(0, diagnostics_text_.find('\n'));
    std::string said = first_line.empty() ? "" : " (libmdb: " + first_line + ")";
    if (WIFSIGNALED(status))
      return std::string("libmdb crashed: ") + strsignal(WTERMSIG(status)) + said;
    return "the reader stopped before the end, exit status " + std::to_string(WEXITSTATUS(status)) + said;
  }

  pid_t child_;
  platform::posix::FileDescriptor data_;
  platform::posix::FileDescriptor diagnostics_;
  ReaderLimits limits_;
  Clock::time_point deadline_;
  bool data_open_ = true;
  bool diagnostics_open_ = true;
  uint64_t received_ = 0;
  FrameSplitter splitter_;
  std::string diagnostics_text_;
};

}  // namespace

ReaderLimits LimitsForFile(uint64_t file_size) {
  ReaderLimits limits;
  limits.time_limit_ms = 60000 + static_cast<int64_t>(file_size >> 20) * 2000;
  limits.output_limit = (uint64_t{64} << 20) + 32 * file_size;
  return limits;
}

std::string RunGuarded(const std::function<void(StreamWriter&)>& read, const ReaderLimits& limits,
                        const std::function<void(const Frame&)>& on_frame) {
  Pipe data = MakePipe();
  Pipe diagnostics = MakePipe();
  pid_t child = fork();
  if (child < 0) {
    for (int fd : {data.read, data.write, diagnostics.read, diagnostics.write}) close(fd);
    throw ReaderFailed(std::string("fork: ") + std::strerror(errno));
  }
  if (child == 0) RunChild(read, data, diagnostics);
  close(data.write);
  close(diagnostics.write);
  Supervisor supervisor(child, data.read, diagnostics.read, limits);
  supervisor.Run(on_frame);
  return supervisor.diagnostics();
}

}  // namespace tabsync::import
