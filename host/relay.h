// The two halves of the relay: the browser loop on the main thread and the connection loop on
// the reader thread.
#pragma once

#include <string>

#include "host/bridge_state.h"
#include "host/frame.h"

namespace qv::host {

// The frame the browser is sent when a connection to the application ends.
inline constexpr std::string_view kDetachNotice =
    R"({"id":0,"method":"debugger.detachAll","params":{}})";

// Connects to the application at `path`, relays its lines to the browser and reconnects once a
// second after every failure or end of connection. Never returns.
[[noreturn]] void connection_loop(const std::string& path, BrowserWriter& browser,
                                  BridgeState& state);

// Reads browser frames and forwards valid messages to the application until the input ends.
void browser_loop(InputReader& in, BridgeState& state);

// Ends the process with `status` at once, without running destructors the other thread may
// still depend on.
[[noreturn]] void end_process(int status);

}  // namespace qv::host
