# Shared set-up of the project's scripts: installs what is missing, with
# apt-get only, and names the build folders.
set -euo pipefail

TARNIX_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$TARNIX_ROOT"

TARNIX_BUILD_PACKAGES=(cmake ninja-build g++ clang clang-tidy libclang-rt-14-dev libgtest-dev libgmock-dev
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
#
# Each run registers an entry of its own, named after the shell that owns it
# ($$): TARNIX_I386_PREFIX-<pid namespace>-<pid>-<start time>. The name says
# whether its run still lives (a pid comes back for another process, never
# with the same start time), so a later run removes the entries of runs that
# were killed before they could, and leaves those of live runs alone. Runs in
# another pid namespace (another container on the same kernel) cannot be seen
# from here: their entries are left alone too.
TARNIX_BINFMT=/proc/sys/fs/binfmt_misc
TARNIX_I386_PREFIX=tarnix-i386
# The entry's rule after its name: magic, mask, interpreter, flags.
TARNIX_I386_RULE="M::\\x7f\\x45\\x4c\\x46\\x01\\x01\\x01\\x00\\x00\\x00\\x00\\x00\\x00\\x00\\x00\\x00\\x02\\x00\\x03\\x00:\\xff\\xff\\xff\\xff\\xff\\xff\\xff\\x00\\xff\\xff\\xff\\xff\\xff\\xff\\xff\\xff\\xfe\\xff\\xff\\xff:/usr/bin/qemu-i386-static:F"
# The name of the entry this shell registers; set before the entry is
# written, so that whatever ends the run after that point removes it.
TARNIX_I386_ENTRY=
TARNIX_BINFMT_MOUNTED=

# How the 32-bit Wine loader runs here: native, emulated (through an entry in
# binfmt_misc, seen or not, or where it cannot be told) or none.
wine32_mode() {
  python3 "$TARNIX_ROOT/tests/e2e/harness.py"
}

# The number of process $1's pid namespace, or nothing where it cannot be read.
tarnix_pid_namespace() {
  local link
  link=$(readlink "/proc/$1/ns/pid" 2>/dev/null) || return 0
  link=${link#pid:[}
  printf '%s' "${link%]}"
}

# The start time of process $1 (clock ticks after boot), or nothing where no
# such process lives.
tarnix_start_time() {
  local stat fields
  stat=$(cat "/proc/$1/stat" 2>/dev/null) || return 0
  # The command name (field 2) may hold spaces and parentheses; the fields
  # after its last ")" start with field 3.
  read -r -a fields <<<"${stat##*) }"
  printf '%s' "${fields[19]:-}"
}

# Removes binfmt_misc entry $1; nothing to do where it is not there. Says so,
# and fails, where the entry stays.
tarnix_remove_entry() {
  local entry="$TARNIX_BINFMT/$1"
  [ -e "$entry" ] || return 0
  if [ -w "$entry" ]; then
    echo -1 2>/dev/null >"$entry" || true
  else
    echo -1 | as_root tee "$entry" >/dev/null 2>&1 || true
  fi
  if [ -e "$entry" ]; then
    echo "cannot remove the binfmt_misc entry $entry" >&2
    return 1
  fi
}

# Removes the entries of ours (TARNIX_I386_PREFIX-...) whose run has ended: a
# run that was killed could not remove its own. Fails where one stays.
remove_stale_i386_entries() {
  local namespace path name entry_namespace pid start extra status=0
  namespace=$(tarnix_pid_namespace $$)
  [ -n "$namespace" ] || return 0
  for path in "$TARNIX_BINFMT/$TARNIX_I386_PREFIX"-*; do
    [ -e "$path" ] || continue
    name=${path##*/}
    IFS=- read -r entry_namespace pid start extra <<<"${name#"$TARNIX_I386_PREFIX"-}"
    [[ $entry_namespace = "$namespace" && $pid =~ ^[0-9]+$ && $start =~ ^[0-9]+$ && -z $extra ]] || continue
    [ "$(tarnix_start_time "$pid")" = "$start" ] && continue
    echo "Removing $path: its run has ended without removing it"
    tarnix_remove_entry "$name" || status=1
  done
  return $status
}

# Registers this run's entry for the emulator (TARNIX_I386_RULE).
register_i386_entry() {
  local namespace start
  namespace=$(tarnix_pid_namespace $$)
  start=$(tarnix_start_time $$)
  if [ -z "$namespace" ] || [ -z "$start" ]; then
    echo "cannot tell this run apart in /proc: no entry registered" >&2
    return 1
  fi
  TARNIX_I386_ENTRY="$TARNIX_I386_PREFIX-$namespace-$$-$start"
  printf ':%s:%s\n' "$TARNIX_I386_ENTRY" "$TARNIX_I386_RULE" | as_root tee "$TARNIX_BINFMT/register" >/dev/null ||
    { echo "cannot register $TARNIX_I386_ENTRY in $TARNIX_BINFMT" >&2; return 1; }
}

# Mounts binfmt_misc where it is not mounted (remembered in
# TARNIX_BINFMT_MOUNTED, for disable_i386_emulation).
mount_binfmt_misc() {
  [ -e "$TARNIX_BINFMT/register" ] && return 0
  as_root mount -t binfmt_misc binfmt_misc "$TARNIX_BINFMT" ||
    { echo "cannot mount binfmt_misc on $TARNIX_BINFMT" >&2; return 1; }
  TARNIX_BINFMT_MOUNTED=1
}

# Makes the 32-bit Wine loader start where the kernel refuses it: installs
# qemu-user-static, mounts binfmt_misc, and registers this run's entry for the
# emulator. An entry of another run would go away when that run ends, so the
# run registers its own even where the loader starts through one already;
# where it cannot, an entry that was there serves as it is. Call
# disable_i386_emulation afterwards (and from a trap on EXIT: see
# end_i386_emulation): it removes only what this function added. Fails,
# saying why, where the loader cannot be made to start.
enable_i386_emulation() {
  local mode
  mode=$(wine32_mode)
  [ "$mode" = native ] && return 0
  if ensure_packages qemu-user-static && mount_binfmt_misc && { remove_stale_i386_entries || true; } &&
     register_i386_entry; then
    [ "$(wine32_mode)" = emulated ] && return 0
    echo "the 32-bit Wine loader does not start through qemu-i386-static either" >&2
    return 1
  fi
  [ "$mode" = emulated ] && { echo "using the emulator entry that was there" >&2; return 0; }
  return 1
}

# Removes the entry that enable_i386_emulation registered (or began to), and
# unmounts binfmt_misc where it mounted it and nothing else is registered
# there. Fails, saying so, where the entry stays.
disable_i386_emulation() {
  if [ -n "$TARNIX_I386_ENTRY" ]; then
    tarnix_remove_entry "$TARNIX_I386_ENTRY" || return 1
    TARNIX_I386_ENTRY=
  fi
  if [ -n "$TARNIX_BINFMT_MOUNTED" ] &&
     [ -z "$(ls "$TARNIX_BINFMT" 2>/dev/null | grep -vx 'register\|status')" ]; then
    as_root umount "$TARNIX_BINFMT" || echo "cannot unmount $TARNIX_BINFMT (it stays mounted)" >&2
    TARNIX_BINFMT_MOUNTED=
  fi
}

# The trap on EXIT of a script that calls enable_i386_emulation: removes what
# that added, and ends the script as a failure where that fails.
end_i386_emulation() {
  local code=$?
  disable_i386_emulation || [ "$code" -ne 0 ] || code=1
  exit "$code"
}
