#!/usr/bin/env bash
# The one list of Debian packages this project needs, each marked with what
# needs it. `make demo` installs the demo's packages alone; `make test`, the
# other make targets and .ci/run install them all. When everything asked for
# is present it only asks dpkg and returns, so calling it on every make costs
# well under a second.
#
#   scripts/install-packages.sh [demo|all] [--list]
#
# demo: what `make demo` configures and builds with. all (the default): that,
# and what `make test`, `make check`, `make fuzz`, `make bench` and `make
# package` need. --list prints the chosen packages, one a line, and installs
# nothing.
set -euo pipefail

usage() {
  echo "usage: $0 [demo|all] [--list]" >&2
  exit 2
}

selection=all
list=false
for argument in "$@"; do
  case "$argument" in
    demo | all) selection=$argument ;;
    --list) list=true ;;
    *) usage ;;
  esac
done

# need GROUP PACKAGE...: GROUP is demo (make demo needs it, and so does
# everything else) or test (make test and the developer targets only).
# A fresh Debian 12 image of our kind has the compilers, CMake, Ninja,
# GoogleTest and Google Benchmark but not EDFlib, biosig-tools, MNE-Python or
# pybind11.
packages=()
need() {
  local group=$1
  shift
  if [ "$group" = demo ] || [ "$selection" = all ]; then
    packages+=("$@")
  fi
}
# Configure and build: bvhost writes EDF+/BDF+ through EDFlib.
need demo cmake ninja-build g++ make binutils libedf-dev
# Build: bvhost's live view serves its page through cpp-httplib, found with
# pkg-config.
need demo pkg-config libcpp-httplib-dev
# Configure: the default preset finds GoogleTest even when only the demo's
# targets are built; make test builds against it.
need demo libgtest-dev libgmock-dev
# make test: the live view's test drives a headless Chromium.
need test chromium
# make test: save2gdf, which reads recorded files back.
need test biosig-tools
# make test: strace, which shows that a finished recording reaches the disk
# before it takes its name.
need test strace
need test man-db # make test: man -l reads the manual page bvhost builds, as man bvhost would
# make test: an independent reader the recording tests judge files with, and
# the README's way of reading a recording in Python.
need test python3-mne
# make test and make package: kessra for Python, a pybind11 module built for
# Debian's python3 against its headers; its tests run with pytest and take
# NumPy arrays.
need test pybind11-dev python3-dev python3-pytest python3-numpy
# make check and make fuzz: clang with its sanitizer runtimes and libFuzzer.
need test clang libclang-rt-14-dev
# make bench, which CI does not run, but a developer's machine should have.
need test libbenchmark-dev
# make package: dpkg-shlibdeps works out the .deb's library dependencies.
need test dpkg-dev

if $list; then
  printf '%s\n' "${packages[@]}"
  exit 0
fi

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
