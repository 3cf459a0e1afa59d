#!/usr/bin/env bash
# The speed figures where users wait, on one run, for this build and (with
# --baseline) another, interleaved A B A B and reported as medians, on both
# word mixes wherever a file is read:
#   - kvraw stats: Mev/s end to end and CPU per event against the decoder's
#     own CPU per event (bench_decode), also as a ratio of runs in pairs;
#     kvraw check and a whole-file kvraw cut likewise
#   - bench_playback: images/s on a 120 Mev/s recording
#   - kvraw convert to .h5: Mev/s and bytes per event
#   - kvraw export: 10 s of a 5 Mev/s recording at 720p30 (x real time, CPU s)
#   - Python: read of a 1 s window of 10 M events (repeated), slices over a
#     file, and the decoder's own CPU per event writing into such windows
#   - bench_live: images/s, late passes and the simulation's CPU per event
#     at 50 Mev/s
# Files are made with this build's kvraw generate in a temporary folder,
# removed at the end. A figure whose program is missing prints "skipped: why".
#
#   bench/run_all.sh [--build DIR] [--baseline DIR] [--runs N] [--quick] [--only LIST]
#
# --build: this build (default: build/ next to this script); --baseline: the
# build to compare with, e.g. ../base/build of a checkout of the base commit;
# --runs: runs per build and figure (default 3); --quick: small files, one
# run, short live view (to try the script, not to quote); --only: a comma
# list of stats,playback,convert,export,python,live.
set -u

here=$(cd "$(dirname "$0")/.." && pwd)
build="$here/build"
baseline=""
runs=3
quick=0
only="stats,playback,convert,export,python,live"
while [ $# -gt 0 ]; do
    case "$1" in
        --build) build=$2; shift 2 ;;
        --baseline) baseline=$2; shift 2 ;;
        --runs) runs=$2; shift 2 ;;
        --quick) quick=1; shift ;;
        --only) only=$2; shift 2 ;;
        -h | --help) sed -n '2,23p' "$0"; exit 0 ;;
        *) echo "run_all.sh: unknown argument '$1' (see --help)" >&2; exit 2 ;;
    esac
done
build=$(cd "$build" 2>/dev/null && pwd) || { echo "run_all.sh: no build folder" >&2; exit 2; }
if [ -n "$baseline" ]; then
    baseline=$(cd "$baseline" 2>/dev/null && pwd) || {
        echo "run_all.sh: no baseline folder '$baseline'" >&2
        exit 2
    }
fi
[ -x "$build/bin/kvraw" ] || { echo "run_all.sh: $build/bin/kvraw missing" >&2; exit 2; }
[ "$quick" = 1 ] && runs=1
python=/usr/bin/python3
[ -x "$python" ] || python=$(command -v python3 || true)

tmp=$(mktemp -d "${TMPDIR:-/tmp}/velqora-bench.XXXXXX")
trap 'rm -rf "$tmp"' EXIT
kvraw="$build/bin/kvraw"

# Sizes: the full run uses the issue's files; --quick a tenth or less.
if [ "$quick" = 1 ]; then
    stats_us=200000      # 6 M events at 30 Mev/s
    play_us=11000000; play_rate=10000000
    export_us=2000000
    py_us=2000000
    live_s=3
    py_repeat=3
else
    stats_us=1666667     # 50 M events at 30 Mev/s
    play_us=11000000; play_rate=120000000
    export_us=10000000
    py_us=5000000        # 50 M events at 10 Mev/s: 1 s windows of 10 M
    live_s=10
    py_repeat=10
fi
mixes="plain camera"

wants() { case ",$only," in *",$1,"*) return 0 ;; *) return 1 ;; esac; }

# Results: one row per figure, "this" and "base" columns.
rows=()
row() { rows+=("$(printf '%-44s %-7s %12s %12s  %s' "$1" "$2" "$3" "$4" "$5")"); }
skip() { rows+=("$(printf '%-44s %-7s skipped: %s' "$1" "$2" "$3")"); }

