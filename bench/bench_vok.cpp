// Decoding a vok file of 1,000,000 records, stored and zlib-compressed: records per second,
// and the peak resident memory of a process that does nothing but decode one file.
#include <tallyfox/VokSnapshotReader.h>

#include <benchmark/benchmark.h>
#include <openssl/evp.h>
#include <zlib.h>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

using namespace tallyfox;

namespace {

// 100 top folders x 99 folders x 100 files = 1,000,000 records.
constexpr int tops = 100, subs = 99, files = 100;
constexpr std::int64_t recordCount = tops + tops * subs + std::int64_t(tops) * subs * files;
constexpr std::uint64_t fileSize = 4096;

// Streams the decompressed bytes into a file, hashing them and deflating them on the way.
class StreamWriter {
 public:
  StreamWriter(const std::filesystem::path& path, bool compressed)
      : out_(path, std::ios::binary | std::ios::trunc), compressed_(compressed), hasher_(EVP_MD_CTX_new()) {
    EVP_DigestInit_ex(hasher_, EVP_sha256(), nullptr);
    if (compressed_ && deflateInit(&stream_, 6) != Z_OK) throw std::runtime_error("deflateInit failed");
  }
  ~StreamWriter() {
    EVP_MD_CTX_free(hasher_);
    if (compressed_) deflateEnd(&stream_);
  }

  void put(const std::vector<std::uint8_t>& bytes, bool hashed = true) {
    if (hashed) EVP_DigestUpdate(hasher_, bytes.data(), bytes.size());
    pending_.insert(pending_.end(), bytes.begin(), bytes.end());
    if (pending_.size() > (1 << 16)) flush(Z_NO_FLUSH);
  }

  std::vector<std::uint8_t> digest() {
    std::vector<std::uint8_t> out(32);
    unsigned length = 0;
    EVP_DigestFinal_ex(hasher_, out.data(), &length);
    return out;
  }

  void finish() {
    flush(Z_FINISH);
    out_.close();
  }

 private:
  void flush(int mode) {
    if (!compressed_) {
      out_.write(reinterpret_cast<const char*>(pending_.data()), std::streamsize(pending_.size()));
      pending_.clear();
      return;
    }
    stream_.next_in = pending_.data();
    stream_.avail_in = uInt(pending_.size());
    std::vector<std::uint8_t> chunk(1 << 16);
    int rc;
    do {
      stream_.next_out = chunk.data();
      stream_.avail_out = uInt(chunk.size());
      rc = deflate(&stream_, mode);
      out_.write(reinterpret_cast<const char*>(chunk.data()),
                 std::streamsize(chunk.size() - stream_.avail_out));
    } while (stream_.avail_out == 0 || (mode == Z_FINISH && rc != Z_STREAM_END));
    pending_.clear();
  }

