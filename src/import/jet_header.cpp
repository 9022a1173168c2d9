#include "import/jet_header.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <utility>

#include "dbengine/error.h"
#include "import/import_errors.h"
#include "import/jet_text.h"
#include "platform/posix_io.h"

namespace tabsync::import {

namespace {

constexpr size_t kHeaderBytes = 0x18 + 128;
constexpr size_t kCodedStart = 0x18;
constexpr size_t kCodePageOffset = 0x3c;  // Jet 3: the code page of the file's texts
constexpr size_t kKeyOffset = 0x3e;       // the page-encoding key; 0 when pages are plain
constexpr size_t kPasswordOffset = 0x42;  // 20 bytes in Jet 3, 40 (UCS-2) later
constexpr size_t kDateOffset = 0x72;      // creation date, which masks the Jet 4 password
constexpr const char* kNames[] = {"Jet 3", "Jet 4", "ACE 12", "ACE 14", "ACE 15", "ACE 16", "ACE 17"};
constexpr int kLastAceVersion = 6;

std::string ReadHeader(const std::string& path) {
  platform::posix::FileDescriptor fd(open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (fd.get() < 0) throw FileNotFound(path);
  std::string bytes(kHeaderBytes, '\0');
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t got = read(fd.get(), bytes.data() + done, bytes.size() - done);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) throw NotJetFile(path);  // shorter than a header, or a folder
    done += static_cast<size_t>(got);
  }
  return bytes;
}

bool IsZero(const unsigned char* bytes, size_t length) {
  for (size_t i = 0; i < length; ++i)
    if (bytes[i] != 0) return false;
  return true;
}

// The database password's bytes: 20 bytes of the code page in Jet 3, 40
// of UTF-16 later, padded with zero bytes. In Jet 4 and later they are
// masked once more: each group of four is XORed with the creation date's
// whole days.
std::string StoredPassword(const unsigned char* plain, int version) {
  const unsigned char* stored = plain + kPasswordOffset - kCodedStart;
  std::string password(reinterpret_cast<const char*>(stored), version == 0 ? 20 : 40);
  if (version == 0) return password;
  double date = 0;
  std::memcpy(&date, plain + kDateOffset - kCodedStart, sizeof date);
  // The header is untrusted: a date no int holds would make the conversion
  // undefined. Such a file has no mask that a password could hide behind.
  if (!(date > -2147483648.0 && date < 2147483648.0)) date = 0;
  uint32_t days = static_cast<uint32_t>(static_cast<int32_t>(date));
  for (size_t i = 0; i < password.size(); ++i) password[i] ^= static_cast<char>(days >> (8 * (i % 4)));
  return password;
}

// True when `given` is the stored password (compared exactly, as Jet
// compares it): the stored characters up to the first zero character.
bool SamePassword(std::string stored, int version, int code_page, const std::string& given) {
  size_t unit = version == 0 ? 1 : 2;
  size_t length = 0;
  while (length < stored.size() && !IsZero(reinterpret_cast<const unsigned char*>(stored.data()) + length, unit))
    length += unit;
  std::string text;
  JetTextDecoder decoder(version == 0, code_page);
  return decoder.Decode(reinterpret_cast<const unsigned char*>(stored.data()), length, &text) && text == given;
}

}  // namespace

void CodeHeaderBytes(unsigned char* bytes, size_t length) {
  static constexpr unsigned char kKey[] = {0xC7, 0xDA, 0x39, 0x6B};
  unsigned char state[256];
  for (int i = 0; i < 256; ++i) state[i] = static_cast<unsigned char>(i);
  for (int i = 0, j = 0; i < 256; ++i) {
    j = (j + state[i] + kKey[i % 4]) & 0xff;
    std::swap(state[i], state[j]);
  }
  for (size_t n = 0, i = 0, j = 0; n < length; ++n) {
    i = (i + 1) & 0xff;
    j = (j + state[i]) & 0xff;
    std::swap(state[i], state[j]);
    bytes[n] ^= state[(state[i] + state[j]) & 0xff];
  }
}

JetFileFormat CheckJetHeader(const std::string& path, const std::optional<std::string>& password) {
  std::string header = ReadHeader(path);
  auto* bytes = reinterpret_cast<unsigned char*>(header.data());
  static constexpr unsigned char kMagic[] = {0x00, 0x01, 0x00, 0x00};
  int version = bytes[0x14];
  bool jet = std::memcmp(bytes + 4, "Standard Jet DB", 16) == 0 && version <= 1;
  bool ace = std::memcmp(bytes + 4, "Standard ACE DB", 16) == 0 && version >= 2 && version <= kLastAceVersion;
  if (std::memcmp(bytes, kMagic, 4) != 0 || !(jet || ace)) throw NotJetFile(path);

  unsigned char* plain = bytes + kCodedStart;
  CodeHeaderBytes(plain, version == 0 ? 126 : 128);
  if (!IsZero(plain + kKeyOffset - kCodedStart, 4)) throw ProtectedFile(path, "encrypted");
  std::string stored = StoredPassword(plain, version);
  if (IsZero(reinterpret_cast<const unsigned char*>(stored.data()), stored.size())) return {version, kNames[version]};
  if (!password) throw PasswordNeeded(path);
  int code_page = plain[kCodePageOffset - kCodedStart] | (plain[kCodePageOffset - kCodedStart + 1] << 8);
  if (!SamePassword(stored, version, code_page, *password)) throw WrongPassword(path);
  return {version, kNames[version]};
}

}  // namespace tabsync::import
