#include "import/guarded_reader.h"

#include <signal.h>
#include <unistd.h>

#include <chrono>

#include <gtest/gtest.h>

#include "import/import_errors.h"
#include "support/raised_error.h"

namespace tabsync::import {
namespace {

constexpr ReaderLimits kLimits{1500, 1 << 20};

// Runs `read` guarded and gives the error it ends with (number 0 without),
// checking that it ends well within twice the time limit.
Error Outcome(const std::function<void(StreamWriter&)>& read, std::vector<Frame>* frames = nullptr) {
  auto start = std::chrono::steady_clock::now();
  Error error = test::RaisedError([&] {
    RunGuarded(read, kLimits, [&](const Frame& frame) {
      if (frames) frames->push_back(frame);
    });
  });
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(2 * kLimits.time_limit_ms));
  return error;
}

TEST(GuardedReaderTest, FramesOfAReaderThatEndsWellArriveInOrder) {
  std::vector<Frame> frames;
  Error error = Outcome([](StreamWriter& out) {
    out.Object({"query", "Q"});
    out.BeginRows(0);
    out.Done();
  }, &frames);
  EXPECT_EQ(0, error.Number()) << error.what();
  ASSERT_EQ(2u, frames.size());
  EXPECT_EQ("Q", DecodeObject(frames[0].payload).name);
  EXPECT_EQ(FrameTag::kRows, frames[1].tag);
}

TEST(GuardedReaderTest, EveryBadEndOfTheChildIsAClearError) {
  struct Case {
    const char* name;
    std::function<void(StreamWriter&)> read;
    const char* says;
  };
  const Case cases[] = {
      {"hangs", [](StreamWriter&) { pause(); }, "did not finish within 1 s"},
      {"crashes", [](StreamWriter&) { raise(SIGSEGV); }, "libmdb crashed: Segmentation fault"},
      {"floods",
       [](StreamWriter& out) {
         for (;;) out.Object({"query", std::string(1000, 'q')});
       },
       "passed the limit of 1048576 bytes"},
      {"fails", [](StreamWriter&) { throw ReaderFailed("libmdb cannot read table 'T'"); },
       "reading the file failed: libmdb cannot read table 'T'"},
      {"stops early",
       [](StreamWriter& out) {
         out.Object({"query", "Q"});
         out.Flush();
         _exit(0);
       },
       "the reader stopped before the end, exit status 0"},
      {"complains and dies",
       [](StreamWriter&) {
         fprintf(stderr, "offset 4096 is beyond EOF\n");
         abort();
       },
       "Aborted (libmdb: offset 4096 is beyond EOF)"},
  };
  for (const Case& c : cases) {
    Error error = Outcome(c.read);
    EXPECT_EQ(errors::kReaderFailed, error.Number()) << c.name;
    EXPECT_NE(std::string::npos, error.Description().find(c.says)) << c.name << ": " << error.what();
  }
}

TEST(GuardedReaderTest, AnErrorOfTheConsumerPassesOnAndTheChildIsGone) {
  pid_t child = 0;
  Error error = test::RaisedError([&] {
    RunGuarded(
        [](StreamWriter& out) {
          out.Object({"query", std::to_string(getpid())});
          out.Flush();
          pause();
        },
        kLimits, [&](const Frame& frame) {
          child = std::stoi(DecodeObject(frame.payload).name);
          throw Error(4001, "refused");
        });
  });
  EXPECT_EQ(4001, error.Number());
  ASSERT_GT(child, 0);
  EXPECT_NE(0, kill(child, 0));  // reaped, not left running
}

}  // namespace
}  // namespace tabsync::import
