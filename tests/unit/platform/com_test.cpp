#include "platform/com.h"

#include <gtest/gtest.h>

namespace tarnix {
namespace {

TEST(QueryBindStatusCallback, AnswersItsTwoInterfacesWithItselfAndNothingElse) {
  // IHttpNegotiate differs from IBindStatusCallback in data1 only, the last
  // case in the last byte of data4.
  constexpr InterfaceId kBindStatusCallbackEx{
      0xAAA74EF9, 0x8EE7, 0x4659, {0x88, 0xD9, 0xF8, 0xC5, 0x04, 0xDA, 0x73, 0xCC}};
  constexpr InterfaceId kServiceProvider{
      0x6D5140C1, 0x7436, 0x11CE, {0x80, 0x34, 0x00, 0xAA, 0x00, 0x60, 0x09, 0xFA}};
  constexpr InterfaceId kHttpNegotiate{
      0x79EAC9D2, 0xBAF9, 0x11CE, {0x8C, 0x82, 0x00, 0xAA, 0x00, 0x4B, 0xA9, 0x0B}};
  InterfaceId nearlyTheCallback = kIidBindStatusCallback;
  nearlyTheCallback.data4[7] ^= 1;
  struct Case {
    const char* name;
    InterfaceId asked;
    bool offered;
  };
  const Case cases[] = {
      {"IUnknown", kIidUnknown, true},
      {"IBindStatusCallback", kIidBindStatusCallback, true},
      {"IBindStatusCallbackEx", kBindStatusCallbackEx, false},
      {"IServiceProvider", kServiceProvider, false},
      {"IHttpNegotiate", kHttpNegotiate, false},
      {"one byte off", nearlyTheCallback, false},
  };
  int self = 0;
  int stale = 0;
  for (const Case& c : cases) {
    void* object = &stale;  // whatever the caller's variable held before
    EXPECT_EQ(QueryBindStatusCallback(c.asked, &self, &object),
              c.offered ? kComOk : kComNoInterface)
        << c.name;
    EXPECT_EQ(object, c.offered ? static_cast<void*>(&self) : nullptr) << c.name;
  }
  EXPECT_EQ(QueryBindStatusCallback(kIidUnknown, &self, nullptr), kComNullPointer);
}

}  // namespace
}  // namespace tarnix
