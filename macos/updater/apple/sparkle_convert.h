// Conversions between the update framework's Objective-C types and the seam's C++ types
// (framework.h). Objective-C++ only; used by QuorvelUpdater and the framework updater.
#pragma once

#import <Foundation/Foundation.h>
#import <Sparkle/Sparkle.h>

#include "macos/updater/framework.h"

namespace qv::updater::apple {

AppcastItem ItemFrom(SUAppcastItem* item);
Appcast AppcastFrom(SUAppcast* appcast);
UserUpdateState StateFrom(SPUUserUpdateState* state);

// An absent error converts to an error with an empty domain and code 0.
FrameworkError ErrorFrom(NSError* error);
// The latest-item entry has no Objective-C form and is left out.
NSError* NSErrorFrom(const FrameworkError& error);

// Reply blocks: each is copied, held until the reply has answered, and invoked through the
// seam's Reply, which runs it at most once. A nil block gives an empty reply.
Block BlockFrom(void (^block)(void));
ChoiceReply ChoiceReplyFrom(void (^reply)(SPUUserUpdateChoice));
PermissionReply PermissionReplyFrom(void (^reply)(SUUpdatePermissionResponse*));

}  // namespace qv::updater::apple
