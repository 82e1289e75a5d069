#include "link/user_calls.h"

#include <cassert>
#include <cstdlib>
#include <cstring>

namespace lvx {

namespace {

PendingCall *front(ThreadCalls &t) {
  if (t.first < t.used) return &t.fixed[t.first];
  if (t.more != nullptr && t.more_first < t.more->size()) return &(*t.more)[t.more_first];
  return nullptr;
}

PendingCall *back(ThreadCalls &t) {
  if (t.more != nullptr && t.more_first < t.more->size()) return &t.more->back();
  if (t.first < t.used) return &t.fixed[t.used - 1];
  return nullptr;
}

void pop_front(ThreadCalls &t) {
  if (t.first < t.used) {
    std::free(t.fixed[t.first].text);
    ++t.first;
    return;
  }
  std::free((*t.more)[t.more_first].text);
  ++t.more_first;
}

void push_back(ThreadCalls &t, const PendingCall &p) {
  if (t.more == nullptr && t.used < kFixedCallEntries) {
    t.fixed[t.used++] = p;
    return;
  }
  if (t.more == nullptr) t.more = new std::vector<PendingCall>;
  t.more->push_back(p);
}

void keep(ThreadCalls &t, UserCallFn fn, int code, const char *text) {
  if (text == nullptr) {
    PendingCall *last = back(t);
    if (last != nullptr && last->fn == fn && last->code == code && last->text == nullptr &&
        last->count < UINT32_MAX) {
      ++last->count;
      return;
    }
  }
  // A text that cannot be copied is made empty rather than dropped: the application still learns
  // that something happened.
  char *copy = nullptr;
  if (text != nullptr) {
    const size_t n = std::strlen(text) + 1;
    copy = static_cast<char *>(std::malloc(n));
    if (copy != nullptr) std::memcpy(copy, text, n);
  }
  push_back(t, PendingCall{fn, code, 1, copy});
}

// Makes every kept call, oldest first. Calls raised meanwhile by the application's code on this
// thread join the end of the queue and are made in turn.
void deliver(ThreadCalls &t) {
  // Cleared however the loop ends: an application callback that throws leaves the calls after it
  // kept, to be made at the thread's next release of a library lock.
  struct Delivering {
    ThreadCalls &t;
    explicit Delivering(ThreadCalls &calls) : t(calls) { t.delivering = true; }
    ~Delivering() { t.delivering = false; }
  } delivering(t);
  while (PendingCall *p = front(t)) {
    if (p->count == 0) {
      pop_front(t);
      continue;
    }
    --p->count;
    // Copied out: the call may add entries, which can move the vector's storage. The text stays
    // where it is until its entry is popped.
    const UserCallFn fn = p->fn;
    const int code = p->code;
    const char *text = p->text;
    fn(code, text != nullptr ? text : "");
  }
  t.first = t.used = 0;
  delete t.more;
  t.more = nullptr;
  t.more_first = 0;
}

}  // namespace

void library_lock_taken() noexcept {
  ++thread_calls().depth;
}

void library_lock_released() noexcept {
  ThreadCalls &t = thread_calls();
  if (--t.depth > 0 || t.delivering || front(t) == nullptr) return;
  deliver(t);
}

bool library_lock_held() noexcept {
  return thread_calls().depth > 0;
}

void user_call(UserCallFn fn, int code, const char *text) {
  if (fn == nullptr) return;
  ThreadCalls &t = thread_calls();
  if (t.depth == 0 && !t.delivering) {
    // Nothing can be kept while the thread holds no lock and makes no call, so none is ahead.
    fn(code, text != nullptr ? text : "");
    return;
  }
  keep(t, fn, code, text);
}

uint32_t pending_user_calls() noexcept {
  const ThreadCalls &t = thread_calls();
  uint64_t n = 0;
  for (uint32_t i = t.first; i < t.used; ++i) n += t.fixed[i].count;
  if (t.more != nullptr) {
    for (size_t i = t.more_first; i < t.more->size(); ++i) n += (*t.more)[i].count;
  }
  return n > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(n);
}

void expect_no_library_lock() noexcept {
  assert(!library_lock_held() && "a hook is called with a library lock held");
}

}  // namespace lvx
