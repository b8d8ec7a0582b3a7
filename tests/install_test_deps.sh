#!/usr/bin/env bash
# Installs the system packages that the C++ tests and benchmarks build against,
# skipping what is already present (apt-get needs root).
set -euo pipefail
missing=""
command -v g++ >/dev/null || missing+=" g++"
command -v cmake >/dev/null || missing+=" cmake"
command -v ninja >/dev/null || missing+=" ninja-build"
for package in libgtest-dev libbenchmark-dev; do
  dpkg -s "$package" >/dev/null 2>&1 || missing+=" $package"
done
if [ -n "$missing" ]; then
  echo "installing:$missing"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  # shellcheck disable=SC2086
  apt-get install -y -qq $missing >/dev/null
fi
