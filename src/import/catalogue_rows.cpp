#include "import/catalogue_rows.h"

#include "dbengine/dao.h"
#include "dbengine/names.h"

namespace tabsync::import {

namespace {

bool HoldsPassword(const std::string& connect) {
  std::string lower = dao::LowerName(connect);
  return lower.rfind("pwd=", 0) == 0 || lower.find(";pwd=") != std::string::npos;
}

int32_t HiddenBit(uint32_t flags) { return (flags & jet::kFlagHidden) ? dao::kTableHidden : 0; }

int32_t SystemBits(uint32_t flags) { return (flags & jet::kFlagSystemMask) ? dao::kTableSystemObject : 0; }

// The connect text with the value of its DATABASE= part replaced.
std::string WithDatabase(const std::string& connect, const std::string& path) {
  std::string lower = dao::LowerName(connect);
  size_t at = lower.rfind("database=", 0) == 0 ? 0 : lower.find(";database=");
  if (at == std::string::npos) return connect + ";DATABASE=" + path;
  size_t start = connect.find('=', at) + 1;
  size_t end = connect.find(';', start);
  return connect.substr(0, start) + path + (end == std::string::npos ? "" : connect.substr(end));
}

}  // namespace

bool ParsePathMapping(const std::string& text, PathMapping* mapping) {
  size_t equals = text.find('=');
  if (equals == std::string::npos || equals == 0 || equals + 1 == text.size()) return false;
  *mapping = {text.substr(0, equals), text.substr(equals + 1)};
  return true;
}

std::string MapPath(const std::string& path, const std::vector<PathMapping>& mappings, bool* mapped) {
  const PathMapping* best = nullptr;
  for (const PathMapping& mapping : mappings) {
    bool matches = path.size() >= mapping.from.size() &&
                   dao::SameName(path.substr(0, mapping.from.size()), mapping.from);
    if (matches && (!best || mapping.from.size() > best->from.size())) best = &mapping;
  }
  *mapped = best != nullptr;
  if (!best) return path;
  std::string result = best->to + path.substr(best->from.size());
  for (char& c : result)
    if (c == '\\') c = '/';
  return result;
}

bool IsForeignFileLink(const SourceLink& link) {
  return !link.connect.empty() && link.connect[0] != ';' && !dao::IsOdbcConnect(link.connect);
}

std::string LinkedPath(const SourceLink& link) {
  if (!IsForeignFileLink(link)) return link.database;
  std::string path = dao::LinkedFilePath(link.connect);
  return path.empty() ? link.database : path;
}

int32_t TableAttributes(uint32_t flags) {
  int32_t attributes = HiddenBit(flags);
  if (flags & jet::kFlagSystemMask) attributes |= dao::kTableSystemObject;
  return attributes;
}

dao::CatalogRow LinkRow(const SourceLink& link, const std::string& mapped_path) {
  dao::CatalogRow row;
  row.name = link.name;
  row.type = link.type;
  row.foreign_name = link.foreign_name;
  if (link.type == dao::kCatalogDesktopLink) {
    row.connect = IsForeignFileLink(link) ? WithDatabase(link.connect, mapped_path) : ";DATABASE=" + mapped_path;
    row.attributes = dao::kTableAttached | HiddenBit(link.flags);
  } else {
    row.connect = dao::IsOdbcConnect(link.connect) ? link.connect : "ODBC;" + link.connect;
    row.attributes = dao::kTableAttachedOdbc | HiddenBit(link.flags);
    if (HoldsPassword(link.connect)) row.attributes |= dao::kTableAttachSavePassword;
  }
  row.attributes |= SystemBits(link.flags);
  return row;
}

}  // namespace tabsync::import
