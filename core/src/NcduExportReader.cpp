#include <tallyfox/NcduExport.h>

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

// A scanner of its own rather than a general JSON library: the exports hold raw bytes that
// are not UTF-8 inside their strings, which strict parsers refuse, and reading a million
// entries this way costs a fraction of what a general parser takes for the same bytes.

namespace tallyfox::NcduExport {

namespace {

constexpr std::size_t windowBytes = 1 << 20;
constexpr std::size_t rawBytes = 256 * 1024;
constexpr std::uint64_t progressInterval = 65'536;
constexpr std::uint64_t maxEntries = std::uint64_t(std::numeric_limits<NodeId>::max());
constexpr std::uint64_t maxUInt64 = std::numeric_limits<std::uint64_t>::max();

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
      : stream_(stream),
        source_(source),
        progress_(progress),
        capacity_(source.bufferFor(windowBytes)),
        buffer_(new std::uint8_t[capacity_]) {}

  DecodedSnapshot run() {
    // A stream of white space alone holds no value to read; one that ends before its first
    // byte was cut off.
    if (const int c = token(); c != '[') {
      if (c < 0 && offset() > 0) fail("no JSON value");
      unexpected("'['");
    }
    const std::uint64_t major = unsignedNumber("version");
    if (major != 1) fail("unsupported major version " + std::to_string(major));
    expect(',');
    unsignedNumber("minor version");
    expect(',');
    std::int64_t timestamp = -1;
    metadata(timestamp);
    expect(',');
    rootFolder();
    // The format has one root: a second one read as the first alone would lose entries
    // without a word, and so would anything after the export.
    if (const int c = token(); c != ']') {
      if (c == ',' && peekToken() == '[')
        fail("more than one root, the second at byte " + std::to_string(offset()));
      unexpected("']'");
    }
    if (token() >= 0) fail("bytes after the end of the export at byte " + std::to_string(offset() - 1));

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
    expect('[');
    if (unsignedNumber("version") != 1) fail("unsupported major version");
    expect(',');
    unsignedNumber("minor version");
    expect(',');
    Peeked out;
    metadata(out.timestamp);
    expect(',');
    expect('[');
    expect('{');
    object(entry_);
    out.rootPath.assign(entry_.name.begin(), entry_.name.end());
    return out;
  }

 private:
  // ---- Bytes

  std::uint64_t offset() const { return base_ + position_; }

  bool refill() {
    const std::size_t unread = end_ - position_;
    std::memmove(buffer_.get(), buffer_.get() + position_, unread);
    base_ += position_;
    position_ = 0;
    end_ = unread;
    const std::size_t count = stream_.fill(buffer_.get() + end_, capacity_ - end_);
    end_ += count;
    return count > 0;
  }

  // The next byte without taking it; -1 at the end.
  int peek() {
    if (position_ == end_ && !refill()) return -1;
    return buffer_[position_];
  }
  int take() {
    const int c = peek();
    if (c >= 0) ++position_;
    return c;
  }
  // The next byte that is not white space, taken; -1 at the end.
  int token() {
    for (;;) {
      if (position_ == end_ && !refill()) return -1;
      const std::uint8_t c = buffer_[position_++];
      if (!isSpace(c)) return c;
    }
  }
  int peekToken() {
    for (;;) {
      const int c = peek();
      if (!isSpace(c)) return c;
      ++position_;
    }
  }

  [[noreturn]] void unexpected(const std::string& wanted) {
    if (position_ == end_ && peek() < 0) fail("file is truncated");
    fail("expected " + wanted + " at byte " + std::to_string(offset() > 0 ? offset() - 1 : 0));
  }

  void expect(char wanted) {
    if (token() != wanted) unexpected(std::string("'") + wanted + "'");
  }

  // ---- Values

  // A JSON string into `out`, after its opening quote.
  void stringBody(std::vector<std::uint8_t>& out) {
    out.clear();
    stringStart_ = offset() - 1;
    for (;;) {
      if (position_ == end_ && !refill()) fail("file is truncated");
      // The plain run up to the next quote or backslash in one copy.
      const std::uint8_t* from = buffer_.get() + position_;
      const std::uint8_t* stop = from;
      const std::uint8_t* last = buffer_.get() + end_;
      while (stop < last && *stop != '"' && *stop != '\\') ++stop;
      append(out, from, std::size_t(stop - from));
      position_ += std::size_t(stop - from);
      if (stop == last) continue;
      ++position_;
      if (*stop == '"') return;
      escape(out);
    }
  }

  void append(std::vector<std::uint8_t>& out, const std::uint8_t* bytes, std::size_t count) {
    if (count > maxStringBytes - out.size()) fail("string too long at byte " + std::to_string(stringStart_));
    out.insert(out.end(), bytes, bytes + count);
  }

