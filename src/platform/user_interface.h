#ifndef TABSYNC_PLATFORM_USER_INTERFACE_H_
#define TABSYNC_PLATFORM_USER_INTERFACE_H_

#include <memory>
#include <string>
#include <string_view>

#include "platform/log_window.h"

namespace tabsync::platform {

// The title of the program's message boxes.
constexpr char kProgramTitle[] = "Korvane Database Update";

enum class MessageIcon { kNone, kCritical, kQuestion, kInformation };
enum class MessageButtons { kOk, kYesNo };
// kNoAnswer: a question that nobody can answer, the console's input having
// ended (no terminal, a closed or empty standard input).
enum class MessageAnswer { kOk, kYes, kNo, kNoAnswer };

// One message box. Lines of the text are separated by carriage return + line
// feed; each implementation shows them as its own line breaks.
struct Message {
  std::string text;
  std::string title = kProgramTitle;
  MessageIcon icon = MessageIcon::kNone;
  MessageButtons buttons = MessageButtons::kOk;
};

// The text with each carriage return + line feed made one line feed, as the
// window system and the console show a line break.
std::string WithLineFeeds(std::string_view text);

// What the program shows the operator. Abstract so that the logic can be tested
// against a fake; the real ones are NewConsoleUserInterface()
// (console_user_interface.h) and NewGtkUserInterface() (gtk_user_interface.h).
class UserInterface {
 public:
  virtual ~UserInterface() = default;

  // Shows the message and waits for the answer: kOk for an OK box, kYes or
  // kNo for a Yes/No box. A question box closed without an answer answers
  // kNo; the end of the console's input gives kNoAnswer.
  virtual MessageAnswer ShowMessage(const Message& message) = 0;

  // A new log window, loaded and hidden, with its text at kLogWindowFirstLine.
  virtual std::unique_ptr<LogWindow> LoadLogWindow() = 0;
};

}  // namespace tabsync::platform

#endif  // TABSYNC_PLATFORM_USER_INTERFACE_H_
