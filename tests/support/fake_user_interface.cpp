#include "support/fake_user_interface.h"

namespace tabsync::test {

using platform::MessageAnswer;
using platform::MessageButtons;
using platform::MessageIcon;

class FakeUserInterface::FakeLogWindow : public platform::LogWindow {
 public:
  explicit FakeLogWindow(FakeUserInterface* ui) : ui_(ui) { text_ = platform::kLogWindowFirstLine; }
  ~FakeLogWindow() override { ui_->window_events_.push_back("unload"); }

  void MakeEmpty() override {
    caption_ = platform::kLogWindowCaption;
    ui_->window_events_.push_back("make empty");
  }
  void AddLine(std::string_view line) override {
    text_ += "\r\n";
    text_ += line;
    ui_->window_events_.push_back("line " + std::string(line));
  }
  void ProcessPendingEvents() override { ui_->window_events_.push_back("events"); }
  std::string Caption() const override { return caption_; }
  std::string Text() const override { return text_; }
  void Show() override {
    visible_ = true;
    ui_->shown_log_text_ = text_;
    ui_->window_events_.push_back("show");
  }
  bool Visible() const override { return visible_; }
  void WaitForEvent() override {
    ui_->window_events_.push_back("wait");
    if (++waits_ >= ui_->close_at_wait_) visible_ = false;
  }

 private:
  FakeUserInterface* ui_;
  std::string caption_;
  std::string text_;
  bool visible_ = false;
  int waits_ = 0;
};

void FakeUserInterface::AnswerQuestions(std::vector<MessageAnswer> answers) {
  answers_.assign(answers.begin(), answers.end());
}

MessageAnswer FakeUserInterface::ShowMessage(const platform::Message& message) {
  messages_.push_back(message);
  if (message.buttons == MessageButtons::kOk) return MessageAnswer::kOk;
  if (answers_.empty()) return MessageAnswer::kNo;
  MessageAnswer answer = answers_.front();
  answers_.pop_front();
  return answer;
}

std::unique_ptr<platform::LogWindow> FakeUserInterface::LoadLogWindow() {
  window_events_.push_back("load");
  return std::make_unique<FakeLogWindow>(this);
}

std::string Describe(const platform::Message& message) {
  static const char* const kIcons[] = {"none", "critical", "question", "information"};
  std::string text;
  for (std::size_t i = 0; i < message.text.size(); ++i) {
    if (message.text.compare(i, 2, "\r\n") == 0) {
      text += '|';
      ++i;
    } else {
      text += message.text[i];
    }
  }
  return std::string(kIcons[static_cast<int>(message.icon)]) + "/" +
         (message.buttons == MessageButtons::kOk ? "ok" : "yes-no") + " " + message.title + ": " +
         text;
}

}  // namespace tabsync::test
