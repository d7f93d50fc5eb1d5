#include "macos/cleanup/node/job_platform.h"

namespace qv::cleanup {

std::unique_ptr<Platform> MakeJobPlatform() {
  return MakeSystemPlatform();
}

}  // namespace qv::cleanup
