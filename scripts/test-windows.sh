#!/usr/bin/env bash
# Cross-builds KorvaneBase (DLL and import library), the camera libraries'
# file and camera sides with the simulated cameras and the .npy/.csv/RAW
# conversion, kvraw.exe, kvcam.exe and their tests for 64-bit Windows with
# MinGW-w64, then runs the tests and a kvraw.exe round trip under Wine in a
# private prefix (no display needed). The tree is build-windows/; the Linux
# kvraw of build/ is the reference when it is there.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"
source scripts/packages.sh

# The cross compiler, Wine and GoogleTest's sources; the header-only
# libraries come from the Linux list above.
VELQORA_PACKAGES=(libspdlog-dev libfmt-dev nlohmann-json3-dev)
velqora_install_packages g++-mingw-w64-x86-64-posix wine64 wine googletest cmake ninja-build

tree="$root/build-windows"
jobs="${VELQORA_JOBS:-2}"
# Configured every run (cheap): a configuration that failed once must not
# leave a tree that never configures again.
gen=()
[ -f "$tree/CMakeCache.txt" ] || gen=(-G Ninja)
cmake -S "$root" -B "$tree" "${gen[@]}" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64.cmake" \
    -DVELQORA_WERROR="${VELQORA_WERROR:-OFF}"
windows_tests=(test_base test_logger test_logger_reuse test_driver test_kvraw test_camera
    test_convert test_fusion)
cmake --build "$tree" --parallel "$jobs" --target KorvaneBase kvraw kvcam "${windows_tests[@]}"

# One private prefix a run: created once (the slow part), removed at the end.
export WINEPREFIX
WINEPREFIX="$(mktemp -d /tmp/velqora-wine.XXXXXX)"
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" DISPLAY=
trap 'wineserver -k >/dev/null 2>&1 || true; rm -rf "$WINEPREFIX"' EXIT
wineboot -i >/dev/null 2>&1
wine="$(command -v wine)"

failed=0
reports="$tree/test-reports"
rm -rf "$reports"
mkdir -p "$reports"
for t in "${windows_tests[@]}"; do
    if ! (cd "$tree" && "$wine" "bin/$t.exe" --gtest_output="xml:test-reports/$t.xml" \
        >"$reports/$t.log" 2>&1); then
        echo "FAILED: $t (log: $reports/$t.log)"
        grep -E '^\[  FAILED  \]' "$reports/$t.log" | sort -u || true
        failed=1
    fi
done
python3 - "$reports" <<'EOF'
import glob, sys, xml.etree.ElementTree as ET
tests = failures = skipped = 0
for f in sorted(glob.glob(sys.argv[1] + "/*.xml")):
    r = ET.parse(f).getroot()
    tests += int(r.get("tests", 0))
    failures += int(r.get("failures", 0)) + int(r.get("errors", 0))
    for case in r.iter("testcase"):
        if case.find("skipped") is not None or case.get("result") == "skipped":
            skipped += 1
print(f"windows tests: {tests} run, {tests - failures - skipped} passed, "
      f"{skipped} skipped, {failures} failed")
EOF

# Round trip: kvraw.exe writes and reads recordings (EVT 3.0 and 2.0, past
# the 2^24 us mark, with trigger edges); the Linux kvraw, where built, reads
# the same files and must print the same.
work="$(mktemp -d /tmp/velqora-win-rt.XXXXXX)"
trap 'wineserver -k >/dev/null 2>&1 || true; rm -rf "$WINEPREFIX" "$work"' EXIT
kvraw_win() { "$wine" "$tree/bin/kvraw.exe" "$@"; }
linux_kvraw="$root/build/bin/kvraw"
for fmt in evt3 evt2; do
    f="$work/round_$fmt.raw"
    kvraw_win generate "$f" 3000000 400000 --start 16000000 --trigger-period 250000 \
        --format "$fmt" >/dev/null
    kvraw_win stats "$f" >"$work/$fmt.stats.win"
    kvraw_win decode "$f" --from 16700000 --to 16800000 --triggers >"$work/$fmt.decode.win"
    kvraw_win check "$f" >"$work/$fmt.check.win" || { echo "FAILED: kvraw.exe check $fmt"; failed=1; }
    if [ -x "$linux_kvraw" ]; then
        "$linux_kvraw" stats "$f" >"$work/$fmt.stats.linux"
        "$linux_kvraw" decode "$f" --from 16700000 --to 16800000 --triggers >"$work/$fmt.decode.linux"
        for what in stats decode; do
            if ! cmp -s "$work/$fmt.$what.win" "$work/$fmt.$what.linux"; then
                echo "FAILED: kvraw.exe $what $fmt differs from the Linux kvraw"
                failed=1
            fi
        done
    fi
done
# A recording named in Chinese is written and read back.
name="$work/录像_测试.raw"
kvraw_win generate "$name" 500000 100000 >/dev/null
kvraw_win stats "$name" >/dev/null || { echo "FAILED: kvraw.exe on a Chinese file name"; failed=1; }
[ -f "$name" ] || { echo "FAILED: the Chinese file name was not kept"; failed=1; }

if [ "$failed" -ne 0 ]; then
    echo "windows: FAILED"
    exit 1
fi
echo "windows: all passed"
