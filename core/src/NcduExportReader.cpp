#include <tallyfox/NcduExport.h>

#include "JsonLexer.h"
#include "linux/FileIO.h"

#include <tallyfox/EntryNames.h>
#include <tallyfox/SnapshotPaths.h>
#include <tallyfox/TreeColumnsBuilder.h>

#include <zlib.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <limits>
#include <memory>
#include <unordered_set>
#include <utility>
#include <vector>

// The schema of ncdu's (and gdu's) JSON export on top of JsonLexer: the header array, the
// metadata object, and the nested arrays of entries that become a tree's columns.

namespace tallyfox::NcduExport {

namespace {

constexpr std::size_t windowBytes = 1 << 20;
constexpr std::size_t rawBytes = 256 * 1024;
constexpr std::uint64_t progressInterval = 65'536;
constexpr std::uint64_t maxEntries = std::uint64_t(std::numeric_limits<NodeId>::max());

[[noreturn]] void fail(std::string message) {
  throw FormatError(std::move(message));
}

bool isGzip(std::span<const std::uint8_t> head) {
  return head.size() >= 2 && head[0] == 0x1F && head[1] == 0x8B;
}

bool isSpace(int c) {
  return c == ' ' || c == '\n' || c == '\r' || c == '\t';
}

// Where the bytes come from: a file read piece by piece, or bytes already in memory.
class RawSource {
 public:
  explicit RawSource(std::span<const std::uint8_t> bytes) : bytes_(bytes), total_(bytes.size()) {}
  RawSource(FileIO::Descriptor fd, std::uint64_t total) : fd_(std::move(fd)), total_(total) {}

  // Up to `capacity` more bytes; 0 at the end.
  std::size_t pull(std::uint8_t* into, std::size_t capacity) {
    if (!fd_) {
      const std::size_t count = std::min(capacity, bytes_.size() - offset_);
      std::memcpy(into, bytes_.data() + offset_, count);
      offset_ += count;
      return count;
    }
    const long count = FileIO::readUpTo(fd_.get(), into, capacity);
    if (count < 0) FileIO::throwErrno();
    offset_ += std::size_t(count);
    return std::size_t(count);
  }

  // A buffer for reading this source need not be larger than the source: small files (and
  // the many small inputs of the fuzzer) then take small buffers. Any size works, since the
  // scanner copies strings and numbers piece by piece.
  std::size_t bufferFor(std::size_t most) const {
    return std::size_t(std::clamp<std::uint64_t>(total_, 64, most));
  }

  double fraction() const { return total_ == 0 ? 1.0 : std::min(1.0, double(offset_) / double(total_)); }

 private:
  FileIO::Descriptor fd_;
  std::span<const std::uint8_t> bytes_;
  std::uint64_t total_ = 0;
  std::size_t offset_ = 0;
};

// The export's bytes, decompressed when the source is gzip (several members one after the
// other, as concatenated gzip files are, read as one stream).
class ByteStream {
 public:
  explicit ByteStream(RawSource& source)
      : source_(source),
        rawCapacity_(source.bufferFor(rawBytes)),
        rawBuffer_(new std::uint8_t[rawCapacity_]) {
    raw_ = rawBuffer_.get();
    rawEnd_ = source_.pull(raw_, rawCapacity_);
    if (!isGzip({raw_, rawEnd_})) return;
    // 16 + 15: a gzip header and the largest window.
    if (inflateInit2(&stream_, 16 + 15) != Z_OK) fail("could not start decompression");
    inflating_ = true;
    stream_.next_in = raw_;
    stream_.avail_in = uInt(rawEnd_);
  }
  ~ByteStream() {
    if (inflating_) inflateEnd(&stream_);
  }
  ByteStream(const ByteStream&) = delete;
  ByteStream& operator=(const ByteStream&) = delete;

