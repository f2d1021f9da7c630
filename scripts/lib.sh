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
# The demo's screenshot: Wine draws the title bar's buttons (the close button's
# cross) with its Marlett font, packaged with Wine's other fonts; without it the
# glyphs fall back to letters (the demo copies it into its prefix). Wine only
# recommends the package, and recommended packages are not installed here. No
# test reads pixels, so only the demo needs it.
TARNIX_DEMO_PACKAGES=(fonts-wine)

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

# The shipped launcher is a 32-bit Windows program, and 32-bit Wine a 32-bit
# Linux program, which some kernels refuse. There qemu's i386 emulator runs
# it, registered in binfmt_misc for 32-bit x86 Linux programs (flag F: the
# kernel opens the emulator once, at registration).
TARNIX_BINFMT=/proc/sys/fs/binfmt_misc
TARNIX_I386_ENTRY=tarnix-i386
TARNIX_I386_RULE=":$TARNIX_I386_ENTRY:M::\\x7f\\x45\\x4c\\x46\\x01\\x01\\x01\\x00\\x00\\x00\\x00\\x00\\x00\\x00\\x00\\x00\\x02\\x00\\x03\\x00:\\xff\\xff\\xff\\xff\\xff\\xff\\xff\\x00\\xff\\xff\\xff\\xff\\xff\\xff\\xff\\xff\\xfe\\xff\\xff\\xff:/usr/bin/qemu-i386-static:F"
TARNIX_I386_REGISTERED=
TARNIX_BINFMT_MOUNTED=

# How the 32-bit Wine loader runs here: native, emulated (through an entry in
# binfmt_misc, ours or one that was there) or none.
wine32_mode() {
  python3 "$TARNIX_ROOT/tests/e2e/harness.py"
}

# Makes the 32-bit Wine loader start where the kernel refuses it: installs
# qemu-user-static, mounts binfmt_misc, and registers the emulator for 32-bit
# x86 programs unless an entry for them is there already. Call
# disable_i386_emulation afterwards (and from a trap): it removes only what
# this function added. Fails, saying why, where that cannot be done.
enable_i386_emulation() {
  ensure_packages qemu-user-static || { echo "cannot install qemu-user-static" >&2; return 1; }
  if [ ! -e "$TARNIX_BINFMT/register" ]; then
    as_root mount -t binfmt_misc binfmt_misc "$TARNIX_BINFMT" ||
      { echo "cannot mount binfmt_misc on $TARNIX_BINFMT" >&2; return 1; }
    TARNIX_BINFMT_MOUNTED=1
  fi
  # An entry that was there before (now visible) serves as it is.
  [ "$(wine32_mode)" = none ] || return 0
  if [ -e "$TARNIX_BINFMT/$TARNIX_I386_ENTRY" ]; then
    echo "$TARNIX_BINFMT/$TARNIX_I386_ENTRY is there but does not run 32-bit programs" >&2
    return 1
  fi
  printf '%s\n' "$TARNIX_I386_RULE" | as_root tee "$TARNIX_BINFMT/register" >/dev/null ||
    { echo "cannot register qemu-i386-static in $TARNIX_BINFMT" >&2; return 1; }
  TARNIX_I386_REGISTERED=1
  [ "$(wine32_mode)" = emulated ] ||
    { echo "the 32-bit Wine loader does not start through qemu-i386-static either" >&2; return 1; }
}

# Removes the entry that enable_i386_emulation registered, and unmounts
# binfmt_misc where it mounted it and nothing else is registered there.
disable_i386_emulation() {
  if [ -n "$TARNIX_I386_REGISTERED" ]; then
    echo -1 | as_root tee "$TARNIX_BINFMT/$TARNIX_I386_ENTRY" >/dev/null || true
    TARNIX_I386_REGISTERED=
  fi
  if [ -n "$TARNIX_BINFMT_MOUNTED" ] &&
     [ -z "$(ls "$TARNIX_BINFMT" 2>/dev/null | grep -vx 'register\|status')" ]; then
    as_root umount "$TARNIX_BINFMT" || true
    TARNIX_BINFMT_MOUNTED=
  fi
}
