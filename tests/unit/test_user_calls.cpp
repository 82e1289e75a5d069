// Calls into the application and the library locks: a call raised while the thread holds a
// library lock waits until the last one is released, calls are made in the order raised, none
// is lost or made twice, and a call raised while one is being made waits for it to return.
#include <gtest/gtest.h>

#include <algorithm>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "link/user_calls.h"

namespace {

using Lock = lvx::LibraryMutex<std::mutex>;
using RecursiveLock = lvx::LibraryMutex<std::recursive_mutex>;

// What the calls did, on this thread.
thread_local std::vector<std::string> t_made;

void record(int code, const char *text) {
  t_made.push_back(std::to_string(code) + (text[0] != '\0' ? std::string(":") + text : ""));
}

std::vector<std::string> take_made() {
  std::vector<std::string> out;
  out.swap(t_made);
  return out;
}

TEST(UserCalls, KeptUntilTheOutermostLibraryLockIsReleased) {
  Lock outer;
  RecursiveLock inner;
  {
    std::lock_guard a(outer);
    {
      std::lock_guard b(inner);
      std::lock_guard again(inner);  // re-entered
      EXPECT_TRUE(lvx::library_lock_held());
      lvx::user_call(record, 1);
      char text[16] = "original";
      lvx::user_call(record, 2, text);
      text[0] = 'X';  // the text was copied
    }
    EXPECT_TRUE(lvx::library_lock_held());
    lvx::user_call(record, 3);
    EXPECT_TRUE(take_made().empty());
    EXPECT_EQ(lvx::pending_user_calls(), 3u);
  }
  EXPECT_FALSE(lvx::library_lock_held());
  EXPECT_EQ(lvx::pending_user_calls(), 0u);
  EXPECT_EQ(take_made(), (std::vector<std::string>{"1", "2:original", "3"}));

  // try_lock counts as well; a failed try_lock does not.
  std::unique_lock held(outer, std::try_to_lock);
  ASSERT_TRUE(held.owns_lock());
  std::thread([&outer] {
    std::unique_lock other(outer, std::try_to_lock);
    EXPECT_FALSE(other.owns_lock());
    EXPECT_FALSE(lvx::library_lock_held());
  }).join();
  lvx::user_call(record, 4);
  EXPECT_TRUE(take_made().empty());
  held.unlock();
  EXPECT_EQ(take_made(), (std::vector<std::string>{"4"}));
}

TEST(UserCalls, EveryNoticeOfALongBurstIsMadeInOrder) {
  Lock lock;
  std::vector<std::string> expected;
  {
    std::lock_guard g(lock);
    // Runs of repeated notices (kept as counts) between distinct ones, far more entries than are
    // held without allocating.
    for (int run = 0; run < 100; ++run) {
      for (int i = 0; i < run % 7 + 1; ++i) {
        lvx::user_call(record, run % 2 + 1);
        expected.push_back(std::to_string(run % 2 + 1));
      }
      if (run % 10 == 0) {
        lvx::user_call(record, 9, ("text " + std::to_string(run)).c_str());
        expected.push_back("9:text " + std::to_string(run));
      }
    }
    EXPECT_EQ(lvx::pending_user_calls(), expected.size());
  }
  EXPECT_EQ(take_made(), expected);
  // The record is back to its start: a new burst behaves the same.
  {
    std::lock_guard g(lock);
    lvx::user_call(record, 5);
    lvx::user_call(record, 5);
  }
  EXPECT_EQ(take_made(), (std::vector<std::string>{"5", "5"}));
}

// A call made from a kept call: raised with a lock held or not, it waits until the call that
// raised it has returned, behind the calls kept before it.
Lock g_lock;
int g_depth = 0;
int g_deepest = 0;
void raise_more(int code, const char *text) {
  ++g_depth;
  g_deepest = std::max(g_deepest, g_depth);
  record(code, text);
  if (code == 1) {
    {
      std::lock_guard g(g_lock);
      lvx::user_call(record, 10);
    }
    lvx::user_call(record, 11);
    EXPECT_EQ(t_made.back(), "1");  // neither was made inside this call
  }
  --g_depth;
}

TEST(UserCalls, CallsRaisedInsideACallWaitForItToReturn) {
  {
    std::lock_guard g(g_lock);
    lvx::user_call(raise_more, 1);
    lvx::user_call(raise_more, 2);
  }
  EXPECT_EQ(take_made(), (std::vector<std::string>{"1", "2", "10", "11"}));
  EXPECT_EQ(g_deepest, 1);
}

TEST(UserCalls, EachThreadKeepsItsOwn) {
  Lock shared;
  std::vector<std::string> other;
  {
    std::lock_guard g(shared);
    lvx::user_call(record, 1);
  }
  std::thread([&] {
    EXPECT_FALSE(lvx::library_lock_held());
    lvx::user_call(record, 2, "now");  // made at once: this thread holds nothing
    lvx::user_call(nullptr, 3);        // nothing to call
    other = take_made();
    EXPECT_EQ(lvx::pending_user_calls(), 0u);
  }).join();
  EXPECT_EQ(other, (std::vector<std::string>{"2:now"}));
  EXPECT_EQ(take_made(), (std::vector<std::string>{"1"}));
}

}  // namespace
