#include "import/jet_header.h"

#include <gtest/gtest.h>

#include <fstream>

#include "import/import_errors.h"
#include "import/run_command.h"
#include "support/raised_error.h"
#include "support/temp_dir.h"

namespace tabsync::import {
namespace {

void WriteBytes(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

TEST(JetHeaderTest, NamesTheFormatOfEachRealFile) {
  const std::pair<const char*, const char*> cases[] = {
      {"testV1997.mdb", "Jet 3"},           {"testV2000.mdb", "Jet 4"},
      {"linkerTestV2007.accdb", "ACE 12"}, {"calcFieldTestV2010.accdb", "ACE 14"}};
  for (const auto& [file, name] : cases) EXPECT_EQ(name, CheckJetHeader(test::ImportData(file)).name) << file;
}

TEST(JetHeaderTest, RefusesWhatIsNoJetOrAceFile) {
  test::TempDir dir;
  std::string real = test::ReadFileBytes(test::ImportData("testV2000.mdb")).substr(0, 4096);
  std::string wrong_version = real, wrong_words = real;
  wrong_version[0x14] = 2;  // an ACE version under the Jet words
  wrong_words.replace(4, 15, "Standard XYZ DB");
  const std::pair<const char*, std::string> cases[] = {
      {"empty", ""},
      {"text", "just some text, long enough to fill a header of a few hundred bytes? " + std::string(300, 'x')},
      {"short", real.substr(0, 100)},
      {"version", wrong_version},
      {"words", wrong_words}};
  for (const auto& [name, bytes] : cases) {
    WriteBytes(dir.File(name), bytes);
    std::string description = test::ExpectError(3343, [&] { CheckJetHeader(dir.File(name)); });
    EXPECT_EQ(dir.File(name) + ": not a Jet or ACE database file", description) << name;
  }
  test::ExpectError(3024, [&] { CheckJetHeader(dir.File("missing")); });
}

// The header is RC4-coded: XORing a stored byte changes the plain byte by
// the same bits, which is how these copies get a password or a key.
TEST(JetHeaderTest, RefusesPasswordProtectedAndEncryptedFiles) {
  test::TempDir dir;
  const std::pair<const char*, int> files[] = {{"testV1997.mdb", 0x42}, {"testV2000.mdb", 0x42}};
  for (const auto& [file, offset] : files) {
    std::string bytes = test::ReadFileBytes(test::ImportData(file));
    std::string password = bytes, key = bytes;
    password[offset] ^= 's';
    key[0x3e] ^= 0x01;
    WriteBytes(dir.File("password"), password);
    WriteBytes(dir.File("key"), key);
    EXPECT_NE(std::string::npos, test::ExpectError(errors::kProtected, [&] {
      CheckJetHeader(dir.File("password"));
    }).find("password-protected")) << file;
    EXPECT_NE(std::string::npos, test::ExpectError(errors::kProtected, [&] {
      CheckJetHeader(dir.File("key"));
    }).find("encrypted")) << file;
  }
}

}  // namespace
}  // namespace tabsync::import
