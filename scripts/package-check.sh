#!/usr/bin/env bash
# Builds the release packages and checks them as a user would meet them:
#   - the Debian package from a Release build in build-pkg/: its control fields, its file list,
#     the installed monitor run against the installed simulator from a scratch root, and the
#     manual pages as man(1) renders them;
#   - when the mingw-w64 cross compiler is there, the Windows zip from build-pkg-win/.
# Prints one line per check and a closing "N passed, N failed" line; exits non-zero on any
# failure.
# shellcheck disable=SC2317  # functions run through check() and the EXIT trap
set -euo pipefail
cd "$(dirname "$0")/.."
src=$PWD
jobs=$(nproc)

passed=0
failed=0
pass() { passed=$((passed + 1)); echo "  ok    $1"; }
fail() { failed=$((failed + 1)); echo "  FAIL  $1"; }
# check DESCRIPTION COMMAND...: the command's exit status decides.
check() {
    local what=$1
    shift
    if "$@"; then pass "$what"; else fail "$what"; fi
}
finish() {
    echo "package-check: $passed passed, $failed failed"
    if [ "$failed" -eq 0 ]; then exit 0; fi
    exit 1
}

for tool in cmake cpack dpkg-deb dpkg-shlibdeps dpkg gzip groff man file unzip; do
    if ! command -v "$tool" >/dev/null; then
        fail "tool $tool is missing (scripts/install-deps.sh installs it)"
    fi
done
[ "$failed" -eq 0 ] || finish

scratch=$(mktemp -d -t boardmon-pkg.XXXXXX)
sim_pid=
cleanup() {
    if [ -n "$sim_pid" ]; then kill "$sim_pid" 2>/dev/null || true; fi
    rm -rf "$scratch"
}
trap cleanup EXIT

# --- the Debian package ---
echo "== Debian package (build-pkg/)"
cmake -S . -B build-pkg -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF >"$scratch/configure.log" ||
    { cat "$scratch/configure.log"; fail "configure build-pkg"; finish; }
cmake --build build-pkg -j"$jobs" >"$scratch/build.log" 2>&1 ||
    { cat "$scratch/build.log"; fail "build build-pkg"; finish; }
rm -f build-pkg/boardmon_*.deb
(cd build-pkg && cpack -G DEB) >"$scratch/cpack.log" 2>&1 ||
    { cat "$scratch/cpack.log"; fail "cpack -G DEB"; finish; }

shopt -s nullglob
debs=(build-pkg/boardmon_*.deb)
shopt -u nullglob
if [ "${#debs[@]}" -ne 1 ]; then
    fail "exactly one build-pkg/boardmon_*.deb (found ${#debs[@]})"
    finish
fi
deb=${debs[0]}
echo "   $deb"

version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' build-pkg/CMakeCache.txt)
arch=$(dpkg --print-architecture)
field() { dpkg-deb -f "$deb" "$1"; }

check "file name is boardmon_${version}_${arch}.deb" test "$(basename "$deb")" = "boardmon_${version}_${arch}.deb"
check "Package: boardmon" test "$(field Package)" = boardmon
check "Version: $version (the project's)" test "$(field Version)" = "$version"
check "Architecture: $arch" test "$(field Architecture)" = "$arch"
check "Maintainer is 'Name <address>'" grep -Eq '^[^<>]+ <[^<>@ ]+@[^<>@ ]+>$' <<<"$(field Maintainer)"
check "Section and Priority set" test -n "$(field Section)" -a "$(field Priority)" = optional
check "Description has a summary and a body" test "$(field Description | wc -l)" -ge 3

depends=$(field Depends)
# One dependency name per line, versions and alternatives dropped.
dep_names() { tr ',|' '\n' <<<"$1" | sed 's/(.*//; s/[[:space:]]//g' | sed '/^$/d'; }
check "Depends has libc6 ($depends)" grep -qx libc6 <<<"$(dep_names "$depends")"
check "Depends has libstdc++6" grep -qx 'libstdc++6' <<<"$(dep_names "$depends")"
check "Suggests has alsa-utils" grep -qx alsa-utils <<<"$(dep_names "$(field Suggests)")"

