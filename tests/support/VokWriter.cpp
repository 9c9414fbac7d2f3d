#include "VokWriter.h"

#include "TestSupport.h"

#include <openssl/evp.h>
#include <zlib.h>

#include <stdexcept>

namespace testsupport {

void appendUleb128(std::vector<std::uint8_t>& out, std::uint64_t value) {
  do {
    std::uint8_t b = value & 0x7F;
    value >>= 7;
    if (value) b |= 0x80;
    out.push_back(b);
  } while (value);
}

std::uint64_t zigzag(std::int64_t value) {
  return (std::uint64_t(value) << 1) ^ std::uint64_t(value >> 63);
}

std::array<std::uint8_t, 32> sha256(std::span<const std::uint8_t> bytes) {
  std::array<std::uint8_t, 32> digest{};
  unsigned length = 0;
  if (EVP_Digest(bytes.data(), bytes.size(), digest.data(), &length, EVP_sha256(), nullptr) != 1)
    throw std::runtime_error("SHA-256 failed");
  return digest;
}

std::vector<std::uint8_t> zlibCompress(std::span<const std::uint8_t> bytes) {
  uLongf length = compressBound(uLong(bytes.size()));
  std::vector<std::uint8_t> out(length);
  if (compress2(out.data(), &length, bytes.data(), uLong(bytes.size()), 6) != Z_OK)
    throw std::runtime_error("compress2 failed");
  out.resize(length);
  return out;
}

std::vector<std::uint8_t> VokRecord::fields() const {
  if (rawFields) return *rawFields;
  std::vector<std::uint8_t> out;
  appendUleb128(out, distance);
  out.push_back(std::uint8_t(entryCount ? kind | 4 : kind & ~4));
  appendUleb128(out, name.size());
  out.insert(out.end(), name.begin(), name.end());
  appendUleb128(out, size);
  appendUleb128(out, zigzag(mtime));
  appendUleb128(out, ignored);
  if (entryCount) appendUleb128(out, *entryCount);
  return out;
}

VokWriter VokWriter::fromColumns(const tallyfox::TreeColumns& columns, std::uint16_t version) {
  VokWriter writer;
  writer.version = version;
  for (std::size_t id = 1; id < columns.parent.size(); ++id) {
    VokRecord record;
    record.distance = id - std::size_t(columns.parent[id]);
    record.kind = columns.flags[id] & 3;
    record.name.assign(columns.names.begin() + columns.nameOffset[id],
                       columns.names.begin() + columns.nameOffset[id + 1]);
    record.size = columns.size[id];
    record.mtime = columns.mtime[id];
    record.ignored = id * 3;
    if (columns.entryCount[id] != 1 || (columns.flags[id] & tallyfox::EntryFlags::directory))
      record.entryCount = columns.entryCount[id];
    writer.records.push_back(std::move(record));
  }
  return writer;
}

VokWriter& VokWriter::add(VokRecord record) {
  records.push_back(std::move(record));
  return *this;
}

std::vector<std::uint8_t> VokWriter::stream() const {
  std::vector<std::uint8_t> out = {'V', 'O', 'K', 'S', 'N', 'A', 'P', 0};
  out.push_back(std::uint8_t(version & 0xFF));
  out.push_back(std::uint8_t(version >> 8));
  out.push_back(pathEncoding);
  out.push_back(0xA5);  // reserved, not examined
  if (version == 2) {
    std::uint64_t nameBytes = 0;
    for (const VokRecord& r : records) nameBytes += r.name.size();
    appendUleb128(out, nodeHint.value_or(records.size()));
    appendUleb128(out, nameHint.value_or(nameBytes));
  }
  for (const VokRecord& r : records) {
    const auto fields = r.fields();
    appendUleb128(out, r.length.value_or(fields.size()));
    out.insert(out.end(), fields.begin(), fields.end());
  }
  out.push_back(0);
  appendUleb128(out, footerCount.value_or(records.size()));
  const auto digest = sha256(out);
  out.insert(out.end(), digest.begin(), digest.end());
  out.insert(out.end(), trailer.begin(), trailer.end());
  return out;
}

std::vector<std::uint8_t> VokWriter::bytes(bool compressed) const {
  const auto plain = stream();
  return compressed ? zlibCompress(plain) : plain;
}

void VokWriter::write(const std::filesystem::path& path, bool compressed) const {
  writeBytes(path, bytes(compressed));
}

}  // namespace testsupport
