// Calls into the application (the alert hook, the data-ready callback and every other hook) never
// run while the calling thread holds a library lock: an application that calls back into the
// library from such a call, on any thread, can then never deadlock against the library's own
// threads.
//
// Every lock under which library code may raise a call into the application is a LibraryMutex,
// which counts the library locks each thread holds. A notification (a call whose result the
// library does not need: an alert, a data-ready notice) raised while the count is not zero is
// kept, in order, and made as soon as the thread has released its last library lock. The receive
// thread, for example, collects the data-ready notices of a datagram while it dispatches it under
// the link lock and makes them once the dispatch has released that lock; a reader collects the
// alerts it raises while it holds the data locks and makes them when it lets go.
//
// On one thread the calls are made one at a time and in the order raised: a notification raised
// while the thread is already making one (from inside the application's callback) is made once
// that callback has returned. Hooks whose result the library needs (an input poll, a screen that
// opens) cannot wait; they are called only from code that holds no library lock, which
// expect_no_library_lock() checks in debug builds.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace lvx {

// Makes one call into the application: `code` and `text` are what the call was raised with.
using UserCallFn = void (*)(int code, const char *text);

// One kept notification: fn(code, text), `count` times over.
struct PendingCall {
  UserCallFn fn;
  int code;
  uint32_t count;
  char *text;  // malloc'd copy, freed once made; null for none
};

// Entries held without allocating; a thread that keeps more in one go (a long burst of
// interleaved notices) moves on to a vector, freed again once everything has been made.
constexpr uint32_t kFixedCallEntries = 16;

// What the calling thread keeps: its field of the thread's own record (thread_calls()), which is
// trivially destructible and constant-initialised, so that it is there from the thread's first
// instruction to its last: the exit step still takes library locks after the main thread's
// thread-local objects with destructors are gone.
//
// The queue is fixed[first..used) followed by (*more)[more_first..): once `more` exists, new
// entries go there, so that the order stays the order raised.
struct ThreadCalls {
  int depth;        // library locks held
  bool delivering;  // making kept calls now (further ones wait for the running one)
  uint32_t first;
  uint32_t used;
  PendingCall fixed[kFixedCallEntries];
  std::vector<PendingCall> *more;
  size_t more_first;
};
ThreadCalls &thread_calls() noexcept;

// Kept for the thread by LibraryMutex: a lock taken, a lock released. Releasing the last one makes
// the calls kept meanwhile.
void library_lock_taken() noexcept;
void library_lock_released() noexcept;
// True while the calling thread holds at least one library lock.
bool library_lock_held() noexcept;

// Raises a notification: fn(code, text) is called at once when the calling thread holds no
// library lock and is not making one already, else as soon as that is so, after every call raised
// before it on this thread. The text (may be null) is copied. Consecutive notifications with the
// same fn and code and no text are kept as one entry with a count, so that a datagram full of
// samples costs no allocation; each is still made, one call per notification.
void user_call(UserCallFn fn, int code, const char *text = nullptr);

// Notifications raised on this thread and not yet made.
uint32_t pending_user_calls() noexcept;

// Debug builds stop the program when a hook is about to be called with a library lock held.
void expect_no_library_lock() noexcept;

// A mutex that takes part in the count above. Satisfies Lockable, so std::lock_guard and
// std::unique_lock take it as they take the mutex it wraps.
template <typename Mutex>
class LibraryMutex {
 public:
  void lock() {
    mutex_.lock();
    library_lock_taken();
  }
  bool try_lock() {
    if (!mutex_.try_lock()) return false;
    library_lock_taken();
    return true;
  }
  void unlock() {
    mutex_.unlock();
    library_lock_released();
  }

 private:
  Mutex mutex_;
};

}  // namespace lvx