  // Up to `capacity` more bytes; 0 at the end of the stream.
  std::size_t fill(std::uint8_t* into, std::size_t capacity) {
    if (!inflating_) {
      if (rawPosition_ < rawEnd_) {
        const std::size_t count = std::min(capacity, rawEnd_ - rawPosition_);
        std::memcpy(into, raw_ + rawPosition_, count);
        rawPosition_ += count;
        return count;
      }
      return source_.pull(into, capacity);
    }
    stream_.next_out = into;
    stream_.avail_out = uInt(std::min<std::size_t>(capacity, std::numeric_limits<uInt>::max()));
    while (stream_.avail_out > 0 && !ended_) {
      if (stream_.avail_in == 0) {
        const std::size_t count = source_.pull(raw_, rawCapacity_);
        if (count == 0) {
          if (stream_.next_out != into) break;
          fail("file is truncated");
        }
        stream_.next_in = raw_;
        stream_.avail_in = uInt(count);
      }
      const int rc = inflate(&stream_, Z_NO_FLUSH);
      if (rc == Z_STREAM_END) {
        // Another member may follow; anything else after the end is not ours to judge.
        if (stream_.avail_in < 2) {
          // The next member's magic may straddle two reads.
          const std::size_t kept = stream_.avail_in;
          std::memmove(raw_, stream_.next_in, kept);
          stream_.next_in = raw_;
          stream_.avail_in = uInt(kept + source_.pull(raw_ + kept, rawCapacity_ - kept));
        }
        if (!isGzip({stream_.next_in, stream_.avail_in}) || inflateReset(&stream_) != Z_OK) ended_ = true;
        continue;
      }
      if (rc != Z_OK && rc != Z_BUF_ERROR) fail("decompression failed");
    }
    return std::size_t(stream_.next_out - into);
  }

 private:
  RawSource& source_;
  std::size_t rawCapacity_;
  std::unique_ptr<std::uint8_t[]> rawBuffer_;
  std::uint8_t* raw_;
  std::size_t rawPosition_ = 0, rawEnd_ = 0;
  z_stream stream_{};
  bool inflating_ = false;
  bool ended_ = false;
};

struct LinkKey {
  std::uint64_t dev, ino;
  bool operator==(const LinkKey&) const = default;
};
struct LinkKeyHash {
  std::size_t operator()(const LinkKey& k) const {
    return std::hash<std::uint64_t>()(k.ino * 0x9E3779B97F4A7C15u ^ k.dev);
  }
};

// One entry's object, as far as the tree needs it.
struct Entry {
  std::vector<std::uint8_t> name;
  bool named = false;
  std::uint64_t dsize = 0, dev = 0, ino = 0, nlink = 0, mode = 0;
  std::int64_t mtime = 0;
  bool hasDev = false, hasIno = false, hasMode = false;
  bool hardLink = false, readError = false, excluded = false;

  void clear() {
    name.clear();
    named = false;
    dsize = dev = ino = nlink = mode = 0;
    mtime = 0;
    hasDev = hasIno = hasMode = false;
    hardLink = readError = excluded = false;
  }
};

struct Peeked {
  std::string rootPath;
  std::int64_t timestamp = -1;
};

class Parser {
 public:
  Parser(ByteStream& stream, RawSource& source, const Progress& progress)
      : json_(stream, source.bufferFor(windowBytes), maxStringBytes), source_(source), progress_(progress) {}

  DecodedSnapshot run() {
    // A stream of white space alone holds no value to read; one that ends before its first
    // byte was cut off.
    if (const int c = json_.token(); c != '[') {
      if (c < 0 && json_.offset() > 0) fail("no JSON value");
      json_.unexpected("'['");
    }
    const std::uint64_t major = json_.unsignedNumber("version");
    if (major != 1) fail("unsupported major version " + std::to_string(major));
    json_.expect(',');
    json_.unsignedNumber("minor version");
    json_.expect(',');
    std::int64_t timestamp = -1;
    metadata(timestamp);
    json_.expect(',');
    rootFolder();
    // The format has one root: a second one read as the first alone would lose entries
    // without a word, and so would anything after the export.
    if (const int c = json_.token(); c != ']') {
      if (c == ',' && json_.peekToken() == '[')
        fail("more than one root, the second at byte " + std::to_string(json_.offset()));
      json_.unexpected("']'");
    }
    if (json_.token() >= 0)
      fail("bytes after the end of the export at byte " + std::to_string(json_.offset() - 1));

    DecodedSnapshot out;
    out.info.rootPath = std::move(rootPath_);
    if (timestamp >= 0)
      out.info.scanStart = std::chrono::system_clock::time_point(std::chrono::seconds(timestamp));
    out.info.scanSeconds = 0;
    timestampGiven_ = timestamp >= 0;
    if (progress_) progress_(1.0);
    out.columns = std::move(builder_).build(true, EntryFlags::directory);
    if (const auto repeated = EntryNames::firstRepeated(out.columns)) {
      const std::string folder = EntryNames::pathIn(out.columns, out.info.rootPath, repeated->folder);
      fail("two entries in " + EntryNames::quoted(folder) + " are named " +
           EntryNames::quoted(repeated->name));
    }
    return out;
  }

