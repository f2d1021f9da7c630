# Shared set-up of the project's scripts: installs what is missing, with
# apt-get only, and names the build folders.
set -euo pipefail

TARNIX_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$TARNIX_ROOT"

TARNIX_BUILD_PACKAGES=(cmake ninja-build g++ clang libclang-rt-14-dev libgtest-dev libgmock-dev
  g++-mingw-w64-i686-win32 g++-mingw-w64-x86-64-win32 binutils-mingw-w64-i686 binutils-mingw-w64-x86-64 python3)
TARNIX_WINE_PACKAGES=(wine wine64 wine32:i386 xvfb xauth fonts-wqy-microhei imagemagick locales)
# Wine takes its ANSI code page from the locale (zh_CN.UTF-8: 936, en_US.UTF-8:
# 1252); the end-to-end tests run the launcher in both.
TARNIX_TEST_LOCALES=(zh_CN.UTF-8 en_US.UTF-8)
# Code signing: the launcher's own signature, and the installers the tests sign.
TARNIX_SIGN_PACKAGES=(openssl osslsigncode)

as_root() {
  if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

# Installs the packages that are not installed yet.
ensure_packages() {
  local missing=()
  for package in "$@"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing+=("$package")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "Installing: ${missing[*]}"
  if printf '%s\n' "${missing[@]}" | grep -q ':i386$' && ! dpkg --print-foreign-architectures | grep -qx i386; then
    as_root dpkg --add-architecture i386
  fi
  as_root apt-get update -qq
  DEBIAN_FRONTEND=noninteractive as_root apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
}

# Generates the locales (names such as zh_CN.UTF-8) that the system lacks,
# keeping those it has.
ensure_locales() {
  local missing=() name present
  present=$(locale -a 2>/dev/null | tr 'A-Z' 'a-z' | tr -d '-')
  for name in "$@"; do
    printf '%s\n' "$present" | grep -qx "$(printf '%s' "$name" | tr 'A-Z' 'a-z' | tr -d '-')" ||
      missing+=("$name")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  ensure_packages locales
  echo "Generating locales: ${missing[*]}"
  for name in "${missing[@]}"; do
    local entry="$name ${name#*.}"
    if grep -qx "# *$entry" /etc/locale.gen; then
      as_root sed -i "s/^# *$entry\$/$entry/" /etc/locale.gen
    elif ! grep -qx "$entry" /etc/locale.gen; then
      printf '%s\n' "$entry" | as_root tee -a /etc/locale.gen >/dev/null
    fi
  done
  as_root locale-gen --keep-existing >/dev/null
}

# Configures and builds one preset. Configuring every time applies a cache
# variable changed in CMakePresets.json to an existing build folder; with
# nothing changed it takes a fraction of a second and rebuilds nothing.
build_preset() {
  local preset=$1
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -- -j"$(nproc)"
}
