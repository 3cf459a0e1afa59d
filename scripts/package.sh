#!/usr/bin/env bash
# Installs what is missing, builds the Release tree in build/ and makes the
# Debian package there (build/velqora_<version>_<arch>.deb). Not part of CI's
# test run: packaging adds nothing the tests need.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
source "$root/scripts/packages.sh"
velqora_install_packages
velqora_build "$root"
cd "$root/build"
cpack -G DEB