  void escape(std::vector<std::uint8_t>& out) {
    const int c = take();
    std::uint8_t plain;
    switch (c) {
      case '"':
        plain = '"';
        break;
      case '\\':
        plain = '\\';
        break;
      case '/':
        plain = '/';
        break;
      case 'b':
        plain = '\b';
        break;
      case 'f':
        plain = '\f';
        break;
      case 'n':
        plain = '\n';
        break;
      case 'r':
        plain = '\r';
        break;
      case 't':
        plain = '\t';
        break;
      case 'u': {
        std::uint32_t code = hex4();
        if (code >= 0xD800 && code < 0xDC00 && peek() == '\\') {
          ++position_;
          if (take() != 'u') unexpected("a \\u escape");
          const std::uint32_t low = hex4();
          code = low >= 0xDC00 && low < 0xE000 ? 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00) : 0xFFFD;
        } else if (code >= 0xD800 && code < 0xE000) {
          code = 0xFFFD;  // a lone surrogate names no character
        }
        utf8(out, code);
        return;
      }
      default:
        if (c < 0) fail("file is truncated");
        unexpected("an escape");
    }
    append(out, &plain, 1);
  }

  std::uint32_t hex4() {
    std::uint32_t value = 0;
    for (int k = 0; k < 4; ++k) {
      const int c = take();
      int digit;
      if (c >= '0' && c <= '9')
        digit = c - '0';
      else if (c >= 'a' && c <= 'f')
        digit = c - 'a' + 10;
      else if (c >= 'A' && c <= 'F')
        digit = c - 'A' + 10;
      else
        unexpected("a hex digit");
      value = value << 4 | std::uint32_t(digit);
    }
    return value;
  }

  void utf8(std::vector<std::uint8_t>& out, std::uint32_t code) {
    std::uint8_t bytes[4];
    std::size_t n;
    if (code < 0x80) {
      bytes[0] = std::uint8_t(code);
      n = 1;
    } else if (code < 0x800) {
      bytes[0] = std::uint8_t(0xC0 | code >> 6);
      bytes[1] = std::uint8_t(0x80 | (code & 0x3F));
      n = 2;
    } else if (code < 0x10000) {
      bytes[0] = std::uint8_t(0xE0 | code >> 12);
      bytes[1] = std::uint8_t(0x80 | (code >> 6 & 0x3F));
      bytes[2] = std::uint8_t(0x80 | (code & 0x3F));
      n = 3;
    } else {
      bytes[0] = std::uint8_t(0xF0 | code >> 18);
      bytes[1] = std::uint8_t(0x80 | (code >> 12 & 0x3F));
      bytes[2] = std::uint8_t(0x80 | (code >> 6 & 0x3F));
      bytes[3] = std::uint8_t(0x80 | (code & 0x3F));
      n = 4;
    }
    append(out, bytes, n);
  }

  struct Number {
    bool negative = false;
    std::uint64_t magnitude = 0;  // the integer part, at most 2^64 - 1
  };

  // A JSON number whose first byte `c` is already taken. A fraction or exponent is read
  // and dropped: every field the tree uses is a whole number.
  Number numberFrom(int c) {
    Number n;
    if (c == '-') {
      n.negative = true;
      c = take();
    }
    if (c < '0' || c > '9') unexpected("a number");
    for (;;) {
      const std::uint64_t digit = std::uint64_t(c - '0');
      n.magnitude = n.magnitude > (maxUInt64 - digit) / 10 ? maxUInt64 : n.magnitude * 10 + digit;
      c = peek();
      if (c < '0' || c > '9') break;
      ++position_;
    }
    if (c == '.') {
      ++position_;
      if (!digits()) unexpected("a digit");
      c = peek();
    }
    if (c == 'e' || c == 'E') {
      ++position_;
      if (peek() == '+' || peek() == '-') ++position_;
      if (!digits()) unexpected("a digit");
    }
    return n;
  }

  bool digits() {
    bool any = false;
    for (int c = peek(); c >= '0' && c <= '9'; c = peek()) {
      ++position_;
      any = true;
    }
    return any;
  }

  Number number(const char* what) {
    const int c = token();
    if (c != '-' && (c < '0' || c > '9')) unexpected(std::string("a number for ") + what);
    return numberFrom(c);
  }

  std::uint64_t unsignedNumber(const char* what) {
    const Number n = number(what);
    return n.negative ? 0 : n.magnitude;
  }

  std::int64_t signedNumber(const char* what) {
    const Number n = number(what);
    const std::uint64_t limit = std::uint64_t(std::numeric_limits<std::int64_t>::max());
    const std::int64_t m = std::int64_t(std::min(n.magnitude, limit));
    return n.negative ? -m : m;
  }

  void literal(const char* rest) {
    for (const char* p = rest; *p; ++p)
      if (take() != *p) unexpected("a literal");
  }

  // A flag's value: false and null are off; true, and anything else (the reason ncdu gives
  // for an exclusion is a string), is on.
  bool flag() {
    const int c = peekToken();
    if (c == 'f') {
      ++position_;
      literal("alse");
      return false;
    }
    if (c == 'n') {
      ++position_;
      literal("ull");
      return false;
    }
    skipValue();
    return true;
  }

