// The fast route for building delta objects: the edit list is handed to a builder compiled from
// JavaScript when the module loads, as one Float64Array and one string, and the builder makes
// the same objects as build_delta in delta_output.h (same properties, order and assignment or
// definition rules). Building through Node-API costs a few dozen calls per edit.
#pragma once

#include <node_api.h>

#include <memory>
#include <vector>

#include "edits.h"
#include "napi_error.h"

namespace qv::chat {

class ScriptDelta {
 public:
  // Null when the builder cannot be compiled (the caller then uses build_delta).
  static std::unique_ptr<ScriptDelta> create(napi_env env);
  ~ScriptDelta();
  ScriptDelta(const ScriptDelta&) = delete;
  ScriptDelta& operator=(const ScriptDelta&) = delete;

  NapiResult<napi_value> build(napi_env env, const EditList& edits, double base_seq) const;

 private:
  ScriptDelta(napi_env env, napi_ref builder) : env_(env), builder_(builder) {}
  // The numbers of one delta, in a Float64Array kept between deltas.
  NapiResult<napi_value> numbers(napi_env env, const std::vector<double>& ops) const;

  napi_env env_;
  napi_ref builder_;
  mutable napi_ref buffer_ = nullptr;
  mutable bool buffer_busy_ = false;
};

}  // namespace qv::chat
