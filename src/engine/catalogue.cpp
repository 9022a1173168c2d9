#include "engine/catalogue.h"

#include "dbengine/names.h"

namespace tabsync::engine {

std::string BaseName(std::string_view fileName) {
  if (fileName.size() <= 4) return "";
  return dao::LowerName(fileName.substr(0, fileName.size() - 4));
}

bool IsDataDatabase(std::string_view fileName) {
  std::string base = BaseName(fileName);
  return base == "onlineshop" || base == "users" || base == "accounting" ||
         base == "availability";
}

}  // namespace tabsync::engine
