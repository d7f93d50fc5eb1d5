// Test module only: the system's operations with the stand-in signature check.
#include "macos/cleanup/node/job_platform.h"
#include "macos/cleanup/testing/standin_signature_testing.h"

namespace qv::cleanup {

std::unique_ptr<Platform> MakeJobPlatform() {
  return std::make_unique<testing::StandInSignaturePlatform>(MakeSystemPlatform());
}

}  // namespace qv::cleanup
