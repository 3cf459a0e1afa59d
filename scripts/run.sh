#!/usr/bin/env bash
# Installs what is missing, builds a Release tree and launches Velqora.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
source "$root/scripts/packages.sh"
velqora_install_packages
velqora_build "$root"
# First run: give "Open Recording" something to open at once.
demo_recording() {
    local config="${XDG_DATA_HOME:-$HOME/.local/share}/Korvane/Velqora/config.ini"
    local input=""
    [ -f "$config" ] && input=$(sed -n 's/^input_raw_file_path=//p' "$config" | head -n 1)
    if [ -z "$input" ] || [ ! -d "$input" ]; then
        # Where Velqora itself will look: the XDG documents folder, else ~/Documents.
        local docs="$HOME/Documents"
        local dirs="${XDG_CONFIG_HOME:-$HOME/.config}/user-dirs.dirs"
        if [ -f "$dirs" ]; then
            local configured
            configured=$(sed -n 's/^XDG_DOCUMENTS_DIR="\(.*\)"/\1/p' "$dirs" | head -n 1)
            [ -n "$configured" ] && docs="${configured//\$HOME/$HOME}"
        fi
        input="$docs/KorvaneData"
    fi
    mkdir -p "$input"
    if ! compgen -G "$input/*.raw" >/dev/null; then
        echo "Writing a demo recording: $input/demo.raw (20 s at 5 Mev/s, trigger edges every 100 ms)"
        "$root/build/bin/kvraw" generate "$input/demo.raw" 20000000 5000000 --trigger-period 100000
    fi
}

if [ -x "$root/build/bin/velqora" ]; then
    demo_recording
    exec "$root/build/bin/velqora"
fi
echo "build/bin/velqora is missing: build/ was configured without the window (VELQORA_BUILD_GUI=OFF)." >&2
exit 1
