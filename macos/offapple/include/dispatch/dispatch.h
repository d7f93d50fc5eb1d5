// The main-queue scheduling calls the updater adapter uses, declared for the syntax check on
// machines without the macOS SDK. Never used on Apple platforms.
#pragma once

#include <stdint.h>

#define DISPATCH_TIME_NOW (0ull)
#define NSEC_PER_SEC 1000000000ull

#ifdef __cplusplus
extern "C" {
#endif

typedef uint64_t dispatch_time_t;
typedef struct dispatch_queue_s* dispatch_queue_t;
typedef void (^dispatch_block_t)(void);

dispatch_time_t dispatch_time(dispatch_time_t when, int64_t delta);
dispatch_queue_t dispatch_get_main_queue(void);
void dispatch_after(dispatch_time_t when, dispatch_queue_t queue, dispatch_block_t block);
void dispatch_async(dispatch_queue_t queue, dispatch_block_t block);

#ifdef __cplusplus
}
#endif
