#include "base/error.h"

#include <utility>

namespace tabsync {

Error::Error(int number, std::string description)
    : number_(number),
      description_(std::move(description)),
      what_(std::to_string(number_) + ": " + description_) {}

}  // namespace tabsync
