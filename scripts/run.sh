#!/usr/bin/env bash
# Installs what is missing, builds a Release tree and launches Velqora.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
source "$root/scripts/packages.sh"
velqora_install_packages
velqora_build "$root"
if [ -x "$root/build/bin/velqora" ]; then
    exec "$root/build/bin/velqora"
fi
echo "Built the libraries and build/bin/kvraw; the Velqora window is not part of this build yet."
exit 0
