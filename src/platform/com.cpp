#include "platform/com.h"

namespace tarnix {
namespace {

bool Joined(long result) { return result == kComOk || result == kComAlreadyInitialized; }

}  // namespace

ComApartment::ComApartment(ComLibrary& com) : com_(com), joined_(Joined(com.InitializeCom())) {}

ComApartment::~ComApartment() {
  if (joined_) com_.UninitializeCom();
}

long QueryBindStatusCallback(const InterfaceId& asked, const BindCallbackInterfaces& self,
                             void** object) {
  if (object == nullptr) return kComNullPointer;
  void* answer = nullptr;
  if (asked == kIidUnknown || asked == kIidBindStatusCallback) {
    answer = self.callback;
  } else if (asked == kIidHttpNegotiate) {
    answer = self.httpNegotiate;
  } else if (asked == kIidServiceProvider) {
    answer = self.serviceProvider;
  } else if (asked == kIidWindowForBindingUI || asked == kIidHttpSecurity) {
    answer = self.httpSecurity;
  }
  *object = answer;
  return answer != nullptr ? kComOk : kComNoInterface;
}

long QueryBindStatusCallbackService(const InterfaceId& service, const InterfaceId& asked,
                                    const BindCallbackInterfaces& self, void** object) {
  if (object == nullptr) return kComNullPointer;
  if (service == kIidHttpNegotiate || service == kIidWindowForBindingUI ||
      service == kIidHttpSecurity)
    return QueryBindStatusCallback(asked, self, object);
  *object = nullptr;
  return kComNoInterface;
}

}  // namespace tarnix
