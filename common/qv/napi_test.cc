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

// The codes JavaScript sees, by the headers' own status values; values past the table are
// "Unknown" (a newer runtime's status included).
TEST(NapiStatusName, NamesEveryStatusByValue) {
  const std::vector<std::pair<int, std::string>> cases = {
      {napi_ok, "Ok"},
      {napi_invalid_arg, "InvalidArg"},
      {napi_object_expected, "ObjectExpected"},
      {napi_string_expected, "StringExpected"},
      {napi_name_expected, "NameExpected"},
      {napi_function_expected, "FunctionExpected"},
      {napi_number_expected, "NumberExpected"},
      {napi_boolean_expected, "BooleanExpected"},
      {napi_array_expected, "ArrayExpected"},
      {napi_generic_failure, "GenericFailure"},
      {napi_pending_exception, "PendingException"},
      {napi_cancelled, "Cancelled"},
      {napi_escape_called_twice, "EscapeCalledTwice"},
      {napi_handle_scope_mismatch, "HandleScopeMismatch"},
      {napi_callback_scope_mismatch, "CallbackScopeMismatch"},
      {napi_queue_full, "QueueFull"},
      {napi_closing, "Closing"},
      {napi_bigint_expected, "BigintExpected"},
      {napi_date_expected, "DateExpected"},
      {napi_arraybuffer_expected, "ArrayBufferExpected"},
      {napi_detachable_arraybuffer_expected, "DetachableArraybufferExpected"},
      {napi_would_deadlock, "WouldDeadlock"},
      {napi_no_external_buffers_allowed, "NoExternalBuffersAllowed"},
      {napi_no_external_buffers_allowed + 1, "Unknown"},
      {-1, "Unknown"},
  };
  for (const auto& [status, name] : cases) {
    EXPECT_EQ(qv::napi::status_name(status), name) << status;
  }
  // A failed call names its step.
  const qv::napi::Error failed = qv::napi::call_error(napi_array_expected, "read a list");
  EXPECT_EQ(failed.status, napi_array_expected);
  EXPECT_EQ(failed.message, "Failed to read a list");
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
