#pragma once
#include "platform/file_query.h"

namespace tarnix::win {

class Win32FileQuery final : public FileQuery {
 public:
  std::uint32_t QueryAttributes(const std::wstring& path) override;
};

}  // namespace tarnix::win