  std::ofstream out_;
  bool compressed_;
  EVP_MD_CTX* hasher_;
  z_stream stream_{};
  std::vector<std::uint8_t> pending_;
};

void uleb(std::vector<std::uint8_t>& out, std::uint64_t v) {
  do {
    std::uint8_t b = v & 0x7F;
    v >>= 7;
    out.push_back(v ? b | 0x80 : b);
  } while (v);
}

void generate(const std::filesystem::path& path, bool compressed) {
  StreamWriter w(path, compressed);
  std::uint64_t nameBytes = 0;
  w.put({'V', 'O', 'K', 'S', 'N', 'A', 'P', 0, 2, 0, 0, 0});
  std::vector<std::uint8_t> hints;
  uleb(hints, std::uint64_t(recordCount));
  uleb(hints, std::uint64_t(recordCount) * 12);
  w.put(hints);
  std::int64_t record = 0;
  auto add = [&](std::int64_t parent, bool folder, const std::string& name, std::uint64_t size,
                 std::uint64_t count) {
    ++record;
    std::vector<std::uint8_t> fields;
    uleb(fields, std::uint64_t(record - parent));
    fields.push_back(folder ? 1 | 4 : 0);
    uleb(fields, name.size());
    fields.insert(fields.end(), name.begin(), name.end());
    uleb(fields, size);
    uleb(fields, std::uint64_t(1'700'000'000 + record % 100'000) << 1);
    uleb(fields, 0);
    if (folder) uleb(fields, count);
    std::vector<std::uint8_t> out;
    uleb(out, fields.size());
    out.insert(out.end(), fields.begin(), fields.end());
    w.put(out);
    nameBytes += name.size();
    return record;
  };
  for (int t = 0; t < tops; ++t) {
    const std::int64_t top =
        add(0, true, "top" + std::to_string(t), fileSize * subs * files, subs * (files + 1));
    for (int s = 0; s < subs; ++s) {
      const std::int64_t sub = add(top, true, "folder" + std::to_string(s), fileSize * files, files);
      for (int f = 0; f < files; ++f) add(sub, false, "file" + std::to_string(f) + ".dat", fileSize, 1);
    }
  }
  std::vector<std::uint8_t> footer = {0};
  uleb(footer, std::uint64_t(record));
  w.put(footer);
  w.put(w.digest(), false);
  w.finish();
}

std::filesystem::path dataDir;

std::filesystem::path fileFor(bool compressed) {
  return dataDir / (compressed ? "tree-z.vok" : "tree.vok");
}

void BM_VokDecode(benchmark::State& state) {
  const auto path = fileFor(state.range(0) != 0);
  for (auto _ : state) {
    auto decoded = VokSnapshotReader::decodeColumns(path);
    benchmark::DoNotOptimize(decoded.columns.size.data());
  }
  state.SetItemsProcessed(state.iterations() * recordCount);
  state.counters["file MB"] = double(std::filesystem::file_size(path)) / 1e6;
}
BENCHMARK(BM_VokDecode)->Arg(0)->Arg(1)->ArgName("compressed")->Unit(benchmark::kMillisecond);

long maxRssKiB() {
  rusage usage{};
  ::getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

// Peak memory of decoding in a fresh child process, so that nothing else the benchmark
// did counts.
void reportPeakMemory(bool compressed) {
  int pipeFds[2];
  if (::pipe(pipeFds) != 0) return;
  const pid_t child = ::fork();
  if (child == 0) {
    ::close(pipeFds[0]);
    const long before = maxRssKiB();
    const auto start = std::chrono::steady_clock::now();
    const auto decoded = VokSnapshotReader::decodeColumns(fileFor(compressed));
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const long after = maxRssKiB();
    const auto& c = decoded.columns;
    // What the result alone occupies: nine columns and the names.
    const double columnsMB =
        double(c.parent.size() * (4 + 8 + 4 + 4 + 1 + 4 + 4 + 4) + 4 + c.names.size()) / 1e6;
    char line[256];
    const int n = std::snprintf(line, sizeof line,
                                "%-10s peak RSS %6.1f MB (process before %5.1f MB, growth %6.1f MB; result "
                                "columns %5.1f MB) in %.3f s, %.2f M records/s\n",
                                compressed ? "compressed" : "stored", after / 1024.0, before / 1024.0,
                                (after - before) / 1024.0, columnsMB, seconds, recordCount / seconds / 1e6);
    if (n > 0) (void)!::write(pipeFds[1], line, std::size_t(n));
    ::_exit(0);
  }
  ::close(pipeFds[1]);
  char buffer[512];
  const ssize_t n = ::read(pipeFds[0], buffer, sizeof buffer - 1);
  ::close(pipeFds[0]);
  ::waitpid(child, nullptr, 0);
  if (n > 0) std::fwrite(buffer, 1, std::size_t(n), stdout);
}

}  // namespace

int main(int argc, char** argv) {
  char pattern[] = "/tmp/tallyfox-bench-vok-XXXXXX";
  if (!::mkdtemp(pattern)) return 1;
  dataDir = pattern;
  generate(fileFor(false), false);
  generate(fileFor(true), true);
  std::printf("%lld records; stored %.1f MB, compressed %.1f MB\n", static_cast<long long>(recordCount),
              double(std::filesystem::file_size(fileFor(false))) / 1e6,
              double(std::filesystem::file_size(fileFor(true))) / 1e6);
  reportPeakMemory(false);
  reportPeakMemory(true);
  std::fflush(stdout);

  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  std::filesystem::remove_all(dataDir);
  return 0;
}