  bool timestampGiven() const { return timestampGiven_; }

  // Only what precedes the first entry: the root's name and the timestamp.
  Peeked head() {
    json_.expect('[');
    if (json_.unsignedNumber("version") != 1) fail("unsupported major version");
    json_.expect(',');
    json_.unsignedNumber("minor version");
    json_.expect(',');
    Peeked out;
    metadata(out.timestamp);
    json_.expect(',');
    json_.expect('[');
    json_.expect('{');
    object(entry_);
    out.rootPath.assign(entry_.name.begin(), entry_.name.end());
    return out;
  }

 private:
  // ---- The export

  // A flag's value: false and null are off; true, and anything else (the reason ncdu gives
  // for an exclusion is a string), is on.
  bool flag() {
    if (json_.takeIf('f')) {
      json_.literal("alse");
      return false;
    }
    if (json_.takeIf('n')) {
      json_.literal("ull");
      return false;
    }
    json_.skipValue();
    return true;
  }

  void metadata(std::int64_t& timestamp) {
    json_.expect('{');
    if (json_.takeIf('}')) return;
    for (;;) {
      if (json_.token() != '"') json_.unexpected("a key");
      json_.stringBody(key_);
      json_.expect(':');
      if (isKey("timestamp")) {
        // Times are whole seconds in 32 bits everywhere in a tree; a later one would not even
        // fit the clock's nanoseconds.
        timestamp = std::int64_t(clampTime(json_.signedNumber("timestamp")));
      } else if (isKey("progname") && json_.takeIf('"')) {
        json_.stringBody(scratch_);
        firstLinkUnmarked_ = scratch_.size() == 3 && std::memcmp(scratch_.data(), "gdu", 3) == 0;
      } else {
        json_.skipValue();
      }
      const int c = json_.token();
      if (c == '}') return;
      if (c != ',') json_.unexpected("',' or '}'");
    }
  }

  bool isKey(std::string_view name) const {
    return key_.size() == name.size() && std::memcmp(key_.data(), name.data(), name.size()) == 0;
  }

  // An entry's object, after its opening brace.
  void object(Entry& e) {
    e.clear();
    if (!json_.takeIf('}')) {
      for (;;) {
        if (json_.token() != '"') json_.unexpected("a key");
        json_.stringBody(key_);
        json_.expect(':');
        field(e);
        const int c = json_.token();
        if (c == '}') break;
        if (c != ',') json_.unexpected("',' or '}'");
      }
    }
    if (!e.named) fail("entry " + std::to_string(nextId_) + " has no name");
  }

  void field(Entry& e) {
    switch (key_.size()) {
      case 3:
        if (isKey("dev")) {
          e.dev = json_.unsignedNumber("dev");
          e.hasDev = true;
          return;
        }
        if (isKey("ino")) {
          e.ino = json_.unsignedNumber("ino");
          e.hasIno = true;
          return;
        }
        break;
      case 4:
        if (isKey("name")) {
          if (json_.token() != '"') json_.unexpected("a string for name");
          json_.stringBody(e.name);
          e.named = true;
          return;
        }
        if (isKey("mode")) {
          e.mode = json_.unsignedNumber("mode");
          e.hasMode = true;
          return;
        }
        break;
      case 5:
        if (isKey("dsize")) {
          e.dsize = json_.unsignedNumber("dsize");
          return;
        }
        if (isKey("hlnkc")) {
          e.hardLink = flag() || e.hardLink;
          return;
        }
        if (isKey("mtime")) {
          e.mtime = json_.signedNumber("mtime");
          return;
        }
        if (isKey("nlink")) {
          e.nlink = json_.unsignedNumber("nlink");
          return;
        }
        break;
      case 8:
        if (isKey("excluded")) {
          e.excluded = flag();
          return;
        }
        break;
      case 10:
        if (isKey("read_error")) {
          e.readError = flag();
          return;
        }
        break;
    }
    json_.skipValue();
  }

