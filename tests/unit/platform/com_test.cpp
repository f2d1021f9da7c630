#include "platform/com.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace tarnix {
namespace {

// Interfaces that the moniker may ask of its callback and that it must not
// get: IBindStatusCallbackEx would make it call slots the object lacks, and
// IAuthenticate would stop the system's own credentials prompt.
constexpr InterfaceId kBindStatusCallbackEx{
    0xAAA74EF9, 0x8EE7, 0x4659, {0x88, 0xD9, 0xF8, 0xC5, 0x04, 0xDA, 0x73, 0xCC}};
constexpr InterfaceId kAuthenticate{
    0x79EAC9D0, 0xBAF9, 0x11CE, {0x8C, 0x82, 0x00, 0xAA, 0x00, 0x4B, 0xA9, 0x0B}};
constexpr InterfaceId kHttpNegotiate2{
    0x4F9F9FCB, 0xE0F4, 0x48EB, {0xB7, 0xAB, 0xFA, 0x2E, 0xA9, 0x36, 0x5C, 0xB4}};

// Four distinct objects stand for the four interface pointers.
struct Self {
  int callback = 0, negotiate = 0, provider = 0, security = 0;
  BindCallbackInterfaces Interfaces() { return {&callback, &negotiate, &provider, &security}; }
};

struct Case {
  const char* name;
  InterfaceId asked;
  int Self::*answer;  // nullptr: not offered
};

std::vector<Case> Cases() {
  // IHttpNegotiate differs from IBindStatusCallback in data1 only; the last
  // case in the last byte of data4.
  InterfaceId nearlyTheCallback = kIidBindStatusCallback;
  nearlyTheCallback.data4[7] ^= 1;
  return {
      {"IUnknown", kIidUnknown, &Self::callback},
      {"IBindStatusCallback", kIidBindStatusCallback, &Self::callback},
      {"IHttpNegotiate", kIidHttpNegotiate, &Self::negotiate},
      {"IServiceProvider", kIidServiceProvider, &Self::provider},
      {"IWindowForBindingUI", kIidWindowForBindingUI, &Self::security},
      {"IHttpSecurity", kIidHttpSecurity, &Self::security},
      {"IBindStatusCallbackEx", kBindStatusCallbackEx, nullptr},
      {"IAuthenticate", kAuthenticate, nullptr},
      {"IHttpNegotiate2", kHttpNegotiate2, nullptr},
      {"one byte off", nearlyTheCallback, nullptr},
  };
}

TEST(QueryBindStatusCallback, AnswersEachOfItsInterfacesWithItsPointerAndNothingElse) {
  Self self;
  int stale = 0;
  for (const Case& c : Cases()) {
    void* object = &stale;  // whatever the caller's variable held before
    EXPECT_EQ(QueryBindStatusCallback(c.asked, self.Interfaces(), &object),
              c.answer ? kComOk : kComNoInterface)
        << c.name;
    EXPECT_EQ(object, c.answer ? static_cast<void*>(&(self.*c.answer)) : nullptr) << c.name;
  }
  EXPECT_EQ(QueryBindStatusCallback(kIidUnknown, self.Interfaces(), nullptr), kComNullPointer);
}

TEST(QueryBindStatusCallbackService,
     ItsThreeServicesAnswerAsQueryInterfaceAndNoOtherServiceAnswers) {
  Self self;
  int stale = 0;
  const InterfaceId provided[] = {kIidHttpNegotiate, kIidWindowForBindingUI, kIidHttpSecurity};
  const InterfaceId notProvided[] = {kAuthenticate, kHttpNegotiate2, kIidServiceProvider,
                                     kIidBindStatusCallback, kIidUnknown};
  for (const Case& c : Cases()) {
    for (const InterfaceId& service : provided) {
      void* object = &stale;
      EXPECT_EQ(QueryBindStatusCallbackService(service, c.asked, self.Interfaces(), &object),
                c.answer ? kComOk : kComNoInterface)
          << c.name << " of service " << std::hex << service.data1;
      EXPECT_EQ(object, c.answer ? static_cast<void*>(&(self.*c.answer)) : nullptr) << c.name;
    }
    for (const InterfaceId& service : notProvided) {
      void* object = &stale;
      EXPECT_EQ(QueryBindStatusCallbackService(service, c.asked, self.Interfaces(), &object),
                kComNoInterface)
          << c.name << " of service " << std::hex << service.data1;
      EXPECT_EQ(object, nullptr) << c.name;
    }
  }
  // The moniker's own question: the window for its prompts.
  void* window = nullptr;
  EXPECT_EQ(QueryBindStatusCallbackService(kIidWindowForBindingUI, kIidWindowForBindingUI,
                                           self.Interfaces(), &window),
            kComOk);
  EXPECT_EQ(window, &self.security);
  EXPECT_EQ(QueryBindStatusCallbackService(kIidHttpSecurity, kIidHttpSecurity, self.Interfaces(),
                                           nullptr),
            kComNullPointer);
}

// An object on the heap whose interfaces share one count, as the download's
// callback and stall guard do; it notes its end in `ended`.
struct CountedObject {
  explicit CountedObject(bool* endedFlag) : ended(endedFlag) {}
  ~CountedObject() { *ended = true; }
  static void Free(void* self) { delete static_cast<CountedObject*>(self); }

  bool* ended;
  ComReferenceCount references{&Free, this};
  int transfers = 0;
};

// The sequence a binding may make: it takes references during the call, the
// creator drops its own once the call has returned, and the binding lets go
// of its last one later, on another thread (a stalled download's abort that
// outlived its wait). The object must stay usable until that last Release,
// which frees it; under ASan a use after the end fails the test.
TEST(ComReferenceCount, TheObjectLivesUntilTheLastReleaseEvenAfterItsCreatorsRelease) {
  bool ended = false;
  auto* object = new CountedObject(&ended);
  EXPECT_EQ(object->references.AddRef(), 2u);  // the binding's QueryInterface
  EXPECT_EQ(object->references.AddRef(), 3u);  // an interface the moniker keeps

  EXPECT_EQ(object->references.Release(), 2u);  // released within the call
  EXPECT_EQ(object->references.Release(), 1u);  // the creator, after the call returned
  EXPECT_FALSE(ended);
  ++object->transfers;  // a late call still finds the object

  std::thread late([object] { EXPECT_EQ(object->references.Release(), 0u); });
  late.join();
  EXPECT_TRUE(ended);
}

}  // namespace
}  // namespace tarnix
