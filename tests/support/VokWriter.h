#pragma once

#include <tallyfox/TreeColumns.h>

#include <array>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace testsupport {

void appendUleb128(std::vector<std::uint8_t>& out, std::uint64_t value);
std::uint64_t zigzag(std::int64_t value);
std::array<std::uint8_t, 32> sha256(std::span<const std::uint8_t> bytes);
// A zlib stream (two-byte header, deflate data, Adler-32 trailer).
std::vector<std::uint8_t> zlibCompress(std::span<const std::uint8_t> bytes);

// One record of a vok file. The fields are written as given, so a record may name any parent.
struct VokRecord {
  std::uint64_t distance = 1;
  std::uint8_t kind = 0;
  std::string name;
  std::uint64_t size = 0;
  std::int64_t mtime = 0;
  std::uint64_t ignored = 0;
  // Written, with kind bit 2, when present.
  std::optional<std::uint64_t> entryCount;

  // Forging: replaces the encoded fields, or the record length in front of them.
  std::optional<std::vector<std::uint8_t>> rawFields;
  std::optional<std::uint64_t> length;

  std::vector<std::uint8_t> fields() const;
};

// Writes vok files for tests: version 1 or 2, stored or zlib-compressed, with a correct
// digest unless told otherwise.
struct VokWriter {
  std::uint16_t version = 2;
  std::uint8_t pathEncoding = 0;
  std::vector<VokRecord> records;
  // Version 2 hints; the true values when absent.
  std::optional<std::uint64_t> nodeHint, nameHint;
  std::optional<std::uint64_t> footerCount;
  // Bytes after the digest.
  std::vector<std::uint8_t> trailer;

  // Records for the nodes of a finished tree, in id order; folders carry their stored
  // totals and entry counts.
  static VokWriter fromColumns(const tallyfox::TreeColumns& columns, std::uint16_t version = 2);

  VokWriter& add(VokRecord record);
  // The decompressed stream: header, records, footer and digest.
  std::vector<std::uint8_t> stream() const;
  std::vector<std::uint8_t> bytes(bool compressed) const;
  void write(const std::filesystem::path& path, bool compressed) const;
};

}  // namespace testsupport
