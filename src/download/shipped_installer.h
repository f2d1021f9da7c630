#pragma once
// The installer that an application maker may ship beside the launcher, for
// machines without internet: "TarnixSetup.exe" in the folder of the
// launcher's own file (not the current directory).

#include <cstdint>
#include <string>

#include "platform/file_identity.h"

namespace tarnix {

class ModulePathSource {
 public:
  virtual ~ModulePathSource() = default;
  // GetModuleFileNameW(nullptr, buffer, size): the length copied without the
  // terminating zero; `size` when the path was cut to fit (Windows XP then
  // leaves the buffer unterminated and sets no error); 0 on failure.
  virtual std::uint32_t ModuleFileName(wchar_t* buffer, std::uint32_t size) = 0;
};

// The launcher's own file, whole: the buffer grows while the answer fills it,
// since a cut path would name another folder. Empty when the path cannot be
// read whole (the longest path Windows has fits).
std::wstring LauncherFilePath(ModulePathSource& source);

// "TarnixSetup.exe" in the folder of `launcherPath`; empty when the path names
// no folder.
std::wstring ShippedInstallerPath(const std::wstring& launcherPath);

// True when both paths are the same text but for the case of ASCII letters.
bool SamePathText(const std::wstring& a, const std::wstring& b);

// Why the file at `shippedPath` is no installer shipped beside the launcher,
// as the log says it after the path: " is the launcher itself" (a launcher
// saved under the installer's name would run itself, and wait for itself),
// or " is the download's own file (...)" (the launcher in the temporary
// folder finds the download's file beside it); empty when it is neither.
// Two paths name the same file when their identities (FileIdentitySource)
// are equal, whatever their spelling; where either identity cannot be read
// (no file there, no access, a file system that gives no file index), when
// their texts are the same but for case (SamePathText).
// Whether `a` and `b` name the same file, by the rule above.
bool IsSameFile(FileIdentitySource& files, const std::wstring& a, const std::wstring& b);

std::wstring NotAShippedInstaller(FileIdentitySource& files, const std::wstring& shippedPath,
                                  const std::wstring& launcherPath,
                                  const std::wstring& downloadPath);

}  // namespace tarnix
