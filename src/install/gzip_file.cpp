#include "install/gzip_file.h"

#include <zlib.h>

#include <memory>

namespace tabsync::install {
namespace {

namespace fe = platform::file_errors;

constexpr size_t kPiece = 1 << 20;

// deflate's stream, ended however the copy ends.
class Deflater {
 public:
  Deflater() {
    // 15 + 16: the largest window, with the gzip header and trailer.
    if (deflateInit2(&stream_, Z_BEST_SPEED, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY) != Z_OK)
      throw platform::FileError(fe::kPathFileAccess);
  }
  ~Deflater() { deflateEnd(&stream_); }
  Deflater(const Deflater&) = delete;
  Deflater& operator=(const Deflater&) = delete;

  // Compresses `input` (all of it) and appends what comes out to `out`;
  // with `finish` the stream's end too.
  void Write(std::string& input, bool finish, platform::AppendFile& out) {
    stream_.next_in = reinterpret_cast<Bytef*>(input.data());
    stream_.avail_in = static_cast<uInt>(input.size());
    std::string output(kPiece, '\0');
    int result = Z_OK;
    do {
      stream_.next_out = reinterpret_cast<Bytef*>(output.data());
      stream_.avail_out = static_cast<uInt>(output.size());
      result = deflate(&stream_, finish ? Z_FINISH : Z_NO_FLUSH);
      if (result == Z_STREAM_ERROR) throw platform::FileError(fe::kPathFileAccess);
      out.Append(std::string_view(output.data(), output.size() - stream_.avail_out));
    } while (stream_.avail_out == 0 || (finish && result != Z_STREAM_END));
  }

 private:
  z_stream stream_{};
};

}  // namespace

void GzipFile(platform::FileSystem& files, const std::string& source,
              const std::string& destination) {
  if (files.FileExists(destination) || files.IsSymbolicLink(destination))
    throw platform::FileError(fe::kFileAlreadyExists);
  // An append opening reads back what the file holds; it changes nothing.
  std::unique_ptr<platform::AppendFile> in = files.OpenForAppend(source);
  if (!in->Readable()) throw platform::FileError(fe::kPathFileAccess);
  std::unique_ptr<platform::AppendFile> out = files.OpenForAppend(destination);
  Deflater deflater;
  uint64_t size = in->Size();
  std::string piece;
  for (uint64_t offset = 0;; offset += piece.size()) {
    in->ReadAt(offset, kPiece, &piece);
    bool last = offset + piece.size() >= size || piece.empty();
    deflater.Write(piece, last, *out);
    if (last) return;
  }
}

}  // namespace tabsync::install
