#include <tallyfox/SnapshotDump.h>

#include <gtest/gtest.h>

#include <string>

using tallyfox::SnapshotDump::terminalSafe;

// What a name shows as on a terminal: nothing in it may move the cursor, retitle the
// window, split the line or turn the text around it, so that one name cannot pass for another.
TEST(TerminalSafe, ControlsAndCharactersThatReorderTheLineBecomeQuestionMarks) {
  EXPECT_EQ(terminalSafe("plain name.txt"), "plain name.txt");
  EXPECT_EQ(terminalSafe("a\x1b]0;title\x07z"), "a?]0;title?z");
  EXPECT_EQ(terminalSafe("two\nlines\r\t"), "two?lines??");
  EXPECT_EQ(terminalSafe("del\x7f c1\xc2\x9b"
                         "31m"),
            "del? c1?31m");
  // "bidi" U+202E "gpj.exe" would show as "bidiexe.jpg".
  EXPECT_EQ(terminalSafe("bidi\u202egpj.exe"), "bidi?gpj.exe");
  for (const char* layout : {"\u061c", "\u200e", "\u200f", "\u2028", "\u2029", "\u202a", "\u202b", "\u202c",
                             "\u202d", "\u202e", "\u2066", "\u2067", "\u2068", "\u2069"})
    EXPECT_EQ(terminalSafe(std::string("x") + layout + "y"), "x?y") << layout;
  // Their neighbours are ordinary text: joiners, narrow spaces, letters of any script.
  for (const char* kept : {"\u200d", "\u2027", "\u202f", "\u2065", "\u206a", "\u061b", "\u00a0", "\u05d0",
                           "\xf0\x9f\x98\x80", "\u00e9"})
    EXPECT_EQ(terminalSafe(std::string("x") + kept + "y"), std::string("x") + kept + "y") << kept;
  // Bytes that are not UTF-8 become U+FFFD, never half a character for the terminal to join.
  EXPECT_EQ(terminalSafe("bad\xff\xe2\x80"), "bad\xef\xbf\xbd\xef\xbf\xbd");
  EXPECT_EQ(terminalSafe("cut\xe2\x80"), "cut\xef\xbf\xbd");
  EXPECT_EQ(terminalSafe(""), "");
}
