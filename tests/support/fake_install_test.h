#ifndef TABSYNC_TESTS_SUPPORT_FAKE_INSTALL_TEST_H_
#define TABSYNC_TESTS_SUPPORT_FAKE_INSTALL_TEST_H_

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "install/install_platform.h"
#include "support/fake_file_system.h"
#include "support/fake_odbc_installer.h"
#include "support/fake_registration_store.h"
#include "support/fake_user_interface.h"

namespace tabsync::test {

// A fixture with the installation flow's platform made of fakes.
class FakeInstallTest : public ::testing::Test {
 protected:
  // Every message box shown so far, each as Describe gives it.
  std::vector<std::string> Messages() const {
    std::vector<std::string> described;
    for (const platform::Message& message : ui_.Messages()) described.push_back(Describe(message));
    return described;
  }

  FakeFileSystem files_;
  FakeRegistrationStore registrations_;
  FakeOdbcInstaller installer_{registrations_};
  FakeUserInterface ui_;
  install::InstallPlatform platform_{files_, registrations_, installer_, ui_};
};

}  // namespace tabsync::test

#endif  // TABSYNC_TESTS_SUPPORT_FAKE_INSTALL_TEST_H_
