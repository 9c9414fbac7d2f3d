#include <tallyfox/VokSnapshotReader.h>

#include "linux/FileIO.h"
#include "linux/MappingGuard.h"

#include <tallyfox/EntryNames.h>
#include <tallyfox/FileChangedError.h>
#include <tallyfox/SnapshotPaths.h>
#include <tallyfox/TreeColumnsBuilder.h>
#include <tallyfox/Unicode.h>

#include <openssl/evp.h>
#include <zlib.h>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>
#include <memory>
#include <system_error>
#include <utility>

namespace tallyfox::VokSnapshotReader {

namespace {

constexpr std::size_t headerBytes = 12;
constexpr std::size_t digestBytes = 32;
constexpr std::uint64_t maxNodeHint = 50'000'000;
constexpr std::uint64_t maxNameHint = 4'000'000'000;
constexpr std::uint64_t progressInterval = 65'536;
constexpr std::size_t topNameLimit = 12;
// Record numbers become node ids.
constexpr std::uint64_t maxRecords = std::numeric_limits<NodeId>::max();
// Length, parent distance, kind, name length, size, time and the ignored field: one byte each
// at the least. Bounds how many records a stream of a given length can hold.
constexpr std::uint64_t minRecordBytes = 7;
// For bounding reservations only: record streams compress far less than this (deflate's
// own limit is about 1032:1). A stream that does expand more still decodes; its columns
// then grow as records arrive instead of being reserved up front.
constexpr std::uint64_t reservedInflateRatio = 64;
constexpr std::uint64_t maxUInt32 = std::numeric_limits<std::uint32_t>::max();
// zlib counts input in 32-bit units; hand it the source in slices below that.
constexpr std::size_t inflateSlice = std::size_t(1) << 30;
constexpr std::size_t smallWindowBytes = 64 * 1024;

[[noreturn]] void fail(std::string message) {
  throw FormatError(std::move(message));
}

bool isZlibHeader(std::span<const std::uint8_t> source) {
  if (source.size() < 2) return false;
  const unsigned cmf = source[0], flg = source[1];
  return (cmf & 0x8F) == 0x08 && ((cmf << 8) | flg) % 31 == 0 && !(flg & 0x20);
}

std::uint64_t saturatingAdd(std::uint64_t a, std::uint64_t b) {
  return b > std::numeric_limits<std::uint64_t>::max() - a ? std::numeric_limits<std::uint64_t>::max()
                                                           : a + b;
}

// Called with how many source bytes the reader has taken so far; lets a mapped source give
// back the pages behind the reading position.
using SourceRelease = std::function<void(std::size_t)>;

// The decompressed (or stored) stream seen through a fixed window. Every byte taken from
// the window is hashed before the window moves on, so the digest covers the whole stream.
class ByteInput {
 public:
  ByteInput(std::span<const std::uint8_t> source, SourceRelease release)
      : source_(source),
        release_(std::move(release)),
        compressed_(isZlibHeader(source)),
        // Small files never need the whole window: a stored source gets its own size, a
        // compressed one a small start that grows to the window once the stream outlasts it.
        capacity_(compressed_ ? smallWindowBytes
                              : std::min(windowBytes, std::max<std::size_t>(source.size(), 64))),
        buffer_(std::make_unique_for_overwrite<std::uint8_t[]>(capacity_)),
        hasher_(EVP_MD_CTX_new(), &EVP_MD_CTX_free) {
    if (!hasher_ || EVP_DigestInit_ex(hasher_.get(), EVP_sha256(), nullptr) != 1)
      throw std::runtime_error("SHA-256 is not available");
    if (!compressed_) return;
    sourceOffset_ = 2;
    if (inflateInit2(&stream_, -15) != Z_OK) fail("could not start decompression");
    inflating_ = true;
  }
  ~ByteInput() {
    if (inflating_) inflateEnd(&stream_);
  }
  ByteInput(const ByteInput&) = delete;
  ByteInput& operator=(const ByteInput&) = delete;

  // The next n bytes, valid until the next read.
  const std::uint8_t* bytes(std::uint64_t n) {
    if (n > maxFieldBytes) fail("field too long");
    while (end_ - position_ < n) refill(std::size_t(n));
    const std::uint8_t* p = buffer_.get() + position_;
    position_ += std::size_t(n);
    return p;
  }

