#include <tallyfox/Unicode.h>

#include <utf8proc.h>

#include <cstdlib>
#include <cstring>

namespace tallyfox::Unicode {

namespace {

constexpr char replacement[] = "\xEF\xBF\xBD";

// Length of the valid UTF-8 sequence at p, or 0 with `consumed` set to the length of its
// maximal invalid subpart (at least 1), which is replaced by one U+FFFD.
std::size_t validSequence(const std::uint8_t* p, std::size_t left, std::size_t& consumed) {
  const std::uint8_t b0 = p[0];
  consumed = 1;
  if (b0 < 0x80) return 1;
  std::size_t need;
  std::uint8_t lo = 0x80, hi = 0xBF;
  if (b0 >= 0xC2 && b0 <= 0xDF) {
    need = 2;
  } else if (b0 >= 0xE0 && b0 <= 0xEF) {
    need = 3;
    if (b0 == 0xE0) lo = 0xA0;
    if (b0 == 0xED) hi = 0x9F;
  } else if (b0 >= 0xF0 && b0 <= 0xF4) {
    need = 4;
    if (b0 == 0xF0) lo = 0x90;
    if (b0 == 0xF4) hi = 0x8F;
  } else {
    return 0;
  }
  for (std::size_t k = 1; k < need; ++k) {
    if (k >= left) {
      consumed = k;
      return 0;
    }
    const std::uint8_t b = p[k];
    const std::uint8_t low = k == 1 ? lo : 0x80, high = k == 1 ? hi : 0xBF;
    if (b < low || b > high) {
      consumed = k;
      return 0;
    }
  }
  return need;
}

}  // namespace

std::string decodeLossy(std::span<const std::uint8_t> bytes) {
  std::string out;
  out.reserve(bytes.size());
  std::size_t i = 0;
  while (i < bytes.size()) {
    std::size_t consumed;
    const std::size_t n = validSequence(bytes.data() + i, bytes.size() - i, consumed);
    if (n) {
      out.append(reinterpret_cast<const char*>(bytes.data() + i), n);
      i += n;
    } else {
      out.append(replacement);
      i += consumed;
    }
  }
  return out;
}

std::string_view decodeLossy(std::span<const std::uint8_t> bytes, std::string& scratch) {
  std::size_t consumed;
  for (std::size_t i = 0, n; i < bytes.size(); i += n) {
    n = validSequence(bytes.data() + i, bytes.size() - i, consumed);
    if (!n) {
      scratch = decodeLossy(bytes);
      return scratch;
    }
  }
  return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

std::string decodeLossy(std::string_view bytes) {
  return decodeLossy(std::span(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()));
}

bool isAscii(std::string_view text) {
  for (unsigned char c : text)
    if (c >= 0x80) return false;
  return true;
}

char32_t leadingCodePoint(std::string_view text, std::size_t& length) {
  const auto b0 = static_cast<unsigned char>(text[0]);
  length = b0 < 0x80 ? 1 : b0 < 0xE0 ? 2 : b0 < 0xF0 ? 3 : 4;
  if (length > text.size()) length = text.size();
  char32_t c = length == 1 ? b0 : length == 2 ? b0 & 0x1F : length == 3 ? b0 & 0x0F : b0 & 0x07;
  for (std::size_t k = 1; k < length; ++k) c = (c << 6) | (static_cast<unsigned char>(text[k]) & 0x3F);
  return c;
}

bool isLayoutControl(char32_t c) {
  return c == 0x061C || c == 0x200E || c == 0x200F || (c >= 0x2028 && c <= 0x202E) ||
         (c >= 0x2066 && c <= 0x2069);
}

std::string nfc(std::string_view text) {
  if (isAscii(text)) return std::string(text);
  utf8proc_uint8_t* mapped = nullptr;
  const auto length =
      utf8proc_map(reinterpret_cast<const utf8proc_uint8_t*>(text.data()), utf8proc_ssize_t(text.size()),
                   &mapped, utf8proc_option_t(UTF8PROC_STABLE | UTF8PROC_COMPOSE));
  if (length < 0) return std::string(text);
  std::string out(reinterpret_cast<const char*>(mapped), std::size_t(length));
  std::free(mapped);
  return out;
}

bool canonicallyEqual(std::string_view a, std::string_view b) {
  if (a == b) return true;
  if (isAscii(a) && isAscii(b)) return false;
  return nfc(a) == nfc(b);
}

std::string_view prefixWithin(std::string_view text, std::size_t maxBytes) {
  if (text.size() <= maxBytes) return text;
  std::size_t cut = maxBytes;
  // A character is at most four bytes: at most three continuation bytes are stepped back over.
  for (int k = 0; k < 3 && cut > 0 && (std::uint8_t(text[cut]) & 0xC0) == 0x80; ++k) --cut;
  return text.substr(0, cut);
}

}  // namespace tallyfox::Unicode
