#!/usr/bin/env bash
# Builds boardmon and boardsim and runs every test suite.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)

echo "== native build and tests"
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j"$jobs"
ctest --test-dir build --output-on-failure -j"$jobs"
