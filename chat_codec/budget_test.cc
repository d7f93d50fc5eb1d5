#include "chat_codec/budget.h"

#include <gtest/gtest.h>

#include <limits>

namespace qv::chat {
namespace {

TEST(ChargeBudget, LimitsAreInclusiveAndBytesSaturate) {
  constexpr auto kMax = std::numeric_limits<std::uint64_t>::max();
  struct Case {
    const char* name;
    CaptureBudget before;
    std::uint64_t amount;
    bool ok;
    CaptureBudget after;
  };
  const Case cases[] = {
      {"fresh", {0, 0}, 32, true, {1, 32}},
      {"last node", {19'999, 0}, 0, true, {20'000, 0}},
      {"one node too many", {20'000, 0}, 0, false, {20'001, 0}},
      {"bytes exactly at the limit", {1, 32}, 8'388'576, true, {2, 8'388'608}},
      {"one byte over", {1, 32}, 8'388'577, false, {2, 8'388'609}},
      {"saturates instead of wrapping", {1, 100}, kMax - 10, false, {2, kMax}},
      {"stays saturated", {1, kMax}, kMax, false, {2, kMax}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    CaptureBudget budget = c.before;
    EXPECT_EQ(charge_budget(budget, c.amount).ok(), c.ok);
    EXPECT_EQ(budget.nodes, c.after.nodes);
    EXPECT_EQ(budget.bytes, c.after.bytes);
  }
}

}  // namespace
}  // namespace qv::chat
