#!/usr/bin/env bash
# Installs the system packages that the C++ tests and benchmarks build against, skipping
# what is already present (apt-get needs root). Without an argument: g++, CMake, Ninja,
# GoogleTest and Google Benchmark. With "clang": clang, clang-format, clang-tidy and the
# sanitizer and fuzzer runtimes. With "libcxx": clang, libc++ and the GoogleTest sources to build against it.
# With "aarch64": the cross compiler, qemu-user and the arm64 GoogleTest and Google
# Benchmark packages (Debian multiarch).
set -euo pipefail

install() {
  [ $# -gt 0 ] || return 0
  echo "installing: $*"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "$@" >/dev/null
}

missing=()
want_command() { command -v "$1" >/dev/null || missing+=("$2"); }
# Names without an architecture mean the machine's own (arm64 ones may sit beside them).
want_package() {
  local name=$1
  [[ $name == *:* ]] || name="$1:$(dpkg --print-architecture)"
  dpkg -s "$name" >/dev/null 2>&1 || dpkg -s "$1" >/dev/null 2>&1 || missing+=("$1")
}

case "${1:-}" in
  clang | libcxx)
    want_command clang++ clang
    want_command clang-format clang-format
    want_command clang-tidy clang-tidy
    install "${missing[@]}"
    missing=()
    # Newer releases package the runtimes of each clang version apart.
    runtime="libclang-rt-$(clang++ -dumpversion | cut -d. -f1)-dev"
    if apt-cache show "$runtime" >/dev/null 2>&1; then
      want_package "$runtime"
    fi
    if [ "$1" = libcxx ]; then
      want_package libc++-dev
      want_package libc++abi-dev
      want_package googletest
    fi
    ;;
  aarch64)
    dpkg --print-foreign-architectures | grep -qx arm64 || dpkg --add-architecture arm64
    want_command aarch64-linux-gnu-g++ g++-aarch64-linux-gnu
    want_command qemu-aarch64 qemu-user
    want_package libgtest-dev:arm64
    want_package libbenchmark-dev:arm64
    ;;
  "")
    want_command g++ g++
    want_command cmake cmake
    want_command ninja ninja-build
    want_package libgtest-dev
    want_package libbenchmark-dev
    ;;
  *)
    echo "usage: $0 [clang|libcxx|aarch64]" >&2
    exit 2
    ;;
esac
install "${missing[@]}"
