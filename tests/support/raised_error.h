#ifndef TABSYNC_TESTS_SUPPORT_RAISED_ERROR_H_
#define TABSYNC_TESTS_SUPPORT_RAISED_ERROR_H_

#include <string>

#include <gtest/gtest.h>

#include "dbengine/error.h"

namespace tabsync::test {

// The tabsync::Error that `action` raises; number 0 when it raises none.
template <typename Action>
Error RaisedError(Action action) {
  try {
    action();
  } catch (const Error& error) {
    return error;
  }
  return Error(0, "no error raised");
}

// Runs `action`, which must raise tabsync::Error with `number`; gives the
// error's description for the caller to check.
template <typename Action>
std::string ExpectError(int number, Action action) {
  Error error = RaisedError(action);
  EXPECT_EQ(number, error.Number()) << error.what();
  return error.Description();
}

}  // namespace tabsync::test

#endif  // TABSYNC_TESTS_SUPPORT_RAISED_ERROR_H_
