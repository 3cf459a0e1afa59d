#!/usr/bin/env bash
# Installs what is missing, builds a Release tree and runs every test.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
source "$root/scripts/packages.sh"
velqora_install_packages
velqora_build "$root"
cd "$root/build"
export QT_QPA_PLATFORM=offscreen
ctest --output-on-failure --parallel "$(nproc)" --timeout 300
