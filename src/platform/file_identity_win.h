#pragma once
#include "platform/file_identity.h"

namespace tarnix::win {

// FileIdentitySource::QueryFileIdentity on the system.
bool QueryFileIdentityOnSystem(const std::wstring& path, FileIdentity* identity);

}  // namespace tarnix::win