# Every dependency must be met on this machine, the one that built the package.
deps_met() {
    local dep name op ver have
    while IFS= read -r dep; do
        dep=$(sed 's/^[[:space:]]*//; s/[[:space:]]*$//' <<<"$dep")
        [ -n "$dep" ] || continue
        name=${dep%% *}
        have=$(dpkg-query -W -f='${Version}' "$name" 2>/dev/null) || { echo "   $name not installed"; return 1; }
        if [[ $dep =~ \(([<>=]+)[[:space:]]*([^\)]+)\) ]]; then
            op=${BASH_REMATCH[1]}
            ver=${BASH_REMATCH[2]}
            dpkg --compare-versions "$have" "$op" "$ver" || { echo "   $name $have is not $op $ver"; return 1; }
        fi
    done < <(tr ',' '\n' <<<"$depends")
}
check "Depends met by this machine's packages" deps_met

dpkg-deb -c "$deb" | awk '{print $1, $2, $6}' >"$scratch/contents"
has_entry() { grep -qxF -- "$1" "$scratch/contents"; }
check "usr/bin/boardmon, 0755 root" has_entry "-rwxr-xr-x root/root ./usr/bin/boardmon"
check "usr/bin/boardsim, 0755 root" has_entry "-rwxr-xr-x root/root ./usr/bin/boardsim"
check "boardmon.1.gz, 0644 root" has_entry "-rw-r--r-- root/root ./usr/share/man/man1/boardmon.1.gz"
check "boardsim.1.gz, 0644 root" has_entry "-rw-r--r-- root/root ./usr/share/man/man1/boardsim.1.gz"
check "no uncompressed manual page" test -z "$(grep -E '/man/.*\.[0-9]$' "$scratch/contents" || true)"
check "everything under /usr, owned by root" \
    test -z "$(awk '$3 !~ /^\.\/usr\// || $2 != "root/root"' "$scratch/contents")"
check "directories are 0755" test -z "$(awk '$1 ~ /^d/ && $1 != "drwxr-xr-x"' "$scratch/contents")"

# Installed into a scratch root, as dpkg would lay it out.
root=$scratch/root
dpkg -x "$deb" "$root"
bin=$root/usr/bin
man1=$root/usr/share/man/man1
check "installed binaries are stripped" \
    test -z "$(file -b "$bin/boardmon" "$bin/boardsim" | grep -v ', stripped$' || true)"

# The installed monitor against the installed simulator: the switch reads off at once, so the run
# is start-up, one switch query, LED off and the shutdown.
"$bin/boardsim" --listen 127.0.0.1:0 --once --cycles . --log "$scratch/sim.log" \
    >"$scratch/sim.out" 2>"$scratch/sim.err" &
sim_pid=$!
port=
for _ in $(seq 100); do
    port=$(sed -n 's/^listening on 127\.0\.0\.1:\([0-9][0-9]*\)$/\1/p' "$scratch/sim.out")
    [ -n "$port" ] && break
    kill -0 "$sim_pid" 2>/dev/null || break
    sleep 0.05
done
if [ -z "$port" ]; then
    fail "installed boardsim starts listening"
    cat "$scratch/sim.err"
