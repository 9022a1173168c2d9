#ifndef TABSYNC_PLATFORM_FILE_SYSTEM_H_
#define TABSYNC_PLATFORM_FILE_SYSTEM_H_

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "base/error.h"
#include "platform/clock.h"

namespace tabsync::platform {

// The file errors the operations below raise, as tabsync::Error
// (dbengine/error.h), with the descriptions FileError gives.
namespace file_errors {
constexpr int kFileNotFound = 53;       // "File not found"
constexpr int kFileAlreadyExists = 58;  // "File already exists"
constexpr int kDiskFull = 61;           // "Disk full"
constexpr int kPermissionDenied = 70;   // "Permission denied"
constexpr int kPathFileAccess = 75;     // "Path/File access error"
constexpr int kPathNotFound = 76;       // "Path not found"
}  // namespace file_errors

// The error of that number with its description ("Path not found" for 76).
Error FileError(int number);

// A file opened for appending. Each Append reaches the file with one write
// before it returns; nothing is buffered in the program. What was written can
// be read back through the same opening, so a reader gets the file it wrote
// even when the name has gone elsewhere since.
class AppendFile {
 public:
  virtual ~AppendFile() = default;
  // Raises 61 when the disk is full, 75 on other write failures.
  virtual void Append(std::string_view bytes) = 0;
  // False when the file was opened for writing only (no permission to read
  // it); ReadAt then raises 75.
  virtual bool Readable() const = 0;
  // The file's size now. Raises 75 when it cannot be had.
  virtual uint64_t Size() const = 0;
  // Replaces *out with up to `count` bytes from `offset`, fewer at the end of
  // the file. Raises 75 when the file cannot be read.
  virtual void ReadAt(uint64_t offset, size_t count, std::string* out) const = 0;
};

// What --status shows of a file.
struct FileInfo {
  long long size = 0;    // bytes
  LocalTime modified;    // local time of the last change
};

// The room on the file system that holds a folder.
struct DiskSpace {
  uint64_t available = 0;  // bytes that a user who is not root may still write
  uint64_t device = 0;     // the same for every folder on one file system
};

// A lock held on a file until the object goes. It is a kernel lock, so a
// process that dies drops it with its descriptors.
class FileLock {
 public:
  virtual ~FileLock() = default;
  // Writes who holds the lock as the locked file's whole content,
  // LockHolderText(this process's id, started), for others to read
  // (ParseLockHolder); the file is emptied again when the lock goes. Raises
  // 70 when the file may not be written, 61 when the disk is full, 75 on
  // other failures; the lock itself holds all the same.
  virtual void RecordHolder(const std::string& started) = 0;
};

// Who holds a lock, as RecordHolder writes it.
struct LockHolder {
  long long pid = 0;
  std::string started;  // "YYYY-MM-DD HH:MM:SS"
};

// The content RecordHolder writes: "pid <pid>\nstarted <started>\n".
std::string LockHolderText(long long pid, const std::string& started);
// Reads that content back. False for anything else (an empty file: no
// holder recorded).
bool ParseLockHolder(const std::string& content, LockHolder* holder);

// The file operations of the update run and the installation flow. Paths use
// "/"; a folder may be given with or without its trailing "/". A file is
// read-only when it has no write permission bit at all.
//
// Abstract so that the logic can be tested against an in-memory fake; the real
// one is NewPosixFileSystem() in posix_file_system.h.
class FileSystem {
 public:
  virtual ~FileSystem() = default;

  // True for an existing file (not a folder); never raises.
  virtual bool FileExists(const std::string& path) const = 0;
  // Like FileExists, but tells a name that is not there from one that is
  // there and cannot be examined: false only when no entry of that name
  // exists (or a folder on the way is missing). Raises 75 for a symbolic link
  // that leads nowhere or in a loop, 70 when the entry or the link's target
  // may not be examined. A folder is no file: false.
  virtual bool CheckedFileExists(const std::string& path) const = 0;
  // The whole content of a file. Raises 53 when it is missing or a folder,
  // 70 without permission, 75 when it cannot be read or is no regular file
  // (a FIFO or a device is never read).
  virtual std::string ReadFile(const std::string& path) const = 0;
  // The size and modification time of an existing file (through a symbolic
  // link); false when there is no such file. Never raises.
  virtual bool GetFileInfo(const std::string& path, FileInfo* info) const = 0;
  // True when the name is a symbolic link, whether or not it leads anywhere;
  // never raises.
  virtual bool IsSymbolicLink(const std::string& path) const = 0;
  // True for a regular file or a symbolic link to one: false for a folder, a
  // FIFO, a device, a socket, a link to nowhere and a missing name. Never
  // raises.
  virtual bool IsRegularFile(const std::string& path) const = 0;
  // The path of the file or folder that `path` names, with every symbolic
  // link on the way followed: absolute, without "." or ".." parts. Raises 53
  // when it leads nowhere, 70 when a folder on the way may not be searched,
  // 75 for a loop of links.
  virtual std::string ResolvedPath(const std::string& path) const = 0;
  // True for an existing folder; never raises.
  virtual bool FolderExists(const std::string& path) const = 0;
  // The free space of the file system that holds the existing folder `path`
  // (statvfs: the blocks free to users who are not root, times the block
  // size) and its device. False when it cannot be had (a missing folder);
  // never raises.
  virtual bool GetDiskSpace(const std::string& path, DiskSpace* space) const = 0;
  // True when both name the same existing folder, however spelt (symbolic
  // links, "//", "/./" resolved by identity); false when either is missing.
  virtual bool SameFolder(const std::string& a, const std::string& b) const = 0;
  // True when both name the same existing file, however spelt (symbolic
  // links, hard links, folders reached through links); false when either is
  // missing or not a file.
  virtual bool SameFile(const std::string& a, const std::string& b) const = 0;

