// Copying a JavaScript message into a MessageValue tree, within the native budgets. Only data a
// message can carry is accepted: primitives, plain objects and ordinary dense arrays.
#pragma once

#include <node_api.h>

#include <cstdint>

#include "budget.h"
#include "engine_helpers.h"
#include "message_value.h"
#include "napi_error.h"

namespace qv::chat {

inline constexpr char kNestingText[] = "Message nesting exceeds native budget";
inline constexpr char kBudgetText[] = "Message checkpoint budget exceeded";
inline constexpr char kUnsupportedText[] = "Unsupported message value";
inline constexpr char kNonPlainText[] = "Non-plain objects use complete messages";
inline constexpr char kObjectBudgetText[] = "Message object exceeds native budget";
inline constexpr char kArrayBudgetText[] = "Message array exceeds native budget";
inline constexpr char kNonstandardArrayText[] = "Nonstandard arrays use complete messages";
inline constexpr char kSparseArrayText[] = "Sparse arrays use complete messages";

// What the walk needs besides the value: the context's Object.prototype (a plain object's
// prototype is that or null) and the key lister.
struct CaptureContext {
  napi_env env;
  napi_value plain_prototype;
  EngineHelpers::Functions keys;
};

// Captures `value`, standing at `depth` (the root at 0). Any failure ends the whole walk; no
// partial tree is returned. The engine's value is never modified.
NapiResult<MessageValue> capture_value(const CaptureContext& context, napi_value value,
                                       std::uint32_t depth, CaptureBudget& budget);

}  // namespace qv::chat
