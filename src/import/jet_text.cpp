#include "import/jet_text.h"

#include <iconv.h>

#include <cerrno>

namespace tabsync::import {

namespace {

constexpr unsigned kHighSurrogate = 0xd800;
constexpr unsigned kLowSurrogate = 0xdc00;
constexpr unsigned kSurrogateEnd = 0xe000;

// iconv's names of the Windows code pages a Jet 3 header may give (the
// Windows forms, in which bytes below 0x80 are ASCII); any other (and 0) is
// read as Windows Western European, as libmdb reads it.
const char* CodePageName(int code_page) {
  switch (code_page) {
    case 874: return "WINDOWS-874";
    case 932: return "CP932";
    case 936: return "CP936";
    case 949: return "CP949";
    case 950: return "CP950";
    case 1250: return "WINDOWS-1250";
    case 1251: return "WINDOWS-1251";
    case 1253: return "WINDOWS-1253";
    case 1254: return "WINDOWS-1254";
    case 1255: return "WINDOWS-1255";
    case 1256: return "WINDOWS-1256";
    case 1257: return "WINDOWS-1257";
    case 1258: return "WINDOWS-1258";
    default: return "WINDOWS-1252";
  }
}

void AppendUtf8(unsigned code_point, std::string* out) {
  if (code_point < 0x80) {
    out->push_back(static_cast<char>(code_point));
  } else if (code_point < 0x800) {
    out->push_back(static_cast<char>(0xc0 | (code_point >> 6)));
    out->push_back(static_cast<char>(0x80 | (code_point & 0x3f)));
  } else if (code_point < 0x10000) {
    out->push_back(static_cast<char>(0xe0 | (code_point >> 12)));
    out->push_back(static_cast<char>(0x80 | ((code_point >> 6) & 0x3f)));
    out->push_back(static_cast<char>(0x80 | (code_point & 0x3f)));
  } else {
    out->push_back(static_cast<char>(0xf0 | (code_point >> 18)));
    out->push_back(static_cast<char>(0x80 | ((code_point >> 12) & 0x3f)));
    out->push_back(static_cast<char>(0x80 | ((code_point >> 6) & 0x3f)));
    out->push_back(static_cast<char>(0x80 | (code_point & 0x3f)));
  }
}

// Undoes Jet's "compression" of the text after its FF FE marker into plain
// UTF-16 little-endian units. False for a two-byte run cut short.
bool Decompress(const unsigned char* bytes, size_t length, std::string* units) {
  units->clear();
  bool one_byte = true;
  for (size_t i = 0; i < length;) {
    if (bytes[i] == 0) {
      one_byte = !one_byte;
      ++i;
    } else if (one_byte) {
      units->push_back(static_cast<char>(bytes[i++]));
      units->push_back('\0');
    } else {
      if (i + 1 >= length) return false;
      units->append(reinterpret_cast<const char*>(bytes + i), 2);
      i += 2;
    }
  }
  return true;
}

}  // namespace

JetTextDecoder::JetTextDecoder(bool jet3, int code_page)
    : jet3_(jet3), code_page_name_(CodePageName(code_page)) {}

JetTextDecoder::~JetTextDecoder() {
  if (iconv_) iconv_close(static_cast<iconv_t>(iconv_));
}

bool JetTextDecoder::Decode(const unsigned char* bytes, size_t length, std::string* utf8) {
  utf8->clear();
  if (jet3_) return DecodeCodePage(bytes, length, utf8);
  if (length >= 2 && bytes[0] == 0xff && bytes[1] == 0xfe) {
    if (!Decompress(bytes + 2, length - 2, &units_)) return false;
    return DecodeUtf16(reinterpret_cast<const unsigned char*>(units_.data()), units_.size(), utf8);
  }
  return DecodeUtf16(bytes, length, utf8);
}

bool JetTextDecoder::DecodeUtf16(const unsigned char* bytes, size_t length, std::string* utf8) {
  if (length % 2 != 0) return false;
  utf8->reserve(length);
  for (size_t i = 0; i < length; i += 2) {
    unsigned unit = bytes[i] | (bytes[i + 1] << 8);
    if (unit < kHighSurrogate || unit >= kSurrogateEnd) {
      AppendUtf8(unit, utf8);
      continue;
    }
    if (unit >= kLowSurrogate || i + 3 >= length) return false;
    unsigned low = bytes[i + 2] | (bytes[i + 3] << 8);
    if (low < kLowSurrogate || low >= kSurrogateEnd) return false;
    AppendUtf8(0x10000 + ((unit - kHighSurrogate) << 10) + (low - kLowSurrogate), utf8);
    i += 2;
  }
  return true;
}

bool JetTextDecoder::DecodeCodePage(const unsigned char* bytes, size_t length, std::string* utf8) {
  bool ascii = true;
  for (size_t i = 0; i < length && ascii; ++i) ascii = bytes[i] < 0x80;
  if (ascii) {  // the same bytes in every code page libmdb knows
    utf8->assign(reinterpret_cast<const char*>(bytes), length);
    return true;
  }
  if (!iconv_) {
    iconv_t handle = iconv_open("UTF-8", code_page_name_.c_str());
    if (handle == reinterpret_cast<iconv_t>(-1)) return false;
    iconv_ = handle;
  }
  iconv(static_cast<iconv_t>(iconv_), nullptr, nullptr, nullptr, nullptr);
  utf8->resize(4 * length);
  char* in = const_cast<char*>(reinterpret_cast<const char*>(bytes));
  char* out = utf8->data();
  size_t in_left = length, out_left = utf8->size();
  // A byte the code page leaves undefined (EILSEQ) or a multi-byte
  // character cut short (EINVAL) makes the text undecodable.
  if (iconv(static_cast<iconv_t>(iconv_), &in, &in_left, &out, &out_left) == static_cast<size_t>(-1)) return false;
  utf8->resize(utf8->size() - out_left);
  return true;
}

}  // namespace tabsync::import
