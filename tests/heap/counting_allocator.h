// Counts the heap calls of one thread by replacing the C library's allocator
// entry points in the program that includes this header (once): each call
// forwards to glibc's own __libc_* functions and, while a thread is being
// watched, notes what that thread took and gave back. Nothing here allocates.
#ifndef VELQUORN_TESTS_COUNTING_ALLOCATOR_H
#define VELQUORN_TESTS_COUNTING_ALLOCATOR_H

#include <errno.h>
#include <pthread.h>
#include <stddef.h>

extern "C" {
void* __libc_malloc(size_t size);
void* __libc_calloc(size_t count, size_t size);
void* __libc_realloc(void* block, size_t size);
void* __libc_memalign(size_t alignment, size_t size);
void __libc_free(void* block);
}

constexpr int kMaxHeapCalls = 8;

// What happened on the heap of the watched thread.
struct HeapLog {
  bool on;
  pthread_t thread;
  int allocs;
  int frees;
  size_t sizes[kMaxHeapCalls];
  void* blocks[kMaxHeapCalls];
  void* freed[kMaxHeapCalls];
};

inline HeapLog g_heap_log;

// Starts a fresh log of the calling thread's heap calls.
inline void heap_watch_start() {
  g_heap_log = HeapLog{};
  g_heap_log.thread = pthread_self();
  g_heap_log.on = true;
}

inline void heap_watch_stop() { g_heap_log.on = false; }

inline bool heap_watched() {
  return g_heap_log.on && pthread_equal(pthread_self(), g_heap_log.thread);
}

inline void* heap_note_alloc(void* block, size_t size) {
  if (block != nullptr && heap_watched()) {
    if (g_heap_log.allocs < kMaxHeapCalls) {
      g_heap_log.sizes[g_heap_log.allocs] = size;
      g_heap_log.blocks[g_heap_log.allocs] = block;
    }
    ++g_heap_log.allocs;
  }
  return block;
}

extern "C" {

void* malloc(size_t size) { return heap_note_alloc(__libc_malloc(size), size); }
void* calloc(size_t count, size_t size) {
  return heap_note_alloc(__libc_calloc(count, size), count * size);
}
void* realloc(void* block, size_t size) {
  return heap_note_alloc(__libc_realloc(block, size), size);
}
void* aligned_alloc(size_t alignment, size_t size) {
  return heap_note_alloc(__libc_memalign(alignment, size), size);
}
void* memalign(size_t alignment, size_t size) {
  return heap_note_alloc(__libc_memalign(alignment, size), size);
}
int posix_memalign(void** out, size_t alignment, size_t size) {
  *out = heap_note_alloc(__libc_memalign(alignment, size), size);
  return *out != nullptr ? 0 : ENOMEM;
}
void free(void* block) {
  if (block != nullptr && heap_watched()) {
    if (g_heap_log.frees < kMaxHeapCalls) g_heap_log.freed[g_heap_log.frees] = block;
    ++g_heap_log.frees;
  }
  __libc_free(block);
}

}  // extern "C"

#endif  // VELQUORN_TESTS_COUNTING_ALLOCATOR_H
