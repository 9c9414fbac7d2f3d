#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace tallyfox::Unicode {

// Bytes as text: invalid UTF-8 sequences become U+FFFD, never a failure.
std::string decodeLossy(std::span<const std::uint8_t> bytes);
std::string decodeLossy(std::string_view bytes);
// The same text without a copy: the bytes themselves when they are valid UTF-8 (as nearly
// every name is), else their decoding, kept in `scratch`.
std::string_view decodeLossy(std::span<const std::uint8_t> bytes, std::string& scratch);
bool isAscii(std::string_view text);
// The code point that starts `text`, which must be valid UTF-8 (as decodeLossy gives) and
// not empty; `length` receives its length in bytes.
char32_t leadingCodePoint(std::string_view text, std::size_t& length);
// Characters that reorder or break the text around them where it is shown: the
// bidirectional marks (U+061C, U+200E, U+200F), embeddings and overrides (U+202A to U+202E)
// and isolates (U+2066 to U+2069), and the line and paragraph separators (U+2028, U+2029).
// A name holding them can show as another name ("bidi" U+202E "gpj.exe" as "bidiexe.jpg").
bool isLayoutControl(char32_t c);
// NFC form of valid UTF-8; other bytes are returned unchanged.
std::string nfc(std::string_view text);
// Equality under Unicode canonical equivalence, with a byte fast path for ASCII.
bool canonicallyEqual(std::string_view a, std::string_view b);
// The longest start of `text` of at most `maxBytes` bytes that does not end inside a UTF-8
// character, for names cut to fit a limit. Bytes that are not UTF-8 may be cut anywhere.
std::string_view prefixWithin(std::string_view text, std::size_t maxBytes);

}  // namespace tallyfox::Unicode
