#ifndef TABSYNC_TESTS_SUPPORT_GUNZIP_H_
#define TABSYNC_TESTS_SUPPORT_GUNZIP_H_

#include <zlib.h>

#include <string>

namespace tabsync::test {

// The bytes a gzip file holds, as zcat gives them; "(not gzip)" when it is
// none or is cut off.
inline std::string Gunzip(const std::string& gzip) {
  z_stream stream{};
  if (inflateInit2(&stream, 15 + 16) != Z_OK) return "(not gzip)";
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(gzip.data()));
  stream.avail_in = static_cast<uInt>(gzip.size());
  std::string text;
  char out[4096];
  int result = Z_OK;
  while (result == Z_OK) {
    stream.next_out = reinterpret_cast<Bytef*>(out);
    stream.avail_out = sizeof out;
    result = inflate(&stream, Z_NO_FLUSH);
    text.append(out, sizeof out - stream.avail_out);
  }
  inflateEnd(&stream);
  return result == Z_STREAM_END ? text : "(not gzip)";
}

}  // namespace tabsync::test

#endif  // TABSYNC_TESTS_SUPPORT_GUNZIP_H_
