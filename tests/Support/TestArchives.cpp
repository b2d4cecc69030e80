#include "Support/TestArchives.h"

#include <zip.h>
#include <zlib.h>

#include <stdexcept>

#include "Support/LoopbackServer.h"

namespace tolvane::test {
namespace {

void check(bool ok, const char* step) {
  if (!ok) throw std::runtime_error(std::string("making a test jar failed at ") + step);
}

constexpr const char* kEntryName = "tolvane/launcher.txt";
// A fixed time, so equal contents make equal archives.
constexpr time_t kEntryTime = 1'700'000'000;

// Adds `content` to `archive` as a stored entry, so the archive's size follows the entry's.
void addEntry(zip_t* archive, zip_source_t* content) {
  const zip_int64_t index = zip_file_add(archive, kEntryName, content, 0);
  if (index < 0) zip_source_free(content);
  check(index >= 0, "add");
  const auto entry = static_cast<zip_uint64_t>(index);
  check(zip_set_file_compression(archive, entry, ZIP_CM_STORE, 0) == 0, "compression");
  check(zip_file_set_mtime(archive, entry, kEntryTime, 0) == 0, "time");
}

}  // namespace

std::string testJar(std::string_view marker) {
  // Written into memory; the buffer source outlives the archive, which zip_close frees.
  zip_error_t error;
  zip_error_init(&error);
  zip_source_t* buffer = zip_source_buffer_create(nullptr, 0, 0, &error);
  check(buffer != nullptr, "buffer");
  zip_source_keep(buffer);
  zip_t* archive = zip_open_from_source(buffer, ZIP_TRUNCATE, &error);
  check(archive != nullptr, "open");
  addEntry(archive, zip_source_buffer(archive, marker.data(), marker.size(), 0));
  check(zip_close(archive) == 0, "close");

  check(zip_source_open(buffer) == 0, "reopen");
  std::string bytes;
  char chunk[64 * 1024];
  for (zip_int64_t read; (read = zip_source_read(buffer, chunk, sizeof chunk)) > 0;)
    bytes.append(chunk, static_cast<std::size_t>(read));
  zip_source_close(buffer);
  zip_source_free(buffer);
  zip_error_fini(&error);
  return bytes;
}

std::string testJarOfSize(std::size_t size, std::uint32_t seed) {
  const std::size_t overhead = testJar("").size();
  if (size < overhead) throw std::invalid_argument("a test jar needs more bytes");
  return testJar(patternBytes(size - overhead, seed));
}

void writeTestJar(const std::filesystem::path& file, const std::filesystem::path& content) {
  int code = 0;
  zip_t* archive = zip_open(file.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &code);
  check(archive != nullptr, "create");
  // A length of 0: all of the file.
  addEntry(archive, zip_source_file(archive, content.c_str(), 0, 0));
  check(zip_close(archive) == 0, "write");
}

std::string gzipped(std::string_view text) {
  z_stream stream{};
  // 15 window bits plus 16: a gzip wrapper instead of zlib's.
  check(deflateInit2(&stream, Z_DEFAULT_COMPRESSION, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY) ==
            Z_OK,
        "gzip");
  std::string coded(deflateBound(&stream, static_cast<uLong>(text.size())), '\0');
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
  stream.avail_in = static_cast<uInt>(text.size());
  stream.next_out = reinterpret_cast<Bytef*>(coded.data());
  stream.avail_out = static_cast<uInt>(coded.size());
  const int result = deflate(&stream, Z_FINISH);
  coded.resize(stream.total_out);
  deflateEnd(&stream);
  check(result == Z_STREAM_END, "gzip");
  return coded;
}

}  // namespace tolvane::test
