#include "support/fake_file_system.h"

#include <algorithm>
#include <stdexcept>

namespace tabsync::test {

namespace fe = platform::file_errors;

class FakeFileSystem::FakeAppendFile : public platform::AppendFile {
 public:
  FakeAppendFile(FakeFileSystem& owner, std::string path) : owner_(owner), path_(std::move(path)) {}

  void Append(std::string_view bytes) override {
    try {
      owner_.CheckInjected("append", path_, "append " + path_);
    } catch (const Error&) {
      owner_.files_[path_].content.append(bytes.substr(0, owner_.cut_off_bytes_));
      throw;
    }
    owner_.files_[path_].content.append(bytes);
  }
  bool Readable() const override { return true; }
  uint64_t Size() const override { return Content().size(); }
  void ReadAt(uint64_t offset, size_t count, std::string* out) const override {
    const std::string& content = Content();
    *out = offset < content.size() ? content.substr(offset, count) : std::string();
  }

 private:
  // The file's content; a file deleted since reads as empty.
  const std::string& Content() const {
    static const std::string kNone;
    auto file = owner_.files_.find(path_);
    return file == owner_.files_.end() ? kNone : file->second.content;
  }

  FakeFileSystem& owner_;
  std::string path_;
};

class FakeFileSystem::FakeFileLock : public platform::FileLock {
 public:
  FakeFileLock(FakeFileSystem& owner, std::string path) : owner_(owner), path_(std::move(path)) {
    owner_.locked_.insert(path_);
  }
  ~FakeFileLock() override {
    owner_.locked_.erase(path_);
    if (recorded_) owner_.files_[path_].content.clear();
  }
  // The fake's process id is 4242.
  void RecordHolder(const std::string& started) override {
    owner_.files_[path_].content = platform::LockHolderText(4242, started);
    recorded_ = true;
  }

