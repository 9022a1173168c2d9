#include "platform/console_user_interface.h"

#include <sstream>
#include <string>

#include <gtest/gtest.h>

namespace tabsync::platform {
namespace {

class ConsoleUserInterfaceTest : public ::testing::Test {
 protected:
  void Answer(const std::string& input) { in_.str(input); }
  MessageAnswer Ask(const std::string& text) {
    return ui_->ShowMessage({text, kProgramTitle, MessageIcon::kNone, MessageButtons::kYesNo});
  }

  std::istringstream in_;
  std::ostringstream out_;
  std::ostringstream err_;
  std::unique_ptr<UserInterface> ui_ = NewConsoleUserInterface(in_, out_, err_);
};

TEST_F(ConsoleUserInterfaceTest, OkBoxPrintsTitleAndLinesWithoutWaiting) {
  Answer("y\n");
  EXPECT_EQ(MessageAnswer::kOk,
            ui_->ShowMessage({"moved\r\n\r\nsuccessfully.", kProgramTitle,
                              MessageIcon::kInformation, MessageButtons::kOk}));
  EXPECT_EQ("Korvane Database Update\nmoved\n\nsuccessfully.\n", out_.str());
  EXPECT_EQ("", err_.str());
  EXPECT_EQ('y', in_.peek());  // nothing was read
}

TEST_F(ConsoleUserInterfaceTest, CriticalMessageGoesToStandardError) {
  ui_->ShowMessage({"Cannot find folder: \r\n\r\nDB", kProgramTitle, MessageIcon::kCritical,
                    MessageButtons::kOk});
  EXPECT_EQ("", out_.str());
  EXPECT_EQ("Korvane Database Update\nCannot find folder: \n\nDB\n", err_.str());
}

TEST_F(ConsoleUserInterfaceTest, AnswersIgnoreLetterCase) {
  Answer("YES\nn\nY\nNo\r\n");
  EXPECT_EQ(MessageAnswer::kYes, Ask("a"));
  EXPECT_EQ(MessageAnswer::kNo, Ask("b"));
  EXPECT_EQ(MessageAnswer::kYes, Ask("c"));
  EXPECT_EQ(MessageAnswer::kNo, Ask("d"));
}

TEST_F(ConsoleUserInterfaceTest, AnythingElseAsksAgainAndTheAnswerIsEchoed) {
  Answer("maybe\n\n y\nyes\n");
  EXPECT_EQ(MessageAnswer::kYes, Ask("Update?"));
  EXPECT_EQ("Korvane Database Update\nUpdate?\n(y/n) maybe\n(y/n) \n(y/n)  y\n(y/n) yes\n",
            out_.str());
}

TEST_F(ConsoleUserInterfaceTest, EndOfInputIsNoAnswer) {
  Answer("perhaps");
  EXPECT_EQ(MessageAnswer::kNoAnswer, Ask("Update?"));
  EXPECT_EQ("Korvane Database Update\nUpdate?\n(y/n) perhaps\n(y/n) \n", out_.str());
}

TEST_F(ConsoleUserInterfaceTest, CriticalQuestionAsksOnStandardError) {
  Answer("n\n");
  EXPECT_EQ(MessageAnswer::kNo, ui_->ShowMessage({"Sure?", "Other title", MessageIcon::kCritical,
                                                  MessageButtons::kYesNo}));
  EXPECT_EQ("Other title\nSure?\n(y/n) n\n", err_.str());
  EXPECT_EQ("", out_.str());
}

TEST_F(ConsoleUserInterfaceTest, LogWindowPrintsOnlyWhenShownAndWaitsForALine) {
  Answer("\nleft over\n");
  std::unique_ptr<LogWindow> window = ui_->LoadLogWindow();
  window->MakeEmpty();
  window->AddLine("09:05:31 DATABASE START: users.mdb");
  window->AddLine("a\r\nb");
  window->ProcessPendingEvents();
  EXPECT_EQ("", out_.str());
  EXPECT_FALSE(window->Visible());
  EXPECT_EQ("Updating log..\r\n09:05:31 DATABASE START: users.mdb\r\na\r\nb", window->Text());

  window->Show();
  EXPECT_TRUE(window->Visible());
  EXPECT_EQ(
      "Korvane Database Update .. close this window to finish ..\n"
      "Updating log..\n09:05:31 DATABASE START: users.mdb\na\nb\n"
      "Press Enter to close this window.",
      out_.str());
  window->WaitForEvent();
  EXPECT_FALSE(window->Visible());
  std::string rest;
  std::getline(in_, rest);
  EXPECT_EQ("left over", rest);
}

TEST_F(ConsoleUserInterfaceTest, LogWindowClosesAtTheEndOfInput) {
  std::unique_ptr<LogWindow> window = ui_->LoadLogWindow();
  window->Show();
  window->WaitForEvent();
  EXPECT_FALSE(window->Visible());
}

}  // namespace
}  // namespace tabsync::platform