median() { tr ' ' '\n' | grep -v '^$' | sort -g | awk '{v[NR]=$1} END {
    if (NR == 0) { print "-"; exit }
    if (NR % 2) print v[(NR + 1) / 2]; else printf "%.4g\n", (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

# timed LABEL BIN COMMAND: runs COMMAND with $B set to BIN (a build's bin
# folder) and an index cache per build; prints its output, then
# "wall_cpu <wall s> <cpu s>".
timed() {
    local B=$2 TIMEFORMAT='%R %U %S'
    export B XDG_CACHE_HOME="$tmp/cache-$1"
    { time (eval "$3" 2>"$tmp/err"); } 2>"$tmp/time"
    local status=$?
    awk '{printf "wall_cpu %s %.4f\n", $1, $2 + $3}' "$tmp/time"
    return $status
}

# measure MIX "NAME|UNIT;NAME|UNIT..." PARSER COMMAND: COMMAND runs with $B
# set to each build's bin folder in turn (A B A B ...); PARSER, an awk
# program over its output, prints one value per figure, or nothing when the
# run failed. A row per figure with the medians.
measure() {
    local mix=$1 figures=$2 parser=$3 cmd=$4
    local -a names units a b
    local IFS_=$IFS n=0 f
    IFS=';' read -ra list <<<"$figures"
    for f in "${list[@]}"; do names[n]=${f%%|*}; units[n]=${f#*|}; a[n]=""; b[n]=""; n=$((n + 1)); done
    IFS=$IFS_
    local r i out vals label bin
    for ((r = 0; r < runs; ++r)); do
        for label in A B; do
            bin="$build/bin"
            if [ "$label" = B ]; then [ -n "$baseline" ] || continue; bin="$baseline/bin"; fi
            out=$(timed "$label" "$bin" "$cmd") || out=""
            read -ra vals <<<"$(printf '%s\n' "$out" | awk "$parser")"
            [ "${#vals[@]}" -eq "$n" ] || continue
            for ((i = 0; i < n; ++i)); do
                if [ "$label" = A ]; then a[i]="${a[i]} ${vals[i]}"; else b[i]="${b[i]} ${vals[i]}"; fi
            done
        done
    done
    for ((i = 0; i < n; ++i)); do
        local ma mb=""
        ma=$(echo "${a[i]}" | median)
        [ -n "$baseline" ] && mb=$(echo "${b[i]}" | median)
        if [ "$ma" = "-" ]; then
            skip "${names[i]}" "$mix" "failed: $(head -c 160 "$tmp/err" | tr '\n' ' ')"
        else
            row "${names[i]}" "$mix" "$ma" "$mb" "${units[i]}"
        fi
    done
}

has() { [ -x "$build/bin/$1" ]; }

# paired MIX FILE DECODER PARSER: kvraw stats' CPU per event over the
# decoder's own (DECODER, a command with $B, and PARSER, printing ns/ev),
# run back to back in pairs: the host's speed changes between the rows
# measured apart, much less within a pair. A row with the median ratio.
paired() {
    local mix=$1 f=$2 decoder=$3 parser=$4 events label bin r cpu ns ratio
    local a="" b=""
    events=$("$kvraw" stats "$f" | awk '$1 == "events" {print $2}')
    [ -n "$events" ] && [ "$events" -gt 0 ] || return 0
    for ((r = 0; r < runs; ++r)); do
        for label in A B; do
            bin="$build/bin"
            if [ "$label" = B ]; then [ -n "$baseline" ] || continue; bin="$baseline/bin"; fi
            cpu=$(timed "$label" "$bin" '"$B/kvraw" stats '"$f" | awk '/^wall_cpu/ {print $3}')
            ns=$(B=$bin; eval "$decoder" 2>/dev/null | awk "$parser")
            [ -n "$cpu" ] && [ -n "$ns" ] || continue
            ratio=$(awk -v c="$cpu" -v n="$ns" -v e="$events" 'BEGIN {if (n > 0) printf "%.2f", c * 1e9 / e / n}')
            if [ "$label" = A ]; then a="$a $ratio"; else b="$b $ratio"; fi
        done
    done
    local ma mb=""
    ma=$(echo "$a" | median)
    [ -n "$baseline" ] && mb=$(echo "$b" | median)
    row "kvraw stats CPU / decoder, paired" "$mix" "$ma" "$mb" "x"
}

echo "run_all.sh: this build $build${baseline:+, baseline $baseline}; $runs run(s) each, interleaved" >&2
echo "files in $tmp" >&2

gen() {  # gen NAME DURATION RATE MIX
    [ -f "$tmp/$1" ] && return 0
    echo "generating $1 ($2 us at $3 ev/s, $4 mix)..." >&2
    local mixarg=""
    [ "$4" = camera ] && mixarg="--mix camera"
    "$kvraw" generate "$tmp/$1" "$2" "$3" $mixarg >/dev/null || return 1
}

# --- kvraw stats and the decoder's own figure ---------------------------------
if wants stats; then
    for mix in $mixes; do
        gen "stats-$mix.raw" "$stats_us" 30000000 "$mix" || { skip "kvraw stats" "$mix" "cannot generate"; continue; }
        f="$tmp/stats-$mix.raw"
        events=$("$kvraw" stats "$f" | awk '$1 == "events" {print $2}')
        bpe=$(awk -v s="$(stat -c %s "$f")" -v n="$events" 'BEGIN {printf "%.2f", s / n}')
        # Warm each build's index cache: the figures are for a later open.
        timed A "$build/bin" '"$B/kvraw" stats '"$f" >/dev/null
        [ -n "$baseline" ] && timed B "$baseline/bin" '"$B/kvraw" stats '"$f" >/dev/null
        measure "$mix" "kvraw stats ($events ev, $bpe B/ev)|Mev/s;kvraw stats CPU|ns/ev" \
            '/^events/ {ok = 1} /^wall_cpu/ {if (ok && $2 > 0) printf "%.1f %.2f\n", '"$events"' / $2 / 1e6, $3 * 1e9 / '"$events"'}' \
            '"$B/kvraw" stats '"$f"
        measure "$mix" "kvraw check|Mev/s;kvraw check CPU|ns/ev" \
            '/^result/ {ok = 1} /^wall_cpu/ {if (ok && $2 > 0) printf "%.1f %.2f\n", '"$events"' / $2 / 1e6, $3 * 1e9 / '"$events"'}' \
            '"$B/kvraw" check '"$f"
        measure "$mix" "kvraw cut, whole file|Mev/s;kvraw cut CPU|ns/ev" \
            '/^wall_cpu/ {if ($2 > 0) printf "%.1f %.2f\n", '"$events"' / $2 / 1e6, $3 * 1e9 / '"$events"'}' \
            'rm -f '"$tmp"'/cut.raw; "$B/kvraw" cut '"$f $tmp"'/cut.raw 0 99999999999999 && rm -f '"$tmp"'/cut.raw'
    done
    # The decoder alone, one core, on the same mixes (in memory).
    if has bench_decode; then
        for mix in $mixes; do
            bm=BM_DecodeEvt3RealLike
            [ "$mix" = camera ] && bm=BM_DecodeEvt3CameraMix
            mintime=0.5
            [ "$quick" = 1 ] && mintime=0.1
            decoder='[ -x "$B/bench_decode" ] && "$B/bench_decode" --benchmark_filter='"'^$bm\$'"' --benchmark_min_time='"$mintime"' --benchmark_format=json'
            decoderNs='/"name": "'"$bm"'"/ {on = 1} on && /"Mev\/s"/ {gsub(/[,]/, ""); printf "%.2f", 1000 / $2; on = 0}'
            measure "$mix" "bench_decode, decoder only|ns/ev" "$decoderNs" "$decoder"
            paired "$mix" "$tmp/stats-$mix.raw" "$decoder" "$decoderNs"
        done
    else
        skip "bench_decode" "" "no bench_decode in $build/bin"
    fi
fi

# --- playback of a dense recording -----------------------------------------------
if wants playback; then
    if has bench_playback; then
        for mix in $mixes; do
            gen "play-$mix.raw" "$play_us" "$play_rate" "$mix" || { skip "bench_playback" "$mix" "cannot generate"; continue; }
            measure "$mix" "bench_playback $((play_rate / 1000000)) Mev/s|images/s" \
                '/^frames_per_second:/ {print $2}' \
                '[ -x "$B/bench_playback" ] && "$B/bench_playback" '"$tmp/play-$mix.raw"
        done
        rm -f "$tmp"/play-*.raw
    else
        skip "bench_playback" "" "no bench_playback in $build/bin (GUI not built)"
    fi
fi

# --- conversion to .h5 -------------------------------------------------------------
if wants convert; then
    for mix in $mixes; do
        gen "stats-$mix.raw" "$stats_us" 30000000 "$mix" || continue
        f="$tmp/stats-$mix.raw"
        measure "$mix" "kvraw convert .h5|Mev/s;kvraw convert .h5 size|B/ev" \
            '/^events:/ {gsub(/,/, ""); if ($2 > 0) printf "%.1f %.3f\n", $10 / 1e6, $6 / $2}' \
            'rm -f '"$tmp"'/out.h5; "$B/kvraw" convert '"$f $tmp"'/out.h5'
        rm -f "$tmp/out.h5"
    done
fi

# --- video export ---------------------------------------------------------------------
if wants export; then
    for mix in $mixes; do
        gen "export-$mix.raw" "$export_us" 5000000 "$mix" || continue
        f="$tmp/export-$mix.raw"
        secs=$((export_us / 1000000))
        # The whole recording: export takes only ranges between its first and last event.
        first=$("$kvraw" info "$f" | awk '$1 == "start_us:" {print $2}')
        last=$("$kvraw" info "$f" | awk '$1 == "end_us:" {print $2}')
        measure "$mix" "kvraw export ${secs} s, 5 Mev/s, 720p30|x realtime;kvraw export CPU|CPU s" \
            '/^realtime_factor:/ {rt = $2} /^wall_cpu/ {if (rt != "") print rt, $3}' \
            'rm -f '"$tmp"'/out.mp4; "$B/kvraw" export '"$f $tmp/out.mp4 $first $last"
        rm -f "$tmp/out.mp4"
    done
fi

# --- Python --------------------------------------------------------------------------------
if wants python; then
    if [ -z "$python" ] || ! PYTHONPATH="$build/python" "$python" -c 'import velqora, numpy' 2>/dev/null; then
        skip "python read/slices" "" "no velqora module (or numpy) for $python in $build/python"
    else
        for mix in $mixes; do
            gen "py-$mix.raw" "$py_us" 10000000 "$mix" || continue
            f="$tmp/py-$mix.raw"
            pycmd='[ -d "$B/../python" ] && PYTHONPATH="$B/../python" '"$python $here/bench/bench_python.py $f --repeat $py_repeat"
            timed A "$build/bin" "$pycmd" >/dev/null   # index caches warm
            [ -n "$baseline" ] && timed B "$baseline/bin" "$pycmd" >/dev/null
            measure "$mix" "python read 1 s window|Mev/s;python slices(100 ms), whole file|Mev/s;python slices CPU|ns/ev" \
                '/^read_mev_per_s:/ {r = $2} /^slices_mev_per_s:/ {s = $2} /^slices_cpu_ns_per_event:/ {print r, s, $2}' "$pycmd"
            # What the decoder alone costs when its events go to memory, as
            # slices' arrays do (1 M-event windows, three in turn).
            if has bench_decode; then
                bm=BM_DecodeEvt3RealLikeIntoWindows
                [ "$mix" = camera ] && bm=BM_DecodeEvt3CameraMixIntoWindows
                measure "$mix" "bench_decode into 16 MiB windows|ns/ev" \
                    '/"name": "'"$bm"'"/ {on = 1} on && /"Mev\/s"/ {gsub(/[,]/, ""); printf "%.2f\n", 1000 / $2; on = 0}' \
                    '[ -x "$B/bench_decode" ] && "$B/bench_decode" --benchmark_filter='"'^$bm\$'"' --benchmark_min_time=0.5 --benchmark_format=json'
            fi
        done
    fi
fi

# --- live view -------------------------------------------------------------------------------
if wants live; then
    if has bench_live; then
        # The simulation's CPU per event is printed by builds that name its
        # threads; "n/a" for one that does not.
        measure "" "bench_live 50 Mev/s|images/s;bench_live late passes|passes;bench_live simulation CPU|ns/ev" \
            '/^images:/ {im = $(NF - 1)} /late passes:/ {lp = $NF}
             /^simulation CPU: [0-9]/ {sim = $3}
             END {if (lp != "") print im, lp, (sim == "" ? "n/a" : sim)}' \
            '[ -x "$B/bench_live" ] && "$B/bench_live" --seconds '"$live_s"' --rate 50000000'
    else
        skip "bench_live" "" "no bench_live in $build/bin (GUI not built)"
    fi
fi

printf '%-44s %-7s %12s %12s  %s\n' "figure" "mix" "this" "${baseline:+baseline}" "unit"
printf '%s\n' "${rows[@]}"
