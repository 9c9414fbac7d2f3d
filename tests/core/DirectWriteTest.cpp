#include "../../core/src/linux/DirectWrite.h"
#include "../../core/src/linux/FileIO.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <random>
#include <stdexcept>
#include <thread>
#include <utility>
#include <vector>

using namespace tallyfox;

namespace {

using Span = std::pair<std::uint64_t, std::uint64_t>;  // from, to

// Writes `file` with bytes of its own at each span (the rest zeros) through DirectWrite,
// two threads taking the spans in turn and handing each over in pieces of random sizes;
// returns what the file should hold.
std::vector<std::uint8_t> writeSpans(const std::filesystem::path& file, std::uint64_t length,
                                     const std::vector<Span>& spans) {
  std::vector<std::uint8_t> expected(length, 0);
  std::mt19937 random(7);
  for (const auto& [from, to] : spans)
    for (std::uint64_t at = from; at < to; ++at) expected[at] = std::uint8_t(1 + random() % 255);

  FileIO::Descriptor fd(::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
  if (!fd) throw std::runtime_error("cannot create " + file.string());
  FileIO::setLength(fd.get(), length);
  FileIO::DirectWrite direct(fd.get(), length);
  auto writer = [&](std::size_t first, unsigned seed) {
    std::mt19937 pieces(seed);
    for (std::size_t i = first; i < spans.size(); i += 2) {
      FileIO::DirectWrite::Range range(direct, spans[i].first);
      for (std::uint64_t at = spans[i].first; at < spans[i].second;) {
        const std::uint64_t n = std::min<std::uint64_t>(1 + pieces() % 70000, spans[i].second - at);
        range.put({expected.data() + at, n});
        at += n;
      }
      range.close();
    }
  };
  std::thread second(writer, 1, 2u);
  writer(0, 1u);
  second.join();
  direct.finish();
  return expected;
}

}  // namespace

// Columns of a snapshot as the writer lays them out: a header at the start, neighbours that
// share blocks, a column wholly inside one block, gaps, one longer than the writer's buffer,
// and an end that is not on a block boundary. Whatever the file system (with the cache
// bypassed, or through it where it refuses), the file reads back byte for byte.
TEST(DirectWrite, RangesThatShareBlocksAndGapsReadBackExactly) {
  testsupport::TempDir dir;
  constexpr std::uint64_t block = FileIO::DirectWrite::blockBytes;
  const std::uint64_t length = 3 * 1024 * 1024 + 123;
  const std::vector<Span> spans = {
      {0, 100},                         // the header
      {104, 4000},                      // shares block 0 with it
      {4000, 4000},                     // empty
      {4000, 4100},                     // crosses into block 1
      {2 * block, 3 * block},           // exactly one block
      {3 * block + 5, 3 * block + 17},  // inside one block
      {20000, 20000 + 2621440 + 7},     // longer than a buffer, both ends inside blocks
      {2700000, 2700008},               // between two gaps
      {length - 5000, length},          // the end, short of a block boundary
  };
  const auto expected = writeSpans(dir.path() / "columns", length, spans);
  EXPECT_EQ(testsupport::readBytes(dir.path() / "columns"), expected);
}

TEST(DirectWrite, AFileShorterThanOneBlock) {
  testsupport::TempDir dir;
  const auto expected = writeSpans(dir.path() / "small", 50, {{0, 8}, {8, 50}});
  EXPECT_EQ(testsupport::readBytes(dir.path() / "small"), expected);
}
