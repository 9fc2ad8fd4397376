#!/usr/bin/env bash
# Installs what the build and the tests need on a Debian machine: the 32-bit
# MinGW-w64 cross compiler and the 64-bit one (the tests' 64-bit build, and the
# installer test's program that runs commands as 64-bit Windows' Explorer
# does), widl and the
# platform IDL files, 32-bit and 64-bit Wine, Xvfb, CMake, Ninja, GoogleTest's
# sources, and the locale sources that the double-byte test compiles its
# Japanese locale from, NSIS for the installer, msitools' wixl for the Windows
# Installer package (and msitools to read one), and osslsigncode and OpenSSL for
# signing a release (and the test that signs one with a certificate of its own).
# Safe to run again: when everything is present it only checks and returns.
set -euo pipefail

packages=(
  g++-mingw-w64-i686-posix
  g++-mingw-w64-x86-64-posix
  gcc-mingw-w64-x86-64-win32
  mingw-w64-tools
  libwine-dev
  wine
  wine32:i386
  wine64
  xvfb
  xauth
  cmake
  ninja-build
  googletest
  locales
  nsis
  wixl
  msitools
  osslsigncode
  openssl
  # chattr: the tests' files and folders that Windows refuses to write.
  e2fsprogs
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
if [ ! -d /usr/src/googletest ]; then
  missing+=(googletest)
fi
# The build runs a small Python script (the form's icon); any python3 serves.
if ! command -v python3 >/dev/null 2>&1; then
  missing+=(python3)
fi

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "bootstrap: installing ${missing[*]}"
if [ "$(id -u)" -ne 0 ]; then
  if command -v sudo >/dev/null 2>&1; then
    SUDO=sudo
  else
    echo "bootstrap: these packages are missing and this user cannot install them: ${missing[*]}" >&2
    echo "bootstrap: run this script as root (or with sudo available) on a Debian machine." >&2
    exit 1
  fi
else
  SUDO=
fi
if ! command -v apt-get >/dev/null 2>&1; then
  echo "bootstrap: no apt-get here; install by hand: ${missing[*]}" >&2
  exit 1
fi

export DEBIAN_FRONTEND=noninteractive
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  $SUDO dpkg --add-architecture i386
fi
# A mirror in the middle of a sync fails one index or another for a while: try
# again, then go on with the indexes that came (the install says what it lacks).
updated=0
for attempt in 1 2 3; do
  if $SUDO apt-get update -q >/tmp/quarnel-apt-update.log 2>&1; then updated=1; break; fi
  echo "bootstrap: apt-get update failed (attempt $attempt; see /tmp/quarnel-apt-update.log)" >&2
  tail -3 /tmp/quarnel-apt-update.log >&2
  [ "$attempt" = 3 ] || sleep 10
done
apt_install() { $SUDO apt-get install -y -q --no-install-recommends "$@" "${missing[@]}" >/tmp/quarnel-apt-install.log 2>&1; }
# Without one architecture's index of the security updates, its packages cannot
# match the other's newer versions (wine32 needs the same libraries as both):
# then the release's own versions, which both indexes have.
release=$(. /etc/os-release 2>/dev/null && echo "${VERSION_CODENAME:-}")
if ! apt_install && ! { [ "$updated" = 0 ] && [ -n "$release" ] &&
                    echo "bootstrap: installing again from $release itself" >&2 && apt_install -t "$release"; }; then
  echo "bootstrap: apt-get install failed (see /tmp/quarnel-apt-install.log)" >&2
  tail -20 /tmp/quarnel-apt-install.log >&2
  exit 1
fi
echo "bootstrap: done"
