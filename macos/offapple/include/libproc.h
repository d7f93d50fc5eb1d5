// The two process-table calls the cleanup adapter uses, declared for the syntax check on
// machines without the macOS SDK. Never used on Apple platforms.
#pragma once

#include <stdint.h>

#define PROC_ALL_PIDS 1
#define PROC_PIDPATHINFO_MAXSIZE 4096

#ifdef __cplusplus
extern "C" {
#endif

// Byte length of the list of process ids (buffer null), or of the part written into buffer.
int proc_listpids(uint32_t type, uint32_t typeinfo, void* buffer, int buffer_size);
// Length of the executable path written into buffer, or 0 or less on failure.
int proc_pidpath(int pid, void* buffer, uint32_t buffer_size);

#ifdef __cplusplus
}
#endif
