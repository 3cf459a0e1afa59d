#!/usr/bin/env bash
# After test.sh (which leaves a Release tree in build/): the whole suite in an
# AddressSanitizer + UndefinedBehaviorSanitizer tree (build-asan/), then a
# short replay of the fuzz targets (clang's libFuzzer, build-fuzz/) over
# small inputs made by our own tools. Prints how long each part took.
#   bash scripts/test-sanitize.sh          both parts
#   bash scripts/test-sanitize.sh asan     only the sanitizer tree
#   bash scripts/test-sanitize.sh fuzz     only the fuzz replay
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
source "$root/scripts/packages.sh"
parts="${1:-asan fuzz}"
jobs="$(nproc)"
werror=OFF
[ -n "${CI:-}" ] && werror=ON
# Seconds each fuzz target runs over its corpus.
fuzz_seconds="${VELQORA_FUZZ_SECONDS:-15}"

elapsed() {
    echo "== $1: $(($(date +%s) - $2)) s"
}

run_asan() {
    local t0
    t0=$(date +%s)
    local gen=()
    [ -f "$root/build-asan/CMakeCache.txt" ] || gen=(-G Ninja)
    # Benchmarks are not tests; the Python module stays out of sanitizer trees by itself.
    # -O1 without debug information keeps the build short (the sanitizers need no more to
    # find what they find); the frame pointers give the stacks. NDEBUG as in the Release tree,
    # so both run the same code.
    cmake -S "$root" -B "$root/build-asan" "${gen[@]}" -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_CXX_FLAGS_RELEASE="-O1 -DNDEBUG" -DCMAKE_C_FLAGS_RELEASE="-O1 -DNDEBUG" \
        -DVELQORA_SANITIZE=ON -DVELQORA_BUILD_BENCH=OFF -DVELQORA_WERROR="$werror"
    cmake --build "$root/build-asan" --parallel "$jobs"
    elapsed "sanitizer tree build" "$t0"
    t0=$(date +%s)
    (
        cd "$root/build-asan"
        export QT_QPA_PLATFORM=offscreen
        export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:strict_string_checks=1"
        export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
        ctest --output-on-failure --parallel "$jobs" --timeout 600
    )
    elapsed "sanitizer tree tests" "$t0"
}

# Small inputs for each target, from kvraw and kvcam of the Release tree.
make_corpora() {
    local corpus="$1" bin="$root/build/bin" tmp
    tmp="$(mktemp -d)"
    mkdir -p "$corpus"/{evt3,evt2,raw_file,npy,frame_file}
    "$bin/kvraw" generate "$tmp/a3.raw" 20000 300000 --trigger-period 5000 >/dev/null
    "$bin/kvraw" generate "$tmp/b3.raw" 5000 2000000 --dense --seed 7 >/dev/null
    "$bin/kvraw" generate "$tmp/a2.raw" 20000 300000 --trigger-period 5000 --format evt2 >/dev/null
    cp "$tmp/a3.raw" "$tmp/b3.raw" "$tmp/a2.raw" "$corpus/raw_file/"
    # The decoders take the words alone: what follows the header's last line.
    python3 - "$tmp" "$corpus" <<'EOF'
import sys
tmp, corpus = sys.argv[1], sys.argv[2]
for name, fmt in (("a3", "evt3"), ("b3", "evt3"), ("a2", "evt2")):
    data = open(f"{tmp}/{name}.raw", "rb").read()
    end = data.find(b"% end\n")
    words = data[end + 6:] if end >= 0 else data
    open(f"{corpus}/{fmt}/{name}", "wb").write(words[:65536])
EOF
    "$bin/kvraw" convert "$tmp/a3.raw" "$corpus/npy/a3.npy" >/dev/null
    (
        cd "$tmp"
        export XDG_DATA_HOME="$tmp/data"
        "$bin/kvcam" record KVSIM-QUENTA-0003 fus.raw --seconds 1 >/dev/null
    )
    cp "$tmp/fus.mp4" "$corpus/frame_file/"
    rm -rf "$tmp"
}

run_fuzz() {
    local t0
    t0=$(date +%s)
    # libFuzzer comes with clang's runtime libraries.
    velqora_install_packages clang libclang-rt-14-dev
    local gen=()
    [ -f "$root/build-fuzz/CMakeCache.txt" ] || gen=(-G Ninja)
    CXX=clang++ cmake -S "$root" -B "$root/build-fuzz" "${gen[@]}" -DCMAKE_BUILD_TYPE=Release \
        -DVELQORA_FUZZ=ON -DVELQORA_SANITIZE=ON -DVELQORA_BUILD_TESTS=OFF \
        -DVELQORA_BUILD_BENCH=OFF -DVELQORA_BUILD_GUI=OFF -DVELQORA_PYTHON=OFF \
        -DVELQORA_WERROR="$werror"
    local targets=(fuzz_evt3 fuzz_evt2 fuzz_raw_file fuzz_npy fuzz_frame_file)
    cmake --build "$root/build-fuzz" --parallel "$jobs" --target "${targets[@]}"
    elapsed "fuzz build" "$t0"
    t0=$(date +%s)
    local corpus="$root/build-fuzz/corpus" work="$root/build-fuzz/corpus-run"
    rm -rf "$corpus" "$work"
    make_corpora "$corpus"
    local target
    for target in "${targets[@]}"; do
        local name="${target#fuzz_}"
        # New inputs go to a scratch copy; the seeds stay as made.
        mkdir -p "$work/$name"
        cp "$corpus/$name"/* "$work/$name/"
        echo "== $target: ${fuzz_seconds} s over $(ls "$corpus/$name" | wc -l) seeds"
        (
            cd "$root/build-fuzz"
            "bin/$target" -max_total_time="$fuzz_seconds" -rss_limit_mb=4096 -timeout=30 \
                -print_final_stats=1 "$work/$name" 2>&1 | tail -n 12
        )
    done
    elapsed "fuzz replay" "$t0"
}

for part in $parts; do
    case "$part" in
        asan) run_asan ;;
        fuzz) run_fuzz ;;
        *) echo "unknown part: $part" >&2; exit 2 ;;
    esac
done
