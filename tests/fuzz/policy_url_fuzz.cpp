// The policy's InstallerUrl check against arbitrary values: whatever it
// accepts is an http:// or https:// URL of printable ASCII, within the length
// limit, whose authority names a host (or a bracketed address) and at most a
// port, never a user name or password.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "platform/admin_policy.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

std::wstring Lower(std::wstring text) {
  for (wchar_t& c : text) {
    if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
  }
  return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // Pairs of bytes are UTF-16 units, as the registry holds a REG_SZ.
  std::wstring url;
  for (std::size_t i = 0; i + 1 < size; i += 2) {
    url += static_cast<wchar_t>(data[i] | (data[i + 1] << 8));
  }
  if (!tarnix::IsAcceptedPolicyUrl(url)) return 0;

  Check(url.size() <= tarnix::kMaxPolicyUrlLength);
  for (wchar_t c : url) Check(c > 0x20 && c < 0x7F && c != L'\\');
  std::wstring lower = Lower(url);
  std::size_t schemeEnd = lower.rfind(L"http://", 0) == 0 ? 7 : 8;
  Check(lower.rfind(L"http://", 0) == 0 || lower.rfind(L"https://", 0) == 0);
  std::wstring authority = url.substr(schemeEnd, url.find_first_of(L"/?#", schemeEnd) - schemeEnd);
  Check(!authority.empty());
  Check(authority.find(L'@') == std::wstring::npos);
  return 0;
}