  std::uint8_t byte() {
    if (position_ == end_) refill(1);
    return buffer_[position_++];
  }

  std::uint64_t uleb128() {
    std::uint64_t value = 0;
    for (unsigned shift = 0;; shift += 7) {
      const std::uint8_t b = byte();
      // The tenth byte holds bit 63 only.
      if (shift == 63 && (b & 0xFE)) fail("integer overflows 64 bits");
      value |= std::uint64_t(b & 0x7F) << shift;
      if (!(b & 0x80)) return value;
    }
  }

  // Up to 128 value bits; anything that does not fit 64 bits reads as the largest value.
  std::uint64_t uleb128Clamped() {
    std::uint64_t value = 0;
    bool tooLarge = false;
    for (unsigned index = 0;; ++index) {
      const std::uint8_t b = byte();
      if (index == 18 && (b & 0x80)) fail("integer overflows 128 bits");
      const std::uint64_t bits = b & 0x7F;
      const unsigned shift = 7 * index;
      if (shift < 64) {
        value |= bits << shift;
        if (shift == 63 && bits > 1) tooLarge = true;
      } else if (bits) {
        tooLarge = true;
      }
      if (!(b & 0x80)) return tooLarge ? std::numeric_limits<std::uint64_t>::max() : value;
    }
  }

  // Stream offset of the next byte.
  std::uint64_t consumed() const { return bufferBase_ + position_; }

  void hashPending() {
    if (!hashing_) return;
    if (position_ > hashedUpTo_)
      EVP_DigestUpdate(hasher_.get(), buffer_.get() + hashedUpTo_, position_ - hashedUpTo_);
    hashedUpTo_ = position_;
  }

  // The digest of everything taken so far. Ends the hashing.
  std::array<std::uint8_t, digestBytes> digest() {
    hashPending();
    std::array<std::uint8_t, digestBytes> out{};
    unsigned length = 0;
    EVP_DigestFinal_ex(hasher_.get(), out.data(), &length);
    hashing_ = false;
    return out;
  }

  double fraction() const {
    if (source_.empty()) return 1;
    return double(sourceOffset_) / double(source_.size());
  }

  // How long the stream can be believed to be, for bounding reservations.
  std::uint64_t plausibleLength() const {
    const std::uint64_t n = source_.size();
    if (!compressed_) return n;
    if (n > std::numeric_limits<std::uint64_t>::max() / reservedInflateRatio)
      return std::numeric_limits<std::uint64_t>::max();
    return n * reservedInflateRatio;
  }

 private:
  // Makes room for at least `need` unread bytes and reads more of the stream.
  void refill(std::size_t need) {
    hashPending();
    const std::size_t unread = end_ - position_;
    if (compressed_ && capacity_ < windowBytes && (need > capacity_ || filled_)) {
      auto larger = std::make_unique_for_overwrite<std::uint8_t[]>(windowBytes);
      std::memcpy(larger.get(), buffer_.get() + position_, unread);
      buffer_ = std::move(larger);
      capacity_ = windowBytes;
    } else {
      std::memmove(buffer_.get(), buffer_.get() + position_, unread);
    }
    filled_ = true;
    bufferBase_ += position_;
    position_ = 0;
    hashedUpTo_ = 0;
    end_ = unread;
    if (compressed_)
      inflateMore();
    else
      copyMore();
    if (release_) release_(sourceOffset_);
  }

  void copyMore() {
    const std::size_t count = std::min(capacity_ - end_, source_.size() - sourceOffset_);
    if (count == 0) fail("file is truncated");
    std::memcpy(buffer_.get() + end_, source_.data() + sourceOffset_, count);
    sourceOffset_ += count;
    end_ += count;
  }

