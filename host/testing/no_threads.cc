// Preloaded into the host by a test to make the reader thread impossible to start.
#include <pthread.h>

#include <cerrno>

extern "C" int pthread_create(pthread_t*, const pthread_attr_t*, void* (*)(void*), void*) {
  return EAGAIN;
}
