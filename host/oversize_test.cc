#include "host/oversize.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace qv::host {
namespace {

constexpr char kTail[] = R"(,"error":"The message is larger than the browser accepts (1 MB)."})";

TEST(OversizeReply, IdRendering) {
  struct Case {
    std::string message;
    std::optional<std::string> id;  // the rendered id, or no reply at all
  };
  const Case cases[] = {
      {R"({"id":7,"data":"x"})", "7"},
      {R"({"id":7.0})", "7"},
      {R"({"id":-7.0})", "-7"},
      {R"({"id":-0})", "0"},
      {R"({"id":0.0e3})", "0"},
      {R"({"id":1.25})", "1.25"},
      {R"({"id":1.50})", "1.50"},
      {R"({"id":2.5E3})", "2500"},
      {R"({"id":1e20})", "100000000000000000000"},
      {R"({"id":1e21})", "1e21"},
      {R"({"id":-1e21})", "-1e21"},
      {R"({"id":123456789012345678})", "123456789012345680"},
      {R"({"id":9007199254740993})", "9007199254740992"},
      {R"({"id":9.999999999999977e19})", "99999999999999770000"},
      {R"({"id":1e400})", "null"},
      {R"({"id":-1e400})", "null"},
      {R"({"id":1e-400})", "0"},
      {R"({"id":5e-1})", "5e-1"},
      {R"({"id":"7"})", std::nullopt},
      {R"({"data":1})", std::nullopt},
      {R"({"id":7)", std::nullopt},
      {R"([{"id":7}])", std::nullopt},
      {R"({"id":7,"id":null})", std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    auto reply = oversize_reply(c.message);
    ASSERT_EQ(reply.has_value(), c.id.has_value());
    if (reply) {
      EXPECT_EQ(*reply, "{\"id\":" + *c.id + kTail);
    }
  }
}

}  // namespace
}  // namespace qv::host