  void inflateMore() {
    if (finished_) fail("file is truncated");
    stream_.next_out = buffer_.get() + end_;
    stream_.avail_out = uInt(capacity_ - end_);
    while (stream_.avail_out > 0) {
      if (stream_.avail_in == 0) {
        const std::size_t slice = std::min(source_.size() - sourceOffset_, inflateSlice);
        stream_.next_in = const_cast<Bytef*>(source_.data() + sourceOffset_);
        stream_.avail_in = uInt(slice);
      }
      const uInt before = stream_.avail_in;
      const int rc = inflate(&stream_, Z_NO_FLUSH);
      sourceOffset_ += before - stream_.avail_in;
      if (rc == Z_STREAM_END) {
        finished_ = true;
        break;
      }
      if (rc == Z_BUF_ERROR) break;  // no input left and nothing more to produce
      if (rc != Z_OK) fail("decompression failed");
    }
    const std::size_t produced = std::size_t(stream_.next_out - (buffer_.get() + end_));
    if (produced == 0) fail("file is truncated");
    end_ += produced;
  }

  std::span<const std::uint8_t> source_;
  SourceRelease release_;
  bool compressed_;
  std::size_t capacity_;
  std::unique_ptr<std::uint8_t[]> buffer_;
  z_stream stream_{};
  bool inflating_ = false;
  bool finished_ = false;
  // Source bytes taken: copied when stored, handed to the decoder when compressed.
  std::size_t sourceOffset_ = 0;
  std::size_t position_ = 0, end_ = 0, hashedUpTo_ = 0;
  bool filled_ = false;
  std::uint64_t bufferBase_ = 0;
  bool hashing_ = true;
  std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> hasher_{nullptr, &EVP_MD_CTX_free};
};

// The largest top-level entries seen so far: by size, largest first, earlier records first
// among equal sizes.
class TopEntries {
 public:
  void offer(std::uint64_t size, std::uint32_t id) {
    std::size_t at = count_;
    while (at > 0 && entries_[at - 1].size < size) --at;
    if (at >= topNameLimit) return;
    const std::size_t last = std::min(count_, topNameLimit - 1);
    for (std::size_t k = last; k > at; --k) entries_[k] = entries_[k - 1];
    entries_[at] = {size, id};
    count_ = std::min(count_ + 1, topNameLimit);
  }

  std::vector<std::string> names(const TreeColumnsBuilder& builder) const {
    std::vector<std::string> out;
    for (std::size_t k = 0; k < count_; ++k) {
      const std::uint32_t id = entries_[k].id;
      out.push_back(Unicode::decodeLossy(builder.name(id)));
    }
    return out;
  }

