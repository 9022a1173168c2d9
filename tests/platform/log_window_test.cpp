#include "platform/log_window.h"

#include <stdlib.h>

#include <optional>
#include <string>

#include <gtest/gtest.h>

namespace tabsync::platform {
namespace {

// Sets TMPDIR for the life of the object and puts the old value back.
class TemporaryFolderSetting {
 public:
  explicit TemporaryFolderSetting(const char* folder) {
    if (const char* old = getenv("TMPDIR")) old_ = old;
    if (folder != nullptr) setenv("TMPDIR", folder, 1);
  }
  ~TemporaryFolderSetting() {
    if (old_) {
      setenv("TMPDIR", old_->c_str(), 1);
    } else {
      unsetenv("TMPDIR");
    }
  }

 private:
  std::optional<std::string> old_;
};

// A text far larger than what LogText keeps in memory comes back whole, and
// in pieces that each end at a line end, whether it went to a temporary file
// or (no usable temporary folder) stayed in memory.
TEST(LogTextTest, LongTextComesBackWholeInPiecesEndingAtLineEnds) {
  for (const char* folder : {static_cast<const char*>(nullptr), "/nonexistent-tabsync-tmp"}) {
    SCOPED_TRACE(folder != nullptr ? folder : "default temporary folder");
    TemporaryFolderSetting setting(folder);
    LogText text;
    std::string expected = kLogWindowFirstLine;
    for (int i = 0; i < 200000; ++i) {
      std::string line = "   ADD FIELD TO NEW RECORD Name:= station " + std::to_string(i);
      text.Add(line);
      expected += "\r\n" + line;
    }
    EXPECT_EQ(expected, text.Text());
    std::string joined;
    int pieces = 0;
    text.ForEachPiece([&](std::string_view piece) {
      if (!joined.empty()) {
        EXPECT_EQ('\n', joined.back()) << "piece " << pieces;
      }
      joined.append(piece);
      ++pieces;
    });
    EXPECT_EQ(expected, joined);
    if (folder == nullptr) {
      EXPECT_GT(pieces, 1);
    }
  }
}

// Without a temporary file, memory holds at most the limit: the oldest lines
// after the first give way to one line that counts them.
TEST(LogTextTest, WithoutTemporaryFileOldestLinesGiveWayToACount) {
  TemporaryFolderSetting setting("/nonexistent-tabsync-tmp");
  LogText text(1000);
  for (int i = 0; i < 300; ++i) text.Add("line " + std::to_string(1000 + i));
  std::string shown = text.Text();
  EXPECT_LE(shown.size(), 1200u);
  ASSERT_TRUE(shown.starts_with(std::string(kLogWindowFirstLine) + "\r\n("));
  int left_out = std::stoi(shown.substr(shown.find('(') + 1));
  std::string first_kept = "line " + std::to_string(1000 + left_out);
  EXPECT_NE(std::string::npos, shown.find("every line)\r\n" + first_kept + "\r\n")) << shown;
  EXPECT_TRUE(shown.ends_with("\r\nline 1299"));
}

}  // namespace
}  // namespace tabsync::platform
