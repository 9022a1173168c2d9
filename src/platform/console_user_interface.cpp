#include "platform/console_user_interface.h"

#include <deque>
#include <string>

namespace tabsync::platform {
namespace {

// The log window without a display: it keeps its caption and text and shows
// nothing. Lines are kept one by one, so that adding a line never copies the
// text already there (a run can write a million lines).
class ConsoleLogWindow : public LogWindow {
 public:
  ConsoleLogWindow() { lines_.emplace_back(kLogWindowFirstLine); }

  void MakeEmpty() override { caption_ = kLogWindowCaption; }
  void AddLine(std::string_view line) override { lines_.emplace_back(line); }
  void ProcessPendingEvents() override {}

  std::string Caption() const override { return caption_; }
  std::string Text() const override;

  void Show() override { visible_ = true; }
  bool Visible() const override { return visible_; }

 private:
  std::string caption_;
  std::deque<std::string> lines_;
  bool visible_ = false;
};

std::string ConsoleLogWindow::Text() const {
  std::string text = lines_.front();
  for (auto line = lines_.begin() + 1; line != lines_.end(); ++line) {
    text += "\r\n";
    text += *line;
  }
  return text;
}

class ConsoleUserInterface : public UserInterface {
 public:
  std::unique_ptr<LogWindow> LoadLogWindow() override {
    return std::make_unique<ConsoleLogWindow>();
  }
};

}  // namespace

std::unique_ptr<UserInterface> NewConsoleUserInterface() {
  return std::make_unique<ConsoleUserInterface>();
}

}  // namespace tabsync::platform
