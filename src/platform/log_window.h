#ifndef TABSYNC_PLATFORM_LOG_WINDOW_H_
#define TABSYNC_PLATFORM_LOG_WINDOW_H_

#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace tabsync::platform {

// The caption and the first line of the log window.
constexpr char kLogWindowCaption[] = "Korvane Database Update .. close this window to finish ..";
constexpr char kLogWindowFirstLine[] = "Updating log..";

// The log window frmLog as the window system shows it: a caption and one
// multi-line text box that starts with kLogWindowFirstLine and grows by a line
// per AddLine. A window is made loaded and hidden (UserInterface::LoadLogWindow);
// destroying the object unloads it.
class LogWindow {
 public:
  virtual ~LogWindow() = default;

  // Sets the caption to kLogWindowCaption and repaints the text box; the text
  // stays. Called once when the window is loaded.
  virtual void MakeEmpty() = 0;
  // Appends carriage return + line feed + line to the text box. Never copies
  // the text already there.
  virtual void AddLine(std::string_view line) = 0;
  // Lets the window system handle pending events (repaint, the close box), so
  // that the window stays live during a long run.
  virtual void ProcessPendingEvents() = 0;

  virtual std::string Caption() const = 0;
  // The whole text of the text box, lines separated by carriage return + line
  // feed.
  virtual std::string Text() const = 0;

  // Shows the window, not modal and without owner.
  virtual void Show() = 0;
  // False until shown, and again once the operator has closed the window.
  virtual bool Visible() const = 0;
  // Waits for the next event of the window system and handles it; the caller
  // waits for the operator to close a shown window by calling this while
  // Visible().
  virtual void WaitForEvent() = 0;
};

// The text of a log window: kLogWindowFirstLine, then carriage return + line
// feed + line per Add. A run can write millions of lines into a window that
// stays hidden, so the text is kept in an unnamed temporary file (in $TMPDIR,
// else /tmp) and memory holds only the last piece not yet written there. When
// no temporary file can be made or written, the rest of the text stays in
// memory up to `memoryLimit` bytes; beyond that the oldest lines held there
// give way to one line that says how many were left out (the log file has
// them all).
class LogText {
 public:
  static constexpr std::size_t kMemoryLimit = 32 * 1024 * 1024;

  explicit LogText(std::size_t memoryLimit = kMemoryLimit);
  ~LogText();
  LogText(const LogText&) = delete;
  LogText& operator=(const LogText&) = delete;

  // Appends carriage return + line feed + line.
  void Add(std::string_view line);
  // The whole text.
  std::string Text() const;
  // Hands the whole text to `piece` in order, in pieces of about a megabyte
  // or less, each ending at the end of a line, so that a window can fill
  // itself without one copy of the whole text.
  void ForEachPiece(const std::function<void(std::string_view)>& piece) const;

 private:
  void WriteOut();
  void LeaveOutOldestLines();

  class Spool;
  std::unique_ptr<Spool> spool_;  // null when no temporary file could be made
  bool spool_failed_ = false;     // a write failed: the rest stays in memory
  std::string pending_;           // the end of the text, not yet in the spool
  std::size_t memory_limit_;
  long long left_out_ = 0;        // lines left out of pending_ ...
  std::size_t left_out_at_ = 0;   // ... at this position of it
};

}  // namespace tabsync::platform

#endif  // TABSYNC_PLATFORM_LOG_WINDOW_H_