 private:
  struct Entry {
    std::uint64_t size;
    std::uint32_t id;
  };
  std::array<Entry, topNameLimit> entries_{};
  std::size_t count_ = 0;
};

Decoded decodeSource(std::span<const std::uint8_t> source, const Progress& progress, SourceRelease release) {
  ByteInput in(source, std::move(release));

  const std::uint8_t* head = in.bytes(headerBytes);
  if (std::memcmp(head, magic.data(), magic.size()) != 0) fail("bad magic");
  const unsigned version = unsigned(head[8]) | unsigned(head[9]) << 8;
  if (version != 1 && version != 2) fail("unsupported version " + std::to_string(version));
  if (head[10] != 0) fail("path encoding " + std::to_string(head[10]) + " is not Unix");

  TreeColumnsBuilder builder;
  if (version == 2) {
    const std::uint64_t nodeHint = in.uleb128();
    const std::uint64_t nameHint = in.uleb128();
    // A forged hint must not reserve more than the file can hold.
    const std::uint64_t capacity = in.plausibleLength();
    const std::uint64_t nodes = std::min({nodeHint, maxNodeHint, capacity / minRecordBytes});
    const std::uint64_t nameBytes = std::min({nameHint, maxNameHint, capacity});
    builder.reserve(std::size_t(nodes) + 1, std::size_t(nameBytes));
  }
  builder.set(0, -1, {}, 0, 0, 1, EntryFlags::directory);

  std::uint64_t record = 0;
  std::uint64_t rootSize = 0, rootCount = 0;
  TopEntries top;
  double reported = 0;
  for (;;) {
    const std::uint64_t length = in.uleb128();
    if (length == 0) break;
    if (record == maxRecords) fail("too many records");
    ++record;
    const std::uint64_t start = in.consumed();

    const std::uint64_t distance = in.uleb128();
    if (distance == 0 || distance > record) fail("bad parent distance in record " + std::to_string(record));
    const NodeId parent = NodeId(record - distance);
    const std::uint8_t kind = in.byte();
    const std::uint64_t nameLength = in.uleb128();
    const std::uint8_t* name = in.bytes(nameLength);
    // vok scans folders, so its names are the kernel's; any other would lead a path built from
    // it out of its folder. Top-level records may name whole paths, as in a joined tree.
    const std::string_view nameText(reinterpret_cast<const char*>(name), std::size_t(nameLength));
    if (parent == 0 ? !EntryNames::isTopLevelName(nameText) : !EntryNames::isEntryName(nameText))
      fail("record " + std::to_string(record) + " is named " + EntryNames::quoted(nameText) +
           ", which no file can be");
    // The name lives in the window only until the next read, so it goes to the builder now
    // and the numbers after it are filled in below.
    builder.set(std::size_t(record), parent, {name, std::size_t(nameLength)}, 0, 0, 1, kind & 3);
    const std::uint64_t size = in.uleb128Clamped();
    const std::uint64_t zigzag = in.uleb128();
    const std::int64_t mtime = std::int64_t(zigzag >> 1) ^ -std::int64_t(zigzag & 1);
    in.uleb128();
    const std::uint64_t count = (kind & 4) ? std::min(in.uleb128(), maxUInt32) : 1;
    if (in.consumed() - start != length)
      fail("record " + std::to_string(record) + " length does not match its fields");

    builder.size[record] = size;
    builder.mtime[record] = clampTime(mtime);
    builder.setEntryCount(std::size_t(record), std::uint32_t(count));
    if (parent == 0) {
      rootSize = saturatingAdd(rootSize, size);
      rootCount += count;
      top.offer(size, std::uint32_t(record));
    }

    if (progress && record % progressInterval == 0) {
      const double done = in.fraction();
      if (done > reported + 0.01) {
        reported = done;
        progress(done);
      }
    }
  }

  const std::uint64_t footer = in.uleb128();
  if (footer != record)
    fail("footer names " + std::to_string(footer) + " nodes but read " + std::to_string(record));
  const auto computed = in.digest();
  if (std::memcmp(in.bytes(digestBytes), computed.data(), digestBytes) != 0) fail("checksum mismatch");

  builder.size[0] = rootSize;
  builder.setEntryCount(0, std::uint32_t(std::min(rootCount, maxUInt32)));
  builder.flags[0] = EntryFlags::directory;
  if (progress) progress(1.0);

  Decoded out;
  out.topNames = top.names(builder);
  // Records carry their subtree totals already.
  out.columns = std::move(builder).build(false, EntryFlags::directory);
  if (const auto repeated = EntryNames::firstRepeated(out.columns)) {
    const std::string where =
        repeated->folder == 0
            ? std::string("at the top level")
            : "in " + EntryNames::quoted(EntryNames::pathIn(out.columns, {}, repeated->folder));
    fail("two records " + where + " are named " + EntryNames::quoted(repeated->name));
  }
  return out;
}

// A whole file mapped read-only. Pages behind the reading position are given back as the
// reader moves on, so a large file does not stay resident. The mapping is guarded: a file
// cut short while it is decoded reads as zeros past its new end, and changed() says so.
class MappedSource {
 public:
  explicit MappedSource(const std::filesystem::path& path) {
    struct stat st;
    FileIO::Descriptor fd = FileIO::openRegularFile(path, &st);
    modified_ =
        std::chrono::system_clock::time_point(std::chrono::duration_cast<std::chrono::system_clock::duration>(
            std::chrono::seconds(st.st_mtim.tv_sec) + std::chrono::nanoseconds(st.st_mtim.tv_nsec)));
    if (st.st_size <= 0) return;
    void* base = ::mmap(nullptr, std::size_t(st.st_size), PROT_READ, MAP_PRIVATE, fd.get(), 0);
    if (base == MAP_FAILED) FileIO::throwErrno();
    base_ = static_cast<std::uint8_t*>(base);
    length_ = std::size_t(st.st_size);
    try {
      guard_ = std::make_unique<MappingGuard>(base_, length_, path, st);
    } catch (...) {
      ::munmap(base_, length_);
      throw;
    }
    ::madvise(base_, length_, MADV_SEQUENTIAL);
  }
  ~MappedSource() {
    guard_.reset();
    if (base_) ::munmap(base_, length_);
  }
  MappedSource(const MappedSource&) = delete;
  MappedSource& operator=(const MappedSource&) = delete;

