#include "platform/unique_handle.h"

#include <gtest/gtest.h>

#include <vector>

namespace tarnix {
namespace {

// Records every close, so a test sees exactly what was released and when.
struct RecordingTraits {
  using Handle = int;
  static Handle Invalid() noexcept { return -1; }
  std::vector<int>* closed = nullptr;
  void Close(Handle handle) noexcept { closed->push_back(handle); }
};
using Owner = UniqueHandle<RecordingTraits>;

TEST(UniqueHandle, ClosesOnceOnScopeExitAndNeverForInvalid) {
  std::vector<int> closed;
  {
    Owner valid(7, RecordingTraits{&closed});
    Owner invalid(-1, RecordingTraits{&closed});
    EXPECT_TRUE(valid);
    EXPECT_FALSE(invalid);
  }
  EXPECT_EQ(closed, std::vector<int>{7});
}

TEST(UniqueHandle, MoveTransfersOwnershipAndMoveAssignClosesTheOldHandle) {
  std::vector<int> closed;
  Owner a(1, RecordingTraits{&closed});
  Owner b(2, RecordingTraits{&closed});
  b = std::move(a);  // 2 is released at once, 1 now belongs to b
  EXPECT_EQ(closed, std::vector<int>{2});
  EXPECT_FALSE(a.IsValid());
  Owner c(std::move(b));
  EXPECT_EQ(c.Get(), 1);
  c.Reset(3);
  EXPECT_EQ(closed, (std::vector<int>{2, 1}));
  int released = c.Release();
  EXPECT_EQ(released, 3);
  c.Reset();
  EXPECT_EQ(closed, (std::vector<int>{2, 1}));  // a released handle is not closed
}

TEST(UniqueHandle, PutClosesTheOldHandleBeforeAnOpenFillsTheSlot) {
  std::vector<int> closed;
  Owner owner(4, RecordingTraits{&closed});
  *owner.Put() = 5;
  EXPECT_EQ(closed, std::vector<int>{4});
  EXPECT_EQ(owner.Get(), 5);
}

}  // namespace
}  // namespace tarnix
