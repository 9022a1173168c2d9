#include "platform/console_user_interface.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <iostream>
#include <string>

namespace tabsync::platform {
namespace {

constexpr char kPrompt[] = "(y/n) ";
constexpr char kCloseHint[] = "Press Enter to close this window.";

std::string Lowered(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

// True when `in` is standard input and that is a terminal, whose echo shows
// the operator's answer with its line end.
bool EchoedByTerminal(const std::istream& in) { return &in == &std::cin && isatty(0) == 1; }

// The log window without a display: it keeps its caption and text (LogText,
// which holds a long run's lines in a temporary file) and shows them on the
// console only when shown.
class ConsoleLogWindow : public LogWindow {
 public:
  ConsoleLogWindow(std::istream& in, std::ostream& out) : in_(in), out_(out) {}

  void MakeEmpty() override { caption_ = kLogWindowCaption; }
  void AddLine(std::string_view line) override { text_.Add(line); }
  void ProcessPendingEvents() override {}

  std::string Caption() const override { return caption_; }
  std::string Text() const override { return text_.Text(); }

  void Show() override;
  bool Visible() const override { return visible_; }
  void WaitForEvent() override;

 private:
  std::istream& in_;
  std::ostream& out_;
  std::string caption_;
  LogText text_;
  bool visible_ = false;
};

void ConsoleLogWindow::Show() {
  if (visible_) return;
  visible_ = true;
  out_ << caption_ << '\n';
  // Pieces end at a line end, so no carriage return + line feed is split.
  text_.ForEachPiece([this](std::string_view piece) { out_ << WithLineFeeds(piece); });
  out_ << '\n';
  out_ << kCloseHint << std::flush;
}

void ConsoleLogWindow::WaitForEvent() {
  if (!visible_) return;
  std::string line;
  bool answered = static_cast<bool>(std::getline(in_, line));
  if (!answered || !EchoedByTerminal(in_)) out_ << '\n' << std::flush;
  visible_ = false;
}

class ConsoleUserInterface : public UserInterface {
 public:
  ConsoleUserInterface(std::istream& in, std::ostream& out, std::ostream& err)
      : in_(in), out_(out), err_(err) {}

  MessageAnswer ShowMessage(const Message& message) override;
  std::unique_ptr<LogWindow> LoadLogWindow() override {
    return std::make_unique<ConsoleLogWindow>(in_, out_);
  }

 private:
  MessageAnswer AskYesNo(std::ostream& stream);

  std::istream& in_;
  std::ostream& out_;
  std::ostream& err_;
};

MessageAnswer ConsoleUserInterface::ShowMessage(const Message& message) {
  std::ostream& stream = message.icon == MessageIcon::kCritical ? err_ : out_;
  stream << message.title << '\n' << WithLineFeeds(message.text) << '\n' << std::flush;
  if (message.buttons == MessageButtons::kOk) return MessageAnswer::kOk;
  return AskYesNo(stream);
}

MessageAnswer ConsoleUserInterface::AskYesNo(std::ostream& stream) {
  while (true) {
    stream << kPrompt << std::flush;
    std::string line;
    if (!std::getline(in_, line)) {
      stream << '\n' << std::flush;
      return MessageAnswer::kNoAnswer;
    }
    if (!EchoedByTerminal(in_)) stream << line << '\n' << std::flush;
    std::string answer = Lowered(line);
    if (!answer.empty() && answer.back() == '\r') answer.pop_back();
    if (answer == "y" || answer == "yes") return MessageAnswer::kYes;
    if (answer == "n" || answer == "no") return MessageAnswer::kNo;
  }
}

}  // namespace

std::unique_ptr<UserInterface> NewConsoleUserInterface(std::istream& in, std::ostream& out,
                                                       std::ostream& err) {
  return std::make_unique<ConsoleUserInterface>(in, out, err);
}

std::unique_ptr<UserInterface> NewConsoleUserInterface() {
  return NewConsoleUserInterface(std::cin, std::cout, std::cerr);
}

}  // namespace tabsync::platform