  std::uint8_t flagsOf(const Entry& e, bool folder) const {
    std::uint8_t flags = folder ? EntryFlags::directory : 0;
    if (e.readError) flags |= EntryFlags::error;
    // An excluded file (a pattern matched it before it was looked at) is marked too: the
    // export cannot say whether it was a folder.
    if (e.excluded) flags |= EntryFlags::notDescended;
    constexpr std::uint64_t typeMask = 0170000, symlinkType = 0120000;
    if (e.hasMode && (e.mode & typeMask) == symlinkType) flags |= EntryFlags::symlink;
    return flags;
  }

  // The path of the folder on top of the stack, for messages.
  std::string openFolderPath() const {
    std::string path = rootPath_;
    for (std::size_t k = 1; k < stack_.size(); ++k) {
      const std::size_t id = std::size_t(stack_[k].id);
      const auto name = builder_.name(id);
      PathText::appendComponentTo(path, {reinterpret_cast<const char*>(name.data()), name.size()});
    }
    return path;
  }

  // Whether the entry is a further name of an inode counted already. ncdu marks every name
  // of a linked inode with its number ("hlnkc", or a link count above 1), so the first one
  // read is counted; gdu marks only the names after the first it found, which are counted
  // already, and names the inode of those alone.
  bool isFurtherLink(const Entry& e, std::uint64_t dev) {
    if (firstLinkUnmarked_) return e.hardLink;
    return e.hasIno && (e.hardLink || e.nlink > 1) && !links_.insert({dev, e.ino}).second;
  }

  // Adds the entry under the folder on top of the stack; returns its id.
  NodeId add(const Entry& e, bool folder) {
    if (std::uint64_t(nextId_) >= maxEntries) fail("too many entries");
    const std::string_view name(reinterpret_cast<const char*>(e.name.data()), e.name.size());
    if (!EntryNames::isEntryName(name))
      fail("entry " + std::to_string(nextId_) + " in " + EntryNames::quoted(openFolderPath()) + " is named " +
           EntryNames::quoted(name) + ", which no file can be");
    const NodeId id = nextId_++;
    const Frame& parent = stack_.back();
    const std::uint64_t dev = e.hasDev ? e.dev : parent.dev;
    std::uint8_t flags = flagsOf(e, folder);
    // A folder's own blocks are not counted, as a scan counts files only.
    std::uint64_t size = folder ? 0 : e.dsize;
    if (!folder && isFurtherLink(e, dev)) {
      flags |= EntryFlags::duplicateLink;
      size = 0;
    }
    builder_.set(std::size_t(id), parent.id, e.name, size, e.mtime, 1, flags);
    if (folder) stack_.push_back({id, dev});
    return id;
  }

  void rootFolder() {
    if (json_.token() != '[') json_.unexpected("the root folder");
    json_.expect('{');
    object(entry_);
    rootPath_.assign(entry_.name.begin(), entry_.name.end());
    // Every path of the tree starts with it: a relative one would be taken from wherever the
    // reader runs.
    if (!EntryNames::isPlainPath(rootPath_))
      fail("the root is named " + EntryNames::quoted(rootPath_) + ", which is not a plain absolute path");
    nextId_ = 1;
    stack_.push_back({0, entry_.hasDev ? entry_.dev : 0});
    builder_.set(0, -1, {}, 0, entry_.mtime, 1, flagsOf(entry_, true));

    std::uint64_t sinceReport = 0;
    double reported = 0;
    while (!stack_.empty()) {
      const int c = json_.token();
      if (c == ']') {
        stack_.pop_back();
        continue;
      }
      if (c != ',') json_.unexpected("',' or ']'");
      const int kind = json_.token();
      if (kind == '{') {
        object(entry_);
        add(entry_, false);
      } else if (kind == '[') {
        json_.expect('{');
        object(entry_);
        add(entry_, true);
      } else {
        json_.unexpected("an entry");
      }
      if (progress_ && ++sinceReport == progressInterval) {
        sinceReport = 0;
        const double done = source_.fraction();
        if (done > reported + 0.01) {
          reported = done;
          progress_(done);
        }
      }
    }
  }

