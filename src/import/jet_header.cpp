#include "import/jet_header.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <utility>

#include "dbengine/error.h"
#include "import/import_errors.h"
#include "platform/posix_io.h"

namespace tabsync::import {

namespace {

constexpr size_t kHeaderBytes = 0x18 + 128;
constexpr size_t kCodedStart = 0x18;
constexpr size_t kKeyOffset = 0x3e;       // the page-encoding key; 0 when pages are plain
constexpr size_t kPasswordOffset = 0x42;  // 20 bytes in Jet 3, 40 (UCS-2) later
constexpr size_t kDateOffset = 0x72;      // creation date, which masks the Jet 4 password
constexpr const char* kNames[] = {"Jet 3", "Jet 4", "ACE 12", "ACE 14", "ACE 15", "ACE 16"};

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

// The password bytes as stored are masked once more in Jet 4 and later:
// each group of four is XORed with the creation date's whole days.
bool HasPassword(unsigned char* plain, int version) {
  unsigned char* password = plain + kPasswordOffset - kCodedStart;
  if (version == 0) return !IsZero(password, 20);
  double date = 0;
  std::memcpy(&date, plain + kDateOffset - kCodedStart, sizeof date);
  // The header is untrusted: a date no int holds would make the conversion
  // undefined. Such a file has no mask that a password could hide behind.
  if (!(date > -2147483648.0 && date < 2147483648.0)) date = 0;
  uint32_t days = static_cast<uint32_t>(static_cast<int32_t>(date));
  for (size_t i = 0; i < 40; ++i) password[i] ^= static_cast<unsigned char>(days >> (8 * (i % 4)));
  return !IsZero(password, 40);
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

JetFileFormat CheckJetHeader(const std::string& path) {
  std::string header = ReadHeader(path);
  auto* bytes = reinterpret_cast<unsigned char*>(header.data());
  static constexpr unsigned char kMagic[] = {0x00, 0x01, 0x00, 0x00};
  int version = bytes[0x14];
  bool jet = std::memcmp(bytes + 4, "Standard Jet DB", 16) == 0 && version <= 1;
  bool ace = std::memcmp(bytes + 4, "Standard ACE DB", 16) == 0 && version >= 2 && version <= 5;
  if (std::memcmp(bytes, kMagic, 4) != 0 || !(jet || ace)) throw NotJetFile(path);

  unsigned char* plain = bytes + kCodedStart;
  CodeHeaderBytes(plain, version == 0 ? 126 : 128);
  if (!IsZero(plain + kKeyOffset - kCodedStart, 4)) throw ProtectedFile(path, "encrypted");
  if (HasPassword(plain, version)) throw ProtectedFile(path, "password-protected");
  return {version, kNames[version]};
}

}  // namespace tabsync::import
