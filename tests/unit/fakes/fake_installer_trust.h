#pragma once
// A fake of the installer check's OS calls: it answers from a small script
// and writes every call, in order, to a log it may share with other fakes.

#include <algorithm>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "download/installer_trust.h"

namespace tarnix::testing {

// "MZ", e_lfanew = 0x40, "PE\0\0" at 0x40: the smallest file the PE check takes.
inline std::vector<std::uint8_t> SmallProgram() {
  std::vector<std::uint8_t> bytes(0x44, 0);
  bytes[0] = 'M';
  bytes[1] = 'Z';
  bytes[0x3C] = 0x40;
  bytes[0x40] = 'P';
  bytes[0x41] = 'E';
  return bytes;
}

class FakeInstallerTrust : public InstallerTrust {
 public:
  static constexpr TrustFile kFile = 0x70;
  static constexpr TrustState kState = 0x51;

  explicit FakeInstallerTrust(std::vector<std::wstring>& sharedLog) : log(sharedLog) {}
  FakeInstallerTrust() : log(ownLog) {}

  // Errors of successive opens, 0 for success; the last one repeats.
  std::vector<std::uint32_t> openErrors{0};
  std::vector<std::uint8_t> bytes = SmallProgram();
  long verifyResult = 0;
  std::optional<std::wstring> signer = L"Korvane";  // nullopt: no certificate
  // Called with the path at every open, before it is answered: a test may
  // change the script above for one file.
  std::function<void(const std::wstring&)> beforeOpen;

  std::vector<std::wstring> ownLog;
  std::vector<std::wstring>& log;

  int Count(const std::wstring& entry) const {
    int count = 0;
    for (const std::wstring& line : log) count += line == entry ? 1 : 0;
    return count;
  }

  TrustFile OpenForCheck(const std::wstring& path, std::uint32_t* error) override {
    log.push_back(L"open " + path);
    if (beforeOpen) beforeOpen(path);
    std::uint32_t result = openErrors[std::min(opens_++, openErrors.size() - 1)];
    if (result == 0) return kFile;
    *error = result;
    return kInvalidHandleValue;
  }
  bool ReadAt(TrustFile file, std::uint64_t offset, std::span<std::uint8_t> out) override {
    log.push_back(L"read");
    if (file != kFile || offset > bytes.size() || out.size() > bytes.size() - offset) return false;
    std::copy_n(bytes.begin() + static_cast<std::ptrdiff_t>(offset), out.size(), out.begin());
    return true;
  }
  long VerifyTrust(TrustFile file, const std::wstring& path, TrustState* state) override {
    log.push_back(L"verify " + path + (file == kFile ? L"" : L" (wrong handle)"));
    *state = kState;  // WinVerifyTrust leaves state to close whatever it answers
    return verifyResult;
  }
  bool SignerCommonName(TrustState state, std::wstring* name) override {
    log.push_back(L"signer");
    if (state != kState || !signer) return false;
    *name = *signer;
    return true;
  }
  void CloseTrustState(TrustState state) override {
    log.push_back(state == kState ? L"close state" : L"close unknown state");
  }
  void CloseFile(TrustFile file) override {
    log.push_back(file == kFile ? L"close file" : L"close unknown file");
  }
  void Pause(std::uint32_t milliseconds) override {
    log.push_back(L"pause " + std::to_wstring(milliseconds));
  }

 private:
  std::size_t opens_ = 0;
};

}  // namespace tarnix::testing