 private:
  FakeFileSystem& owner_;
  std::string path_;
  bool recorded_ = false;
};

namespace {

const std::string& KeyOf(const std::string& entry) { return entry; }
template <typename Value>
const std::string& KeyOf(const std::pair<const std::string, Value>& entry) {
  return entry.first;
}

}  // namespace

std::string FakeFileSystem::Normal(const std::string& path) {
  std::string normal;
  for (char c : path) {
    if (c == '/' && !normal.empty() && normal.back() == '/') continue;
    normal.push_back(c);
  }
  if (normal.size() > 1 && normal.back() == '/') normal.pop_back();
  return normal;
}

void FakeFileSystem::AddFolder(const std::string& path) {
  std::string normal = Normal(path);
  for (size_t slash = normal.find('/', 1); slash != std::string::npos;
       slash = normal.find('/', slash + 1)) {
    folders_.insert(normal.substr(0, slash));
  }
  folders_.insert(normal);
}

void FakeFileSystem::AddFile(const std::string& path, const std::string& content,
                             bool read_only) {
  std::string normal = Normal(path);
  AddFolder(platform::GetParentFolderName(normal));
  files_[normal] = File{content, read_only};
}

void FakeFileSystem::AddFolderAlias(const std::string& alias, const std::string& folder) {
  AddFolder(alias);
  aliases_[Normal(alias)] = Normal(folder);
}

void FakeFileSystem::FailOn(const std::string& operation, const std::string& path, int number) {
  failures_[{operation, Normal(path)}] = number;
}

void FakeFileSystem::HideFolder(const std::string& path) { hidden_.insert(Normal(path)); }

void FakeFileSystem::AddUnexaminable(const std::string& path, int number) {
  std::string normal = Normal(path);
  AddFolder(platform::GetParentFolderName(normal));
  unexaminable_[normal] = number;
}

void FakeFileSystem::AddDanglingLink(const std::string& path) {
  AddUnexaminable(path, fe::kPathFileAccess);
  links_.insert(Normal(path));
}

void FakeFileSystem::FailCall(int k, int number) {
  fail_call_ = calls_ + k;
  fail_number_ = number;
}

bool FakeFileSystem::HasFile(const std::string& path) const {
  return files_.count(Normal(path)) != 0;
}

const FakeFileSystem::File& FakeFileSystem::GetFile(const std::string& path) const {
  return files_.at(Normal(path));
}

bool FakeFileSystem::FileExists(const std::string& path) const { return HasFile(path); }

bool FakeFileSystem::CheckedFileExists(const std::string& path) const {
  auto unexaminable = unexaminable_.find(Normal(path));
  if (unexaminable != unexaminable_.end()) throw platform::FileError(unexaminable->second);
  return HasFile(path);
}

std::string FakeFileSystem::ReadFile(const std::string& path) const {
  if (!HasFile(path)) throw platform::FileError(fe::kFileNotFound);
  return GetFile(path).content;
}

bool FakeFileSystem::GetFileInfo(const std::string& path, platform::FileInfo* info) const {
  if (!HasFile(path)) return false;
  info->size = static_cast<long long>(GetFile(path).content.size());
  info->modified = {2026, 12, 7, 9, 5, 31};
  return true;
}

std::string FakeFileSystem::CreateTemporaryFolder() {
  std::string path = "/tmp/fake." + std::to_string(++temporary_folders_);
  CheckInjected("create folder", path, "create folder " + path);
  AddFolder(path);
  Record("create folder " + path);
  return path + "/";
}

bool FakeFileSystem::IsSymbolicLink(const std::string& path) const {
  return links_.count(Normal(path)) != 0;
}

bool FakeFileSystem::IsRegularFile(const std::string& path) const { return HasFile(path); }

std::string FakeFileSystem::ResolvedPath(const std::string& path) const {
  auto unexaminable = unexaminable_.find(Normal(path));
  if (unexaminable != unexaminable_.end()) throw platform::FileError(unexaminable->second);
  if (!HasFile(path) && !FolderExists(path)) throw platform::FileError(fe::kFileNotFound);
  return Normal(path);
}

bool FakeFileSystem::FolderExists(const std::string& path) const {
  std::string normal = Normal(path);
  return folders_.count(normal) != 0 && hidden_.count(normal) == 0;
}

std::string FakeFileSystem::Resolved(const std::string& folder) const {
  std::string normal = Normal(folder);
  auto alias = aliases_.find(normal);
  return alias == aliases_.end() ? normal : alias->second;
}

bool FakeFileSystem::SameFolder(const std::string& a, const std::string& b) const {
  return FolderExists(a) && FolderExists(b) && Resolved(a) == Resolved(b);
}

bool FakeFileSystem::SameFile(const std::string& a, const std::string& b) const {
  auto resolve = [this](const std::string& path) {
    std::string normal = Normal(path);
    return Resolved(platform::GetParentFolderName(normal)) + "/" +
           normal.substr(normal.rfind('/') + 1);
  };
  return FileExists(a) && FileExists(b) && resolve(a) == resolve(b);
}

bool FakeFileSystem::ParentExists(const std::string& normal_path) const {
  return folders_.count(platform::GetParentFolderName(normal_path)) != 0;
}

void FakeFileSystem::Record(const std::string& action) { actions_.push_back(action); }

void FakeFileSystem::CheckInjected(const std::string& operation, const std::string& path,
                                   const std::string& action) {
  if (++calls_ == fail_call_) {
    Record(action + " FAILED");
    throw platform::FileError(fail_number_);
  }
  auto failure = failures_.find({operation, Normal(path)});
  if (failure == failures_.end()) return;
  Record(action + " FAILED");
  throw platform::FileError(failure->second);
}

void FakeFileSystem::CreateFolder(const std::string& path) {
  std::string normal = Normal(path);
  std::string action = "create folder " + normal;
  CheckInjected("create folder", normal, action);
  if (folders_.count(normal) || files_.count(normal)) throw platform::FileError(fe::kFileAlreadyExists);
  if (!ParentExists(normal)) throw platform::FileError(fe::kPathNotFound);
  folders_.insert(normal);
  Record(action);
}

void FakeFileSystem::CopyFile(const std::string& source, const std::string& destination,
                              bool overwrite) {
  std::string from = Normal(source);
  std::string to = Normal(destination);
  std::string action = "copy " + from + " -> " + to;
  CheckInjected("copy", to, action);
  auto file = files_.find(from);
  if (file == files_.end()) throw platform::FileError(fe::kFileNotFound);
  if (!ParentExists(to)) throw platform::FileError(fe::kPathNotFound);
  auto target = files_.find(to);
  if (target != files_.end() && !overwrite) throw platform::FileError(fe::kFileAlreadyExists);
  if (folders_.count(to) || (target != files_.end() && target->second.read_only)) {
    throw platform::FileError(fe::kPermissionDenied);
  }
  files_[to] = file->second;
  Record(action);
}

void FakeFileSystem::RemoveCutOffCopies(const std::string& destination) {
  std::string normal = Normal(destination);
  CheckInjected("remove cut-off copies", normal, "remove cut-off copies " + normal);
  if (!ParentExists(normal)) throw platform::FileError(fe::kPathNotFound);
}

void FakeFileSystem::ReplaceFile(const std::string& source, const std::string& destination) {
  std::string from = Normal(source);
  std::string to = Normal(destination);
  std::string action = "replace " + to + " by " + from;
  CheckInjected("replace", to, action);
  auto file = files_.find(from);
  if (file == files_.end()) throw platform::FileError(fe::kFileNotFound);
  if (folders_.count(to)) throw platform::FileError(fe::kPermissionDenied);
  files_[to] = file->second;
  files_.erase(from);
  Record(action);
}

void FakeFileSystem::CopyOwnerAndMode(const std::string& model, const std::string& path) {
  std::string from = Normal(model);
  std::string to = Normal(path);
  std::string action = "copy owner " + from + " -> " + to;
  CheckInjected("copy owner", to, action);
  if (!files_.count(from) || !files_.count(to)) throw platform::FileError(fe::kFileNotFound);
  files_[to].owner = files_[from].owner;
  files_[to].read_only = files_[from].read_only;
  Record(action);
}

void FakeFileSystem::MoveFile(const std::string& source, const std::string& destination) {
  std::string from = Normal(source);
  std::string to = Normal(destination);
  std::string action = "move " + from + " -> " + to;
  CheckInjected("move", to, action);
  auto file = files_.find(from);
  if (file == files_.end()) throw platform::FileError(fe::kFileNotFound);
  if (files_.count(to) || folders_.count(to)) throw platform::FileError(fe::kFileAlreadyExists);
  if (!ParentExists(to)) throw platform::FileError(fe::kPathNotFound);
  files_[to] = file->second;
  files_.erase(from);
  Record(action);
}

void FakeFileSystem::DeleteFile(const std::string& path, bool force) {
  std::string normal = Normal(path);
  std::string action = "delete " + normal;
  CheckInjected("delete", normal, action);
  if (unexaminable_.erase(normal)) {
    links_.erase(normal);
    Record(action);
    return;
  }
  auto file = files_.find(normal);
  if (file == files_.end()) throw platform::FileError(fe::kFileNotFound);
  if (file->second.read_only && !force) throw platform::FileError(fe::kPermissionDenied);
  files_.erase(file);
  Record(action);
}

std::vector<std::string> FakeFileSystem::ListFolder(const std::string& path) const {
  std::string normal = Normal(path);
  if (!folders_.count(normal)) throw platform::FileError(fe::kPathNotFound);
  std::vector<std::string> names;
  auto add_children = [&](const auto& entries) {
    for (const auto& entry : entries) {
      const std::string& name = KeyOf(entry);
      if (name != normal && platform::GetParentFolderName(name) == normal)
        names.push_back(name.substr(name.rfind('/') + 1));
    }
  };
  add_children(files_);
  add_children(folders_);
  add_children(unexaminable_);
  return names;
}

void FakeFileSystem::DeleteFolder(const std::string& path) {
  std::string normal = Normal(path);
  std::string action = "delete folder " + normal;
  CheckInjected("delete folder", normal, action);
  if (!folders_.count(normal)) throw platform::FileError(fe::kPathNotFound);
  if (!ListFolder(normal).empty()) throw platform::FileError(fe::kPathFileAccess);
  folders_.erase(normal);
  Record(action);
}

void FakeFileSystem::SetDiskSpace(const std::string& folder, uint64_t available,
                                  uint64_t device) {
  disk_space_[Normal(folder)] = {available, device};
}

bool FakeFileSystem::GetDiskSpace(const std::string& path, platform::DiskSpace* space) const {
  if (!FolderExists(path)) return false;
  *space = {uint64_t{1} << 40, 0};
  for (std::string folder = Normal(path);; folder = platform::GetParentFolderName(folder)) {
    auto found = disk_space_.find(folder.empty() ? "/" : folder);
    if (found != disk_space_.end()) {
      *space = found->second;
      return true;
    }
    if (folder.empty() || folder == "/") return true;
  }
}

std::unique_ptr<platform::FileLock> FakeFileSystem::TryLockFile(const std::string& path) {
  std::string normal = Normal(path);
  CheckInjected("lock", normal, "lock " + normal);
  if (!ParentExists(normal)) throw platform::FileError(fe::kPathNotFound);
  if (locked_.count(normal)) return nullptr;
  files_.try_emplace(normal);
  return std::make_unique<FakeFileLock>(*this, normal);
}

std::unique_ptr<platform::AppendFile> FakeFileSystem::OpenForAppend(const std::string& path) {
  std::string normal = Normal(path);
  CheckInjected("open for append", normal, "open for append " + normal);
  if (path.empty() || folders_.count(normal) || links_.count(normal))
    throw platform::FileError(fe::kPathFileAccess);
  if (!ParentExists(normal)) throw platform::FileError(fe::kPathNotFound);
  files_.try_emplace(normal);
  return std::make_unique<FakeAppendFile>(*this, normal);
}

}  // namespace tabsync::test