  // Any value, nested or not, passed over without keeping it.
  void skipValue() {
    std::vector<char>& open = skipping_;
    open.clear();
    for (;;) {
      const int c = token();
      switch (c) {
        case '"':
          stringBody(scratch_);
          break;
        case '{':
          if (peekToken() == '}') {
            ++position_;
            break;
          }
          open.push_back('}');
          if (token() != '"') unexpected("a key");
          stringBody(scratch_);
          expect(':');
          continue;  // its value comes next
        case '[':
          if (peekToken() == ']') {
            ++position_;
            break;
          }
          open.push_back(']');
          continue;  // a value comes next
        case 't':
          literal("rue");
          break;
        case 'f':
          literal("alse");
          break;
        case 'n':
          literal("ull");
          break;
        default:
          if (c == '-' || (c >= '0' && c <= '9')) {
            numberFrom(c);
            break;
          }
          unexpected("a value");
      }
      // After a complete value: close what ends here, or go on to the next element.
      for (;;) {
        if (open.empty()) return;
        const int next = token();
        if (next == open.back()) {
          open.pop_back();
          continue;
        }
        if (next != ',') unexpected("',' or '" + std::string(1, open.back()) + "'");
        if (open.back() == '}') {
          if (token() != '"') unexpected("a key");
          stringBody(scratch_);
          expect(':');
        }
        break;
      }
    }
  }

  // ---- The export

  void metadata(std::int64_t& timestamp) {
    expect('{');
    if (peekToken() == '}') {
      ++position_;
      return;
    }
    for (;;) {
      if (token() != '"') unexpected("a key");
      stringBody(key_);
      expect(':');
      if (isKey("timestamp")) {
        // Times are whole seconds in 32 bits everywhere in a tree; a later one would not even
        // fit the clock's nanoseconds.
        timestamp = std::int64_t(clampTime(signedNumber("timestamp")));
      } else if (isKey("progname") && peekToken() == '"') {
        ++position_;
        stringBody(scratch_);
        firstLinkUnmarked_ = scratch_.size() == 3 && std::memcmp(scratch_.data(), "gdu", 3) == 0;
      } else {
        skipValue();
      }
      const int c = token();
      if (c == '}') return;
      if (c != ',') unexpected("',' or '}'");
    }
  }

  bool isKey(std::string_view name) const {
    return key_.size() == name.size() && std::memcmp(key_.data(), name.data(), name.size()) == 0;
  }

  // An entry's object, after its opening brace.
  void object(Entry& e) {
    e.clear();
    if (peekToken() == '}') {
      ++position_;
    } else {
      for (;;) {
        if (token() != '"') unexpected("a key");
        stringBody(key_);
        expect(':');
        field(e);
        const int c = token();
        if (c == '}') break;
        if (c != ',') unexpected("',' or '}'");
      }
    }
    if (!e.named) fail("entry " + std::to_string(nextId_) + " has no name");
  }

  void field(Entry& e) {
    switch (key_.size()) {
      case 3:
        if (isKey("dev")) {
          e.dev = unsignedNumber("dev");
          e.hasDev = true;
          return;
        }
        if (isKey("ino")) {
          e.ino = unsignedNumber("ino");
          e.hasIno = true;
          return;
        }
        break;
      case 4:
        if (isKey("name")) {
          if (token() != '"') unexpected("a string for name");
          stringBody(e.name);
          e.named = true;
          return;
        }
        if (isKey("mode")) {
          e.mode = unsignedNumber("mode");
          e.hasMode = true;
          return;
        }
        break;
      case 5:
        if (isKey("dsize")) {
          e.dsize = unsignedNumber("dsize");
          return;
        }
        if (isKey("hlnkc")) {
          e.hardLink = flag() || e.hardLink;
          return;
        }
        if (isKey("mtime")) {
          e.mtime = signedNumber("mtime");
          return;
        }
        if (isKey("nlink")) {
          e.nlink = unsignedNumber("nlink");
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
    skipValue();
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
      PathText::appendComponentTo(
          path, {reinterpret_cast<const char*>(builder_.names.data()) + builder_.nameStart[id],
                 builder_.nameLength[id]});
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
    if (token() != '[') unexpected("the root folder");
    expect('{');
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
      const int c = token();
      if (c == ']') {
        stack_.pop_back();
        continue;
      }
      if (c != ',') unexpected("',' or ']'");
      const int kind = token();
      if (kind == '{') {
        object(entry_);
        add(entry_, false);
      } else if (kind == '[') {
        expect('{');
        object(entry_);
        add(entry_, true);
      } else {
        unexpected("an entry");
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

  ByteStream& stream_;
  RawSource& source_;
  const Progress& progress_;
  std::size_t capacity_;
  std::unique_ptr<std::uint8_t[]> buffer_;
  std::size_t position_ = 0, end_ = 0;
  std::uint64_t base_ = 0;
  std::uint64_t stringStart_ = 0;

  std::vector<std::uint8_t> key_, scratch_;
  std::vector<char> skipping_;
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
