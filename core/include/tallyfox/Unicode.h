#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace tallyfox::Unicode {

// Bytes as text: invalid UTF-8 sequences become U+FFFD, never a failure.
std::string decodeLossy(std::span<const std::uint8_t> bytes);
std::string decodeLossy(std::string_view bytes);
bool isAscii(std::string_view text);
// NFC form of valid UTF-8; other bytes are returned unchanged.
std::string nfc(std::string_view text);
// Equality under Unicode canonical equivalence, with a byte fast path for ASCII.
bool canonicallyEqual(std::string_view a, std::string_view b);
// The longest start of `text` of at most `maxBytes` bytes that does not end inside a UTF-8
// character, for names cut to fit a limit. Bytes that are not UTF-8 may be cut anywhere.
std::string_view prefixWithin(std::string_view text, std::size_t maxBytes);

}  // namespace tallyfox::Unicode