  // Creates a new folder only this user may enter (mode 0700) in the
  // system's temporary folder ($TMPDIR, else /tmp) and returns its path,
  // ending in "/". Raises 76 or 70 when it cannot.
  virtual std::string CreateTemporaryFolder() = 0;
  // Creates one folder. Raises 58 when it (or a file of that name) exists, 76
  // when its parent folder is missing, 70 without permission.
  virtual void CreateFolder(const std::string& path) = 0;
  // Copies a file. Raises 53 when the source is missing (or a folder), 76 when
  // the destination's folder is missing, 58 when the destination exists and
  // overwrite is false, 70 when it is read-only, a folder, or not writable,
  // 61 when the disk is full, 75 when the source is no regular file (a FIFO
  // or a device is never read; opening one never waits). With overwrite the destination is replaced
  // whole and atomically: a copy that fails half-way leaves the destination as
  // it was. The copy gets the source's permission bits, and its owner and
  // group where the user may give them (always as root).
  virtual void CopyFile(const std::string& source, const std::string& destination,
                        bool overwrite) = 0;
  // Removes the temporary files that copies to `destination` cut off by a
  // crash left beside it (see CopyFile); nothing else. Raises 76 when the
  // folder is missing, 70 without permission.
  virtual void RemoveCutOffCopies(const std::string& destination) = 0;
  // Replaces destination by source in one atomic rename, so that the name
  // holds either the old or the new file at every moment; the rename is
  // flushed to disk before the call returns. Both must lie on one file
  // system (in practice: one folder). Raises 53 when the source is missing,
  // 70 when the destination is a folder or may not be replaced.
  virtual void ReplaceFile(const std::string& source, const std::string& destination) = 0;
  // Gives `path` the owner, group and permission bits of `model`. Raises 53
  // when either is missing, 70 when the user may not give them.
  virtual void CopyOwnerAndMode(const std::string& model, const std::string& path) = 0;
  // Moves (renames) a file, also across file systems. Raises 53 when the
  // source is missing, 58 when the destination exists, 76 when the
  // destination's folder is missing, 70 without permission.
  virtual void MoveFile(const std::string& source, const std::string& destination) = 0;
  // Deletes a file. A symbolic link is removed itself, never what it leads
  // to. Raises 53 when it is missing (or a folder), 70 when it is read-only
  // and force is false, or cannot be removed.
  virtual void DeleteFile(const std::string& path, bool force) = 0;
  // The names in a folder (not "." and ".."), in no particular order. Raises
  // 76 when the folder is missing, 70 without permission.
  virtual std::vector<std::string> ListFolder(const std::string& path) const = 0;
  // Removes an empty folder. Raises 76 when it is missing, 75 when it is not
  // empty, 70 without permission.
  virtual void DeleteFolder(const std::string& path) = 0;

  // Takes an exclusive lock on the file at `path`, creating it when missing
  // (never through a symbolic link). Null when another process (or another
  // lock object of this one) holds it. Raises 76 when the folder is missing,
  // 70 without permission, 75 for a symbolic link or a folder.
  virtual std::unique_ptr<FileLock> TryLockFile(const std::string& path) = 0;

  // Opens a file for appending, creating it when missing. Never writes
  // through a symbolic link: one in its place raises 75. Raises 75 for an
  // empty path or a folder, 76 when the folder is missing, 70 without
  // permission.
  virtual std::unique_ptr<AppendFile> OpenForAppend(const std::string& path) = 0;
};

// The folder part of a path, without its trailing "/", except that the parent
// of a file in the root folder is "/". A trailing "/" on the path itself is
// ignored. "" when the path has no folder part (or is the root).
// "/srv/db/users.mdb" -> "/srv/db", "/users.mdb" -> "/", "users.mdb" -> "".
std::string GetParentFolderName(std::string_view path);

// folder + "/" + name, with exactly one "/" between them; name alone when
// folder is empty.
std::string BuildPath(std::string_view folder, std::string_view name);

// The folder with one "/" at its end: unchanged when it already ends in "/",
// otherwise "/" appended ("" gives "/").
std::string WithTrailingSlash(std::string_view folder);

}  // namespace tabsync::platform

#endif  // TABSYNC_PLATFORM_FILE_SYSTEM_H_
