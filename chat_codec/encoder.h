// The JavaScript class NativeMessageEncoder: follows one chat message and answers each update
// with null (send it complete) or a delta against the previous version.
#pragma once

#include <node_api.h>

#include <optional>

#include "chat_codec/capture.h"
#include "chat_codec/delta_output.h"
#include "chat_codec/message_value.h"
#include "qv/napi.h"

namespace qv::chat {

inline constexpr char kInvalidSequenceText[] = "Invalid message sequence";
inline constexpr char kBorrowedText[] =
    "The same native value cannot be borrowed mutably while another borrow is active";

// One per JavaScript instance, freed by the wrap's finalizer when the instance is collected.
struct EncoderState {
  double message_seq = 0;  // meaningful only while a checkpoint is held
  std::optional<MessageValue> checkpoint;
  NodeStorage storage;  // containers of replaced checkpoints, reused by the next capture
  // Set while a call on this instance runs; JavaScript reached from it (a getter in the message)
  // must not re-enter the same instance.
  bool in_use = false;
};

// Per-environment data shared by every instance of the class.
struct ModuleData {
  napi::Reference prototype_of;  // Object.getPrototypeOf as it was when the module loaded
  DeltaNames names;
};

// Defines the class on `exports`; `data` must outlive the environment's instances.
napi::Status define_encoder_class(napi_env env, napi_value exports, ModuleData* data);

}  // namespace qv::chat
