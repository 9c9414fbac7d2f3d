#include "JsonPath.h"

#include <tallyfox/JsonValues.h>

#include <gtest/gtest.h>

namespace testsupport {

std::string pathBytesOf(const nlohmann::json& value) {
  const auto bytes = tallyfox::detail::pathFromJson(value);
  EXPECT_TRUE(bytes.has_value()) << value.dump();
  return bytes.value_or("");
}

}  // namespace testsupport
