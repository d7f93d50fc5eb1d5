// Small functions compiled inside the engine when the module loads. A host may refuse code
// generation, so every failure here only means "use the Node-API route instead".
#pragma once

#include <node_api.h>

#include <cstddef>
#include <string_view>

namespace qv::chat {

// Clears the exception a failed step left pending, if any, so that loading can carry on.
void clear_pending_exception(napi_env env);

// Runs `source`, whose value must be a factory function, calls the factory with `argc`
// arguments and returns a strong reference to the function it answers. Null when any step
// fails; no exception is left pending then.
napi_ref compile_function(napi_env env, std::string_view source, std::size_t argc,
                          const napi_value* argv);

}  // namespace qv::chat