  struct Frame {
    NodeId id;
    std::uint64_t dev;
  };

  detail::JsonLexer<ByteStream, FormatError> json_;
  RawSource& source_;
  const Progress& progress_;

  std::vector<std::uint8_t> key_, scratch_;
  Entry entry_;
  std::string rootPath_;
  std::vector<Frame> stack_;
  NodeId nextId_ = 0;
  std::unordered_set<LinkKey, LinkKeyHash> links_;
  // gdu's way of marking hard links (see isFurtherLink).
  bool firstLinkUnmarked_ = false;
  TreeColumnsBuilder builder_;
  bool timestampGiven_ = false;
};

struct Decoded {
  DecodedSnapshot snapshot;
  bool timestampGiven = false;
};

Decoded decodeFrom(RawSource& source, const Progress& progress) {
  ByteStream stream(source);
  Parser parser(stream, source, progress);
  Decoded out;
  out.snapshot = parser.run();
  out.timestampGiven = parser.timestampGiven();
  return out;
}

}  // namespace

bool looksLikeExport(std::span<const std::uint8_t> head) {
  if (isGzip(head)) return true;
  for (const std::uint8_t c : head) {
    if (c == '[') return true;
    if (!isSpace(c)) return false;
  }
  return false;
}

bool matches(const std::filesystem::path& path) {
  FileIO::Descriptor fd = FileIO::tryOpenRegularFile(path);
  if (!fd) return false;
  std::uint8_t head[64];
  const long count = FileIO::readUpTo(fd.get(), head, sizeof head);
  return count > 0 && looksLikeExport({head, std::size_t(count)});
}

std::optional<Peek> peek(const std::filesystem::path& path) {
  try {
    struct stat st;
    FileIO::Descriptor fd = FileIO::tryOpenRegularFile(path, &st);
    if (!fd) return std::nullopt;
    RawSource source(std::move(fd), std::uint64_t(std::max<off_t>(st.st_size, 0)));
    ByteStream stream(source);
    Parser parser(stream, source, {});
    const Peeked peeked = parser.head();
    Peek out;
    out.rootPath = peeked.rootPath;
    out.scanStart = peeked.timestamp >= 0
                        ? std::chrono::system_clock::time_point(std::chrono::seconds(peeked.timestamp))
                        : std::chrono::system_clock::time_point(
                              std::chrono::duration_cast<std::chrono::system_clock::duration>(
                                  std::chrono::seconds(st.st_mtim.tv_sec)));
    return out;
  } catch (const std::exception&) {
    return std::nullopt;
  }
}

DecodedSnapshot decode(std::span<const std::uint8_t> bytes, const Progress& progress) {
  RawSource source(bytes);
  return decodeFrom(source, progress).snapshot;
}

DecodedSnapshot decodeColumns(const std::filesystem::path& path, const Progress& progress) {
  struct stat st;
  FileIO::Descriptor fd = FileIO::openRegularFile(path, &st);
  ::posix_fadvise(fd.get(), 0, 0, POSIX_FADV_SEQUENTIAL);
  RawSource source(std::move(fd), std::uint64_t(std::max<off_t>(st.st_size, 0)));
  Decoded decoded = decodeFrom(source, progress);
  if (!decoded.timestampGiven)
    decoded.snapshot.info.scanStart =
        std::chrono::system_clock::time_point(std::chrono::duration_cast<std::chrono::system_clock::duration>(
            std::chrono::seconds(st.st_mtim.tv_sec) + std::chrono::nanoseconds(st.st_mtim.tv_nsec)));
  return std::move(decoded.snapshot);
}

DiskTreePtr read(const std::filesystem::path& path, const Progress& progress) {
  DecodedSnapshot decoded = decodeColumns(path, progress);
  return SnapshotFile::inMemory(std::move(decoded.columns), decoded.info);
}

}  // namespace tallyfox::NcduExport