else
    pass "installed boardsim listens on port $port"
    mon_status=0
    failed_before=$failed
    printf '\n%s\n' "$port" | timeout 30 "$bin/boardmon" >"$scratch/mon.out" 2>"$scratch/mon.err" ||
        mon_status=$?
    check "installed boardmon exits with 0 (got $mon_status)" test "$mon_status" -eq 0
    cr=$'\r'
    check "trace starts with both prompts and the default address" \
        grep -qF "Enter Arduino IP Address: [127.0.0.1]: Enter the Arduino's TCP port[8888]:   HR_ResolvingBegin: 127.0.0.1:$port$cr" \
        <(head -n 1 "$scratch/mon.out")
    check "connected (lasterror=0)" grep -qxF "On exit from initcomm, lasterror=0$cr" "$scratch/mon.out"
    check "switch read off" grep -qxF "@isSwitchOn: returns 0$cr" "$scratch/mon.out"
    check "last trace line is \"  HR_SocketClose: \" with CR LF" \
        test "$(tail -n 1 "$scratch/mon.out")" = "  HR_SocketClose: $cr" -a \
        "$(tail -c 2 "$scratch/mon.out" | od -An -tx1 | tr -d ' ')" = 0d0a
    check "two HR_SocketClose lines (close, then free)" \
        test "$(grep -c "^  HR_SocketClose: $cr\$" "$scratch/mon.out")" -eq 2
    check "nothing on boardmon's standard error" test ! -s "$scratch/mon.err"
    sim_status=0
    for _ in $(seq 100); do kill -0 "$sim_pid" 2>/dev/null || break; sleep 0.05; done
    if kill -0 "$sim_pid" 2>/dev/null; then
        fail "installed boardsim --once ends after the connection"
        kill "$sim_pid" 2>/dev/null || true
        wait "$sim_pid" 2>/dev/null || true
    else
        wait "$sim_pid" || sim_status=$?
        check "installed boardsim exits with 0 (got $sim_status)" test "$sim_status" -eq 0
    fi
    sim_pid=
    check "the board saw the switch query and LED off, then the close" \
        test "$(grep -E '^(rx|eof)' "$scratch/sim.log" | tr '\n' ' ')" = 'rx "5041\r\n" rx "0044\r\n" eof '
    if [ "$failed" -gt "$failed_before" ]; then
        echo "--- boardmon output"; tr -d '\r' <"$scratch/mon.out" | tail -n 20
        echo "--- boardsim log"; cat "$scratch/sim.log"
    fi
fi

# The manual pages as installed.
for page in boardmon boardsim; do
    gz=$man1/$page.1.gz
    check "$page.1.gz is valid gzip" gzip -t "$gz"
    zcat "$gz" | groff -man -Tutf8 -ww -z 2>"$scratch/$page.groff" || true
    check "$page.1 formats without groff warnings" test ! -s "$scratch/$page.groff"
    MANWIDTH=80 MANPAGER=cat PAGER=cat man --warnings -l "$gz" >"$scratch/$page.txt" 2>"$scratch/$page.man" || true
    check "man -l $page.1.gz renders without warnings" test ! -s "$scratch/$page.man"
    check "$page(1) has NAME, SYNOPSIS, DESCRIPTION, EXIT STATUS, SEE ALSO" \
        test "$(grep -cxE 'NAME|SYNOPSIS|DESCRIPTION|EXIT STATUS|SEE ALSO' "$scratch/$page.txt")" -eq 5
    check "$page(1) footer carries version $version" \
        grep -qE "^boardmon ${version//./\\.}[[:space:]]" <(tail -n 1 "$scratch/$page.txt")
    [ ! -s "$scratch/$page.groff" ] || cat "$scratch/$page.groff"
    [ ! -s "$scratch/$page.man" ] || cat "$scratch/$page.man"
done
bm=$scratch/boardmon.txt
check "boardmon(1) shows the address prompt" grep -qF 'Enter Arduino IP Address: [127.0.0.1]:' "$bm"
check "boardmon(1) shows the port prompt" grep -qF "Enter the Arduino's TCP port[8888]:" "$bm"
statuses=$(zcat "$man1/boardmon.1.gz" |
    awk '/^\.SH/ { sec = $0 } sec ~ /EXIT STATUS/ && prev == ".TP" { print $2 } { prev = $0 }' |
    tr '\n' ' ')
