#!/usr/bin/env bash
# Cross-builds boardmon.exe and the unit tests for Windows with mingw-w64 and runs them under
# Wine, then runs the native end-to-end suite against boardmon.exe, so every transcript of the
# Windows build is compared byte for byte with the same expectations as the Linux build's.
# Needs: scripts/install-deps.sh windows. Builds into build-win/; takes the native end-to-end
# suite and boardsim from build/ (or $BOARDMON_NATIVE_BUILD), building them there if missing.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
jobs=$(nproc)
started=$SECONDS

stage() {
    echo "-- $1 ($((SECONDS - started)) s)"
}

# One Wine prefix of our own, kept between runs; quiet, 64-bit only, without the Mono and Gecko
# installers (nothing here needs them, and they would wait for a display).
export WINEPREFIX=$root/build-win/wineprefix
export WINEARCH=win64
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
mkdir -p build-win

stage "preparing the Wine prefix"
if [ ! -f "$WINEPREFIX/system.reg" ]; then
    wineboot -i >/dev/null 2>&1
fi
# One wineserver for this prefix that lives until the trap ends it, so each run of a Windows
# program does not pay for starting one, no helper that Wine starts on demand inherits a test's
# output pipe, and no program ever meets a server that is shutting down after an idle spell (a
# server with a time limit can expire during the build, and a program started as it exits fails
# without a word). A server still running from wineboot would refuse the new one: give it time to
# end, and end it if it does not (one left over from an interrupted run never would).
timeout 30 wineserver -w || wineserver -k || true
wineserver -p || { echo "cannot start a wineserver for $WINEPREFIX" >&2; exit 1; }
stop_wine() {
    WINEPREFIX=$WINEPREFIX wineserver -k >/dev/null 2>&1 || true
}
trap stop_wine EXIT
wineboot >/dev/null 2>&1

stage "building boardmon.exe and the unit tests"
cmake -S . -B build-win -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build-win -j"$jobs"

# Nothing beyond what every Windows installation has.
dlls=$(x86_64-w64-mingw32-objdump -p build-win/boardmon.exe | sed -n 's/.*DLL Name: //p' | sort -f)
echo "boardmon.exe imports:" $dlls
for dll in $dlls; do
    case "${dll,,}" in
    kernel32.dll | msvcrt.dll | ws2_32.dll | winmm.dll) ;;
    *)
        echo "boardmon.exe needs $dll, which Windows does not ship" >&2
        exit 1
        ;;
    esac
done

stage "unit tests under Wine"
# A zone away from UTC, written so that both Wine and the Windows C runtime read it, so the
# clock test can tell local time from UTC.
TZ=IST-5:30 ctest --test-dir build-win --output-on-failure -j"$jobs"

stage "end-to-end transcripts of boardmon.exe"
native=${BOARDMON_NATIVE_BUILD:-build}
if [ ! -x "$native/tests/e2e/e2e_tests" ] || [ ! -x "$native/boardsim" ]; then
    if [ ! -f "$native/CMakeCache.txt" ]; then
        cmake -S . -B "$native" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
    fi
    cmake --build "$native" -j"$jobs" --target e2e_tests boardsim
fi
BOARDMON_CMD="wine $root/build-win/boardmon.exe" \
    ctest --test-dir "$native/tests/e2e" --output-on-failure -j"$jobs"

stage "Windows suite passed"
