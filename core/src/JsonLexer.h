#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace tallyfox::detail {

// The tokens of a JSON text, read from a stream of bytes piece by piece; what the values
// mean is the caller's. A lexer of its own rather than a general JSON library: the texts it
// reads (ncdu's exports) hold raw bytes that are not UTF-8 inside their strings, which strict
// parsers refuse, and reading a million entries this way costs a fraction of what a general
// parser takes for the same bytes. Header only, a template over the stream and the error it
// throws, so that taking a byte stays a few instructions inside the caller's loops.
//
// Stream: std::size_t fill(std::uint8_t* into, std::size_t capacity), 0 at the end.
// Error: constructible from a message.
template <typename Stream, typename Error>
class JsonLexer {
 public:
  // capacity: the bytes held at once; maxStringBytes: the longest string read.
  JsonLexer(Stream& stream, std::size_t capacity, std::size_t maxStringBytes)
      : stream_(stream),
        capacity_(capacity),
        maxStringBytes_(maxStringBytes),
        buffer_(new std::uint8_t[capacity_]) {}

  // Takes the next byte that is not white space when it is c.
  bool takeIf(char c) {
    if (peekToken() != c) return false;
    ++position_;
    return true;
  }

  std::uint64_t offset() const { return base_ + position_; }

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

  // Any value, nested or not, passed over without keeping it.
  void skipValue() {
    std::vector<char>& open = skipping_;
    open.clear();
    for (;;) {
      const int c = token();
      switch (c) {
        case '"':
          stringBody(skipped_);
          break;
        case '{':
          if (peekToken() == '}') {
            ++position_;
            break;
          }
          open.push_back('}');
          if (token() != '"') unexpected("a key");
          stringBody(skipped_);
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
          stringBody(skipped_);
          expect(':');
        }
        break;
      }
    }
  }

 private:
  static constexpr std::uint64_t maxUInt64 = std::numeric_limits<std::uint64_t>::max();

  static bool isSpace(int c) { return c == ' ' || c == '\n' || c == '\r' || c == '\t'; }

  [[noreturn]] static void fail(std::string message) { throw Error(std::move(message)); }

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

  void append(std::vector<std::uint8_t>& out, const std::uint8_t* bytes, std::size_t count) {
    if (count > maxStringBytes_ - out.size()) fail("string too long at byte " + std::to_string(stringStart_));
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

  Stream& stream_;
  std::size_t capacity_;
  std::size_t maxStringBytes_;
  std::unique_ptr<std::uint8_t[]> buffer_;
  std::size_t position_ = 0, end_ = 0;
  std::uint64_t base_ = 0;
  std::uint64_t stringStart_ = 0;
  std::vector<std::uint8_t> skipped_;
  std::vector<char> skipping_;
};

}  // namespace tallyfox::detail
