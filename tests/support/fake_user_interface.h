#ifndef TABSYNC_TESTS_SUPPORT_FAKE_USER_INTERFACE_H_
#define TABSYNC_TESTS_SUPPORT_FAKE_USER_INTERFACE_H_

#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "platform/user_interface.h"

namespace tabsync::test {

// A user interface that records every message box and everything done to its
// log windows, and answers questions from a script.
class FakeUserInterface : public platform::UserInterface {
 public:
  // The answers to the next questions, in order; a question beyond them is
  // answered No.
  void AnswerQuestions(std::vector<platform::MessageAnswer> answers);
  // The operator closes a shown log window at the n-th wait for an event
  // (1: the first).
  void CloseLogWindowAtWait(int n) { close_at_wait_ = n; }

  // Every message box shown, in order.
  const std::vector<platform::Message>& Messages() const { return messages_; }
  // What was done to the log windows, in order: "load", "make empty",
  // "line <text>", "events", "show", "wait", "unload".
  const std::vector<std::string>& WindowEvents() const { return window_events_; }
  // The text of the last log window shown ("" when none was).
  const std::string& ShownLogText() const { return shown_log_text_; }

  platform::MessageAnswer ShowMessage(const platform::Message& message) override;
  std::unique_ptr<platform::LogWindow> LoadLogWindow() override;

 private:
  class FakeLogWindow;

  std::deque<platform::MessageAnswer> answers_;
  int close_at_wait_ = 1;
  std::vector<platform::Message> messages_;
  std::vector<std::string> window_events_;
  std::string shown_log_text_;
};

// The message in one line for test failures: "<icon>/<buttons> <title>: <text>",
// each carriage return + line feed of the text shown as "|".
std::string Describe(const platform::Message& message);

}  // namespace tabsync::test

#endif  // TABSYNC_TESTS_SUPPORT_FAKE_USER_INTERFACE_H_
