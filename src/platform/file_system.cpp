#include "platform/file_system.h"

namespace tabsync::platform {

namespace {

const char* DescriptionOf(int number) {
  switch (number) {
    case file_errors::kFileNotFound:
      return "File not found";
    case file_errors::kFileAlreadyExists:
      return "File already exists";
    case file_errors::kDiskFull:
      return "Disk full";
    case file_errors::kPermissionDenied:
      return "Permission denied";
    case file_errors::kPathNotFound:
      return "Path not found";
    default:
      // The operations raise no other number; an unknown one is still a
      // failed file access and reads as such in the log.
      return "Path/File access error";
  }
}

std::string_view WithoutTrailingSlashes(std::string_view path) {
  size_t end = path.find_last_not_of('/');
  return end == std::string_view::npos ? std::string_view() : path.substr(0, end + 1);
}

std::string_view WithoutLeadingSlashes(std::string_view name) {
  size_t begin = name.find_first_not_of('/');
  return begin == std::string_view::npos ? std::string_view() : name.substr(begin);
}

}  // namespace

Error FileError(int number) { return Error(number, DescriptionOf(number)); }

std::string LockHolderText(long long pid, const std::string& started) {
  return "pid " + std::to_string(pid) + "\nstarted " + started + "\n";
}

bool ParseLockHolder(const std::string& content, LockHolder* holder) {
  constexpr std::string_view kPid = "pid ", kStarted = "\nstarted ";
  size_t started = content.find(kStarted);
  if (content.rfind(kPid, 0) != 0 || started == std::string::npos || content.back() != '\n')
    return false;
  std::string pid = content.substr(kPid.size(), started - kPid.size());
  if (pid.empty() || pid.size() > 18 || pid.find_first_not_of("0123456789") != std::string::npos)
    return false;
  holder->pid = std::stoll(pid);
  holder->started = content.substr(started + kStarted.size());
  holder->started.pop_back();
  return holder->started.find('\n') == std::string::npos;
}

std::string GetParentFolderName(std::string_view path) {
  std::string_view file = WithoutTrailingSlashes(path);
  size_t slash = file.find_last_of('/');
  if (slash == std::string_view::npos) return "";  // also "" and the root itself
  std::string_view folder = WithoutTrailingSlashes(file.substr(0, slash));
  return folder.empty() ? "/" : std::string(folder);
}

std::string BuildPath(std::string_view folder, std::string_view name) {
  if (folder.empty()) return std::string(name);
  return WithTrailingSlash(WithoutTrailingSlashes(folder)) +
         std::string(WithoutLeadingSlashes(name));
}

std::string WithTrailingSlash(std::string_view folder) {
  std::string result(folder);
  if (result.empty() || result.back() != '/') result += '/';
  return result;
}

}  // namespace tabsync::platform
