#include "qv/napi.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace {

// Handles stand for themselves: releasing one records it, so a double or a missed release
// shows in the log.
std::vector<int> released;
struct RecordRelease {
  void operator()(napi_env /*env*/, int handle) const { released.push_back(handle); }
};
using Owner = qv::napi::Unique<int, RecordRelease>;

TEST(NapiUnique, GivesEachHandleBackExactlyOnce) {
  released.clear();
  {
    Owner a(nullptr, 1);
    Owner b(std::move(a));  // a holds nothing now
    EXPECT_FALSE(a);        // NOLINT(bugprone-use-after-move): the moved-from state is the point
    EXPECT_EQ(b.get(), 1);
    Owner c(nullptr, 2);
    c = std::move(b);  // 2 goes back, c takes 1
    EXPECT_EQ(released, std::vector<int>{2});
    Owner d(nullptr, 3);
    d.reset();
    d.reset();
    Owner e(nullptr, 4);
    EXPECT_EQ(e.release(), 4);  // handed over: never given back by the owner
    Owner f;                    // empty: nothing to give back
  }
  EXPECT_EQ(released, (std::vector<int>{2, 3, 1}));
}

struct Failure {
  std::string text;
};
qv::Result<int, Failure> parse(int x) {
  if (x < 0) return qv::Err{Failure{"negative"}};
  return x * 2;
}
qv::Result<int, Failure> twice(int x) {
  QV_TRY_VALUE(first, parse(x));
  QV_TRY_VALUE(second, parse(first));
  return second;
}
qv::Status<Failure> checked(int x) {
  QV_TRY(parse(x));
  return qv::kOk;
}

TEST(ResultPropagation, ReturnsTheFirstErrorOrCarriesTheValue) {
  EXPECT_EQ(*twice(3), 12);
  ASSERT_FALSE(twice(-1));
  EXPECT_EQ(twice(-1).error().text, "negative");
  EXPECT_TRUE(checked(0));
  ASSERT_FALSE(checked(-5));
  EXPECT_EQ(checked(-5).error().text, "negative");
}

}  // namespace
