#include "chat_codec/encoder.h"

#include <cmath>
#include <memory>
#include <string>
#include <utility>

#include "chat_codec/capture.h"
#include "chat_codec/delta_output.h"
#include "chat_codec/edits.h"

namespace qv::chat {
namespace {

constexpr double kMaxSequence = 9007199254740991.0;  // 2^53 - 1

const char* type_name(napi_valuetype type) {
  switch (type) {
    case napi_undefined:
      return "undefined";
    case napi_null:
      return "null";
    case napi_boolean:
      return "boolean";
    case napi_number:
      return "number";
    case napi_string:
      return "string";
    case napi_symbol:
      return "symbol";
    case napi_object:
      return "object";
    case napi_function:
      return "function";
    case napi_external:
      return "external";
    case napi_bigint:
      return "bigint";
  }
  return "unknown";
}

// Claims the instance for one call and releases it on every way out.
class Borrow {
 public:
  explicit Borrow(EncoderState& state) : state_(state) { state_.in_use = true; }
  ~Borrow() { state_.in_use = false; }
  Borrow(const Borrow&) = delete;
  Borrow& operator=(const Borrow&) = delete;

 private:
  EncoderState& state_;
};

struct CallInfo {
  napi_value self = nullptr;
  napi_value args[3] = {nullptr, nullptr, nullptr};
  ModuleData* data = nullptr;
  EncoderState* state = nullptr;
};

// Reads the call's receiver and arguments and finds the instance's state; refuses a receiver
// that is not an encoder and an instance that is already in use.
napi::Result<CallInfo> enter(napi_env env, napi_callback_info info) {
  CallInfo call;
  std::size_t argc = 3;
  void* data = nullptr;
  QV_NAPI_CALL(napi_get_cb_info(env, info, &argc, call.args, &call.self, &data),
               "read the call's arguments");
  call.data = static_cast<ModuleData*>(data);
  if (napi::unwrap(env, call.self, &call.state) != napi_ok || call.state == nullptr) {
    return Err{napi::Error{napi_invalid_arg, "Receiver is not a NativeMessageEncoder"}};
  }
  if (call.state->in_use) return Err{napi::Error{napi_invalid_arg, kBorrowedText}};
  return call;
}

// An argument that must be of one JavaScript type, and how it is refused and read.
template <class T>
struct ArgumentKind {
  napi_valuetype type;
  napi_status refusal;
  const char* expected;  // "Expected a <expected> for <name>, received <type>"
  const char* step;      // the step named when reading it fails
  napi_status (*read)(napi_env, napi_value, T*);
};

constexpr ArgumentKind<double> kNumber{napi_number, napi_number_expected, "number",
                                       "read a number argument", napi_get_value_double};
constexpr ArgumentKind<bool> kBoolean{napi_boolean, napi_boolean_expected, "boolean",
                                      "read a boolean argument", napi_get_value_bool};

template <class T>
napi::Result<T> argument(napi_env env, napi_value value, const char* name,
                         const ArgumentKind<T>& kind) {
  napi_valuetype type = napi_undefined;
  QV_NAPI_CALL(napi_typeof(env, value, &type), "read an argument's type");
  if (type != kind.type) {
    return Err{napi::Error{kind.refusal, std::string("Expected a ") + kind.expected + " for " +
                                             name + ", received " + type_name(type)}};
  }
  T result{};
  QV_NAPI_CALL(kind.read(env, value, &result), kind.step);
  return result;
}

bool valid_sequence(double q) {
  return std::isfinite(q) && q >= 0 && q <= kMaxSequence && std::trunc(q) == q;
}

// Drops the checkpoint and the containers kept for reuse: an encoder without a checkpoint holds
// no tree's memory.
void drop_checkpoint(EncoderState& state) {
  state.checkpoint.reset();
  state.storage.clear();
}

// Keeps `tree` as the checkpoint under `q`; the replaced checkpoint's storage is kept for reuse.
void store(EncoderState& state, double q, MessageValue&& tree) {
  std::optional<MessageValue> old = std::exchange(state.checkpoint, std::move(tree));
  state.message_seq = q;
  if (old) state.storage.recycle(std::move(*old));
}

// Everything after argument conversion; the state is claimed by the caller.
napi::Result<napi_value> run_update(napi_env env, const CallInfo& call, double q,
                                    napi_value message, bool force_complete) {
  EncoderState& state = *call.state;
  if (!valid_sequence(q)) {
    drop_checkpoint(state);
    return Err{napi::generic_error(kInvalidSequenceText)};
  }

  QV_TRY_VALUE(context, prepare_capture(env, call.data->prototype_of));  // the state is untouched
  context.storage = &state.storage;
  CaptureBudget budget;
  auto captured = capture_value(context, message, 0, budget);
  if (!captured) {
    drop_checkpoint(state);
    return Err{std::move(captured.error())};
  }

  napi_value result = nullptr;
  if (force_complete || !state.checkpoint) {
    QV_NAPI_CALL(napi_get_null(env, &result), "create null");
    store(state, q, std::move(*captured));
    return result;
  }

  auto edits = compute_edits(*state.checkpoint, *captured, delta_path_limit(budget.bytes));
  if (!edits) {
    QV_NAPI_CALL(napi_get_null(env, &result), "create null");
  } else {
    // Built before the state changes: on failure the old checkpoint stays.
    QV_TRY_VALUE(delta, build_delta(env, *edits, state.message_seq, call.data->names));
    result = delta;
  }
  store(state, q, std::move(*captured));
  return result;
}

// The entry points: each returns its outcome, which napi::entry hands to JavaScript.

napi::Result<napi_value> Construct(napi_env env, napi_callback_info info) {
  napi_value target = nullptr;
  if (napi_get_new_target(env, info, &target) != napi_ok || target == nullptr) {
    return Err{
        napi::type_error(napi_invalid_arg,
                         "Class constructor NativeMessageEncoder cannot be invoked without 'new'")};
  }
  napi_value self = nullptr;
  QV_NAPI_CALL(napi_get_cb_info(env, info, nullptr, nullptr, &self, nullptr),
               "read the constructor call");
  QV_NAPI_CALL(napi::wrap(env, self, std::make_unique<EncoderState>()), "attach the encoder state");
  return self;
}

napi::Result<napi_value> Update(napi_env env, napi_callback_info info) {
  QV_TRY_VALUE(call, enter(env, info));
  QV_TRY_VALUE(q, argument(env, call.args[0], "messageSeq", kNumber));
  QV_TRY_VALUE(force, argument(env, call.args[2], "forceComplete", kBoolean));
  Borrow borrow(*call.state);
  return run_update(env, call, q, call.args[1], force);
}

napi::Result<napi_value> Reset(napi_env env, napi_callback_info info) {
  QV_TRY_VALUE(call, enter(env, info));
  drop_checkpoint(*call.state);
  napi_value undefined = nullptr;
  QV_NAPI_CALL(napi_get_undefined(env, &undefined), "create undefined");
  return undefined;
}

napi::Result<napi_value> GetMessageSeq(napi_env env, napi_callback_info info) {
  QV_TRY_VALUE(call, enter(env, info));
  napi_value result = nullptr;
  QV_NAPI_CALL(call.state->checkpoint ? napi_create_double(env, call.state->message_seq, &result)
                                      : napi_get_null(env, &result),
               "create messageSeq");
  return result;
}

}  // namespace

napi::Status define_encoder_class(napi_env env, napi_value exports, ModuleData* data) {
  constexpr auto kMember =
      static_cast<napi_property_attributes>(napi_writable | napi_enumerable | napi_configurable);
  const napi_property_descriptor members[] = {
      {"messageSeq", nullptr, nullptr, napi::entry<&GetMessageSeq>, nullptr, nullptr, kMember,
       data},
      {"reset", nullptr, napi::entry<&Reset>, nullptr, nullptr, nullptr, kMember, data},
      {"update", nullptr, napi::entry<&Update>, nullptr, nullptr, nullptr, kMember, data},
  };
  napi_value constructor = nullptr;
  QV_NAPI_CALL(
      napi_define_class(env, "NativeMessageEncoder", NAPI_AUTO_LENGTH, napi::entry<&Construct>,
                        data, sizeof(members) / sizeof(members[0]), members, &constructor),
      "define NativeMessageEncoder");
  QV_NAPI_CALL(napi_set_named_property(env, exports, "NativeMessageEncoder", constructor),
               "export NativeMessageEncoder");
  return kOk;
}

}  // namespace qv::chat
