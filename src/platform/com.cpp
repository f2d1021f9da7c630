#include "platform/com.h"

namespace tarnix {
namespace {

bool Joined(long result) { return result == kComOk || result == kComAlreadyInitialized; }

}  // namespace

ComApartment::ComApartment(ComLibrary& com) : com_(com), joined_(Joined(com.InitializeCom())) {}

ComApartment::~ComApartment() {
  if (joined_) com_.UninitializeCom();
}

long QueryBindStatusCallback(const InterfaceId& asked, void* self, void** object) {
  if (object == nullptr) return kComNullPointer;
  if (asked == kIidUnknown || asked == kIidBindStatusCallback) {
    *object = self;
    return kComOk;
  }
  *object = nullptr;
  return kComNoInterface;
}

}  // namespace tarnix
