#!/usr/bin/env bash
# Installs the system packages that the C++ tests and benchmarks build against,
# skipping what is already present (apt-get needs root). With the argument "clang",
# installs clang and its sanitizer and fuzzer runtimes instead.
set -euo pipefail

install() {
  [ $# -gt 0 ] || return 0
  echo "installing: $*"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq "$@" >/dev/null
}

if [ "${1:-}" = clang ]; then
  command -v clang++ >/dev/null || install clang
  # Newer releases package the runtimes of each clang version apart.
  runtime="libclang-rt-$(clang++ -dumpversion | cut -d. -f1)-dev"
  if apt-cache show "$runtime" >/dev/null 2>&1 && ! dpkg -s "$runtime" >/dev/null 2>&1; then
    install "$runtime"
  fi
  exit 0
fi

missing=()
command -v g++ >/dev/null || missing+=(g++)
command -v cmake >/dev/null || missing+=(cmake)
command -v ninja >/dev/null || missing+=(ninja-build)
for package in libgtest-dev libbenchmark-dev; do
  dpkg -s "$package" >/dev/null 2>&1 || missing+=("$package")
done
install "${missing[@]}"
