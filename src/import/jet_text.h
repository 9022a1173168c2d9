#ifndef TABSYNC_IMPORT_JET_TEXT_H_
#define TABSYNC_IMPORT_JET_TEXT_H_

// Text as a Jet or ACE file stores it, decoded into UTF-8 exactly or not at
// all. libmdb converts with iconv from UCS-2, which knows no surrogate pairs
// (characters outside the Basic Multilingual Plane, such as emoji), and
// writes "?" for what it cannot convert; this decodes the stored bytes
// itself.

#include <string>

namespace tabsync::import {

class JetTextDecoder {
 public:
  // `jet3`: texts are bytes in `code_page` (the file header's, for
  // example 1252); otherwise UTF-16 little-endian, possibly "compressed".
  JetTextDecoder(bool jet3, int code_page);
  ~JetTextDecoder();
  JetTextDecoder(const JetTextDecoder&) = delete;
  JetTextDecoder& operator=(const JetTextDecoder&) = delete;

  // Decodes `length` stored bytes into *utf8 (replacing it). Jet 4 and ACE
  // texts that begin FF FE are "compressed": runs of one-byte characters
  // (U+0001 to U+00FF) and of two-byte units, each run ended by a 00 byte.
  // False, with *utf8 unspecified, when the bytes are no text: an unpaired
  // surrogate, an odd number of UTF-16 bytes, or a byte sequence the code
  // page does not define.
  bool Decode(const unsigned char* bytes, size_t length, std::string* utf8);

 private:
  bool DecodeUtf16(const unsigned char* bytes, size_t length, std::string* utf8);
  bool DecodeCodePage(const unsigned char* bytes, size_t length, std::string* utf8);

  bool jet3_;
  std::string code_page_name_;
  void* iconv_ = nullptr;   // iconv_t, opened on first use
  std::string units_;       // decompressed UTF-16, reused
};

}  // namespace tabsync::import

#endif  // TABSYNC_IMPORT_JET_TEXT_H_
