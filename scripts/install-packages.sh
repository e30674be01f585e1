#!/usr/bin/env bash
# The one list of Debian packages this project needs. `make demo`, `make test`
# and .ci/run call this first; when everything is present it only asks dpkg
# and returns, so calling it on every make costs well under a second.
set -euo pipefail

# Each group says why it is needed; a fresh Debian 12 image of our kind has
# the compilers, CMake, Ninja, GoogleTest and Google Benchmark but not EDFlib,
# biosig-tools or MNE-Python.
packages=()
# Configure and build: bvhost writes EDF+/BDF+ through EDFlib.
packages+=(cmake ninja-build g++ make binutils libedf-dev)
# Build: bvhost's live view serves its page through cpp-httplib, found with
# pkg-config.
packages+=(pkg-config libcpp-httplib-dev)
# make test: the live view's test drives a headless Chromium.
packages+=(chromium)
# make test: GoogleTest, and save2gdf, which reads recorded files back.
packages+=(libgtest-dev libgmock-dev biosig-tools)
# make test: strace, which shows that a finished recording reaches the disk
# before it takes its name.
packages+=(strace)
# make test: an independent reader the recording tests judge files with, and
# the README's way of reading a recording in Python.
packages+=(python3-mne)
# make check and make fuzz: clang with its sanitizer runtimes and libFuzzer.
packages+=(clang libclang-rt-14-dev)
# make bench, which CI does not run, but a developer's machine should have.
packages+=(libbenchmark-dev)
# make package: dpkg-shlibdeps works out the .deb's library dependencies.
packages+=(dpkg-dev)

# One dpkg-query for the whole list: a package it does not know is simply
# absent from its answer.
installed=$(dpkg-query -W -f='${Package} ${Status}\n' "${packages[@]}" 2>/dev/null |
  awk '/ install ok installed$/ { print $1 }' || true)
missing=()
for package in "${packages[@]}"; do
  grep -qxF "$package" <<<"$installed" || missing+=("$package")
done
[ ${#missing[@]} -eq 0 ] && exit 0

command="apt-get update && apt-get install -y ${missing[*]}"
echo "install-packages: installing what this project needs and this machine lacks: ${missing[*]}" >&2
if [ "$(id -u)" -eq 0 ]; then
  run=(bash -c)
elif command -v sudo >/dev/null 2>&1; then
  run=(sudo bash -c)
  command="sudo sh -c '$command'"
else
  run=()
  command="su -c '$command'"
fi
if [ ${#run[@]} -eq 0 ] ||
  ! "${run[@]}" "export DEBIAN_FRONTEND=noninteractive; apt-get update -qq && apt-get install -y -qq ${missing[*]}"; then
  echo "install-packages: could not install them here; as root (or with sudo) run:" >&2
  echo "  $command" >&2
  exit 1
fi
