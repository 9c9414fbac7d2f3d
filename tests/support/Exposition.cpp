#include "Exposition.h"

#include <cctype>
#include <cstdlib>
#include <limits>
#include <set>
#include <sstream>
#include <stdexcept>

namespace testsupport {

namespace {

class LineReader {
 public:
  LineReader(std::string line, int number) : line_(std::move(line)), number_(number) {}

  [[noreturn]] void fail(const std::string& why) const {
    throw std::runtime_error("line " + std::to_string(number_) + " (" + line_ + "): " + why);
  }
  bool done() const { return at_ == line_.size(); }
  char peek() const { return done() ? '\0' : line_[at_]; }
  void expect(char c) {
    if (peek() != c) fail(std::string("expected '") + c + "'");
    ++at_;
  }
  std::string name(bool metric) {
    const std::size_t start = at_;
    auto first = [&](char c) { return std::isalpha((unsigned char)c) || c == '_' || (metric && c == ':'); };
    auto rest = [&](char c) { return first(c) || std::isdigit((unsigned char)c); };
    if (done() || !first(peek())) fail("a name must start with a letter or _");
    while (!done() && rest(peek())) ++at_;
    return line_.substr(start, at_ - start);
  }
  // A quoted label value, unescaped.
  std::string quoted() {
    expect('"');
    std::string out;
    while (true) {
      if (done()) fail("an unterminated label value");
      const char c = line_[at_++];
      if (c == '"') break;
      if (c != '\\') {
        out += c;
        continue;
      }
      const char e = peek();
      ++at_;
      if (e == '\\' || e == '"')
        out += e;
      else if (e == 'n')
        out += '\n';
      else
        fail(std::string("an escape \\") + e + " the format does not have");
    }
    if (!validUtf8(out)) fail("a label value that is not UTF-8");
    return out;
  }
  std::string word() {
    const std::size_t start = at_;
    while (!done() && peek() != ' ') ++at_;
    return line_.substr(start, at_ - start);
  }
  std::string rest() {
    std::string out = line_.substr(at_);
    at_ = line_.size();
    return out;
  }

  static bool validUtf8(const std::string& s) {
    for (std::size_t i = 0; i < s.size();) {
      const auto c = (unsigned char)s[i];
      const std::size_t n = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
      if (n == 0 || i + n > s.size()) return false;
      for (std::size_t k = 1; k < n; ++k)
        if (((unsigned char)s[i + k] >> 6) != 2) return false;
      if (n == 2 && c < 0xC2) return false;
      i += n;
    }
    return true;
  }

 private:
  std::string line_;
  std::size_t at_ = 0;
  int number_;
};

double floatValue(const std::string& text, const LineReader& reader) {
  if (text == "NaN") return std::numeric_limits<double>::quiet_NaN();
  if (text == "+Inf") return std::numeric_limits<double>::infinity();
  if (text == "-Inf") return -std::numeric_limits<double>::infinity();
  char* end = nullptr;
  const double value = std::strtod(text.c_str(), &end);
  const bool plain = text.find_first_not_of("0123456789.eE+-") == std::string::npos;
  if (text.empty() || *end != '\0' || !plain) reader.fail("a value that is not a number: " + text);
  return value;
}

std::string unescapedHelp(const std::string& text, const LineReader& reader) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\') {
      out += text[i];
      continue;
    }
    if (i + 1 == text.size()) reader.fail("a lone backslash in HELP");
    const char e = text[++i];
    if (e == '\\')
      out += '\\';
    else if (e == 'n')
      out += '\n';
    else
      reader.fail("an escape in HELP the format does not have");
  }
  return out;
}

}  // namespace

Exposition parseExposition(const std::string& text) {
  Exposition out;
  if (text.empty() || text.back() != '\n') throw std::runtime_error("the text does not end with a line feed");
  std::set<std::string> finished, series;
  std::string current;
  std::istringstream lines(text);
  std::string line;
  for (int number = 1; std::getline(lines, line); ++number) {
    LineReader reader(line, number);
    if (line.empty()) continue;
    if (line.front() == '#') {
      reader.expect('#');
      reader.expect(' ');
      const std::string keyword = reader.word();
      if (keyword != "HELP" && keyword != "TYPE") continue;  // a plain comment
      reader.expect(' ');
      const std::string name = reader.name(true);
      if (finished.contains(name) || current == name) reader.fail(keyword + " after the metric's samples");
      if (keyword == "HELP") {
        if (out.help.contains(name)) reader.fail("a second HELP");
        if (reader.done()) {
          out.help[name] = "";
          continue;
        }
        reader.expect(' ');
        out.help[name] = unescapedHelp(reader.rest(), reader);
      } else {
        if (out.type.contains(name)) reader.fail("a second TYPE");
        reader.expect(' ');
        const std::string type = reader.rest();
        if (type != "counter" && type != "gauge" && type != "histogram" && type != "summary" &&
            type != "untyped")
          reader.fail("an unknown type");
        out.type[name] = type;
      }
      continue;
    }
    Sample sample;
    sample.name = reader.name(true);
    if (sample.name != current) {
      if (finished.contains(sample.name)) reader.fail("the metric's samples are not together");
      if (!current.empty()) finished.insert(current);
      current = sample.name;
    }
    std::string key = sample.name + "{";
    if (reader.peek() == '{') {
      reader.expect('{');
      while (reader.peek() != '}') {
        const std::string label = reader.name(false);
        if (label.starts_with("__")) reader.fail("a reserved label name");
        reader.expect('=');
        const std::string value = reader.quoted();
        if (!sample.labels.emplace(label, value).second) reader.fail("a label given twice");
        if (reader.peek() == ',') reader.expect(',');
      }
      reader.expect('}');
    }
    for (const auto& [label, value] : sample.labels) key += label + "=" + value + "\x1f";
    if (!series.insert(key).second) reader.fail("a series given twice");
    reader.expect(' ');
    sample.value = floatValue(reader.word(), reader);
    if (!reader.done()) {
      reader.expect(' ');
      const std::string timestamp = reader.rest();
      if (timestamp.empty() || timestamp.find_first_not_of("-0123456789") != std::string::npos)
        reader.fail("a timestamp that is not an integer");
      sample.timestamped = true;
    }
    out.samples.push_back(std::move(sample));
  }
  return out;
}

}  // namespace testsupport
