// The platform a cleanup job runs against. The shipped module links the system's; a test
// module links one whose code-signature check is a test stand-in.
#pragma once

#include <memory>

#include "macos/cleanup/platform.h"

namespace qv::cleanup {

std::unique_ptr<Platform> MakeJobPlatform();

}  // namespace qv::cleanup
