#pragma once

#include <map>
#include <string>
#include <vector>

namespace testsupport {

// One sample of the Prometheus text exposition format.
struct Sample {
  std::string name;
  std::map<std::string, std::string> labels;  // values unescaped
  double value = 0;
  bool timestamped = false;
};

struct Exposition {
  std::vector<Sample> samples;
  std::map<std::string, std::string> help;  // unescaped
  std::map<std::string, std::string> type;
};

// Reads the text exposition format as strictly as Prometheus and node_exporter's textfile
// collector do: metric and label names, HELP and TYPE lines (each at most once per metric, TYPE
// before the first sample), label values in UTF-8 with only \\, \" and \n escaped, values that
// parse as floats, each metric's samples together, no series twice, a line feed after every
// line. Throws std::runtime_error naming the line and the fault.
Exposition parseExposition(const std::string& text);

}  // namespace testsupport