  std::span<const std::uint8_t> bytes() const { return {base_, length_}; }
  std::chrono::system_clock::time_point modified() const { return modified_; }
  bool changed() const { return guard_ && guard_->changed(); }

  void release(std::size_t upTo) {
    static const std::size_t page = std::size_t(::sysconf(_SC_PAGESIZE));
    const std::size_t end = std::min(upTo, length_) / page * page;
    if (end <= released_) return;
    ::madvise(base_ + released_, end - released_, MADV_DONTNEED);
    released_ = end;
  }

 private:
  std::uint8_t* base_ = nullptr;
  std::size_t length_ = 0;
  std::size_t released_ = 0;
  std::chrono::system_clock::time_point modified_;
  std::unique_ptr<MappingGuard> guard_;
};

bool existsUnder(const std::string& folder, const std::string& name) {
  if (name.empty() || name == "." || name == ".." || name.find('/') != std::string::npos) return false;
  struct stat st;
  return ::lstat(PathText::appendComponent(folder, name).c_str(), &st) == 0;
}

}  // namespace

Decoded decode(std::span<const std::uint8_t> source, const Progress& progress) {
  return decodeSource(source, progress, {});
}

DecodedSnapshot decodeColumns(const std::filesystem::path& path, const Progress& progress) {
  DecodedSnapshot out;
  std::vector<std::string> topNames;
  {
    MappedSource source(path);
    Decoded decoded;
    try {
      decoded = decodeSource(source.bytes(), progress, [&source](std::size_t upTo) { source.release(upTo); });
    } catch (...) {
      // Zeros where the file was cut short make no sense as records: the fault is not the
      // format's.
      if (source.changed()) throw FileChangedError(path);
      throw;
    }
    if (source.changed()) throw FileChangedError(path);
    out.columns = std::move(decoded.columns);
    topNames = std::move(decoded.topNames);
    out.info.scanStart = source.modified();
  }
  if (auto base = basePath(path))
    out.info.rootPath = std::move(*base);
  else if (auto guess = guessBasePath(topNames, path))
    out.info.rootPath = std::move(*guess);
  out.info.scanSeconds = 0;
  return out;
}

DiskTreePtr read(const std::filesystem::path& path, const Progress& progress) {
  DecodedSnapshot decoded = decodeColumns(path, progress);
  return SnapshotFile::inMemory(std::move(decoded.columns), decoded.info);
}

std::optional<std::string> basePath(const std::filesystem::path& path) {
  const ssize_t size = ::getxattr(path.c_str(), basePathAttribute, nullptr, 0);
  if (size <= 0) return std::nullopt;
  std::string value(std::size_t(size), '\0');
  const ssize_t read = ::getxattr(path.c_str(), basePathAttribute, value.data(), value.size());
  if (read != size) return std::nullopt;
  return Unicode::decodeLossy(value);
}

std::optional<std::string> guessBasePath(const std::vector<std::string>& topNames,
                                         const std::filesystem::path& near) {
  if (topNames.empty() || topNames.front().starts_with('/')) return std::nullopt;
  std::error_code error;
  const auto absolute = std::filesystem::absolute(near, error);
  std::vector<std::string> candidates;
  if (!error) candidates.push_back(PathText::standardize(absolute.parent_path().string()));
  candidates.push_back(PathText::homeDirectory());
  candidates.push_back("/");
  candidates.push_back("/System/Volumes/Data");
  for (const std::string& folder : candidates) {
    if (folder.empty()) continue;
    std::size_t found = 0;
    for (const std::string& name : topNames) found += existsUnder(folder, name);
    if (2 * found >= topNames.size()) return folder;
  }
  return std::nullopt;
}

}  // namespace tallyfox::VokSnapshotReader
