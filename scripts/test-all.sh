#!/usr/bin/env bash
# Builds boardmon and boardsim and runs every test suite: native, then each further suite
# that this checkout has (sanitizers, fuzzing, Windows under Wine, packages).
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)

echo "== native build and tests"
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j"$jobs"
ctest --test-dir build --output-on-failure -j"$jobs"

for suite in test-sanitizers fuzz test-windows package-check; do
    if [ -x "scripts/$suite.sh" ]; then
        echo "== $suite"
        "scripts/$suite.sh"
    fi
done
echo "== all suites passed"