check "boardmon(1) gives exit statuses 0 and 217 (has: $statuses)" test "$statuses" = "0 217 "
# What the page says of 217, as the installed program does it.
status=0
"$bin/boardmon" </dev/null >/dev/full 2>"$scratch/full.err" || status=$?
check "installed boardmon with stdout full: status 217 (got $status)" test "$status" -eq 217
check "... and reports 'Runtime error 217: ' on stderr" grep -q '^Runtime error 217: ' "$scratch/full.err"
check "boardmon(1) names the alarm file" grep -qF /tmp/klaxon-short.wav "$bm"
# boardsim(1) has an entry (a .TP tag) for every option that the installed boardsim's --help
# lists, and for no other.
options=$("$bin/boardsim" --help | grep -oE -- '--[a-z][a-z-]*' | sort -u)
check "boardsim --help lists options" test -n "$options"
documented=$(zcat "$man1/boardsim.1.gz" | awk 'prev == ".TP" { print } { prev = $0 }' |
    sed 's/\\-/-/g' | grep -oE -- '--[a-z][a-z-]*' | sort -u || true)
for opt in $options; do
    check "boardsim(1) documents $opt" grep -qxF -- "$opt" <<<"$documented"
done
for opt in $documented; do
    check "boardsim(1) entry $opt is an option of boardsim" grep -qxF -- "$opt" <<<"$options"
done

# --- the Windows zip ---
if command -v x86_64-w64-mingw32-g++-posix >/dev/null; then
    echo "== Windows zip (build-pkg-win/)"
    if [ ! -f cmake/mingw-w64.cmake ]; then
        fail "cmake/mingw-w64.cmake exists"
        finish
    fi
    cmake -S . -B build-pkg-win -DCMAKE_TOOLCHAIN_FILE="$src/cmake/mingw-w64.cmake" \
        -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF >"$scratch/wconfigure.log" 2>&1 ||
        { cat "$scratch/wconfigure.log"; fail "configure build-pkg-win"; finish; }
    cmake --build build-pkg-win -j"$jobs" >"$scratch/wbuild.log" 2>&1 ||
        { cat "$scratch/wbuild.log"; fail "build build-pkg-win"; finish; }
    rm -f build-pkg-win/boardmon-*.zip
    (cd build-pkg-win && cpack -G ZIP) >"$scratch/wcpack.log" 2>&1 ||
        { cat "$scratch/wcpack.log"; fail "cpack -G ZIP"; finish; }
    zip=build-pkg-win/boardmon-$version-win64.zip
    if [ ! -f "$zip" ]; then
        fail "$zip made"
        ls build-pkg-win/*.zip 2>/dev/null || true
        finish
    fi
    echo "   $zip"
    top=boardmon-$version-win64
    unzip -Z1 "$zip" >"$scratch/zip.list"
    check "zip holds $top/bin/boardmon.exe" grep -qxF "$top/bin/boardmon.exe" "$scratch/zip.list"
    check "zip holds the boardmon manual page" grep -qxF "$top/share/man/man1/boardmon.1" "$scratch/zip.list"
    check "zip has no boardsim (not built for Windows)" test -z "$(grep boardsim "$scratch/zip.list" || true)"
    check "everything in the zip is under $top/" test -z "$(grep -v "^$top/" "$scratch/zip.list" || true)"
    unzip -q "$zip" -d "$scratch/win"
    exe=$scratch/win/$top/bin/boardmon.exe
    check "boardmon.exe is a 64-bit Windows console program" \
        grep -q '^PE32+ executable (console) x86-64' <(file -b "$exe")
    # The zip is all a Windows machine gets: no MinGW runtime DLL may be needed.
    dlls=$(x86_64-w64-mingw32-objdump -p "$exe" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr '[:upper:]' '[:lower:]' | sort -u | tr '\n' ' ')
    check "boardmon.exe needs only system DLLs ($dlls)" \
        test -z "$(tr ' ' '\n' <<<"$dlls" | grep -vxE '(kernel32|msvcrt|ws2_32|winmm|user32|advapi32|ntdll|ucrtbase|api-ms-win-.*)\.dll|' || true)"
else
    echo "== Windows zip: skipped (no x86_64-w64-mingw32-g++-posix)"
fi

finish
