# Debian packages the build and the tests need; sourced by run.sh and test.sh.
VELQORA_PACKAGES=(
    cmake
    ninja-build
    g++
    pkg-config
    libspdlog-dev
    libfmt-dev
    nlohmann-json3-dev
    libgtest-dev
    libgmock-dev
    libbenchmark-dev
    qt6-base-dev
    qt6-tools-dev
    qt6-tools-dev-tools
    qt6-l10n-tools
    qt6-translations-l10n
    qt6-svg-dev
    libgl-dev
    libxcb1-dev
    fonts-noto-cjk-extra
    python3-fonttools
    appstream
    desktop-file-utils
    dpkg-dev
    libavformat-dev
    libavcodec-dev
    libswscale-dev
    libavutil-dev
    libhdf5-dev
    zlib1g-dev
    pybind11-dev
    python3-dev
    python3-numpy
    python3-pytest
    python3-h5py
)

# Installs whatever is missing; a ready machine costs one dpkg-query.
velqora_install_packages() {
    local missing=()
    local pkg
    for pkg in "${VELQORA_PACKAGES[@]}" "$@"; do
        if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed'; then
            missing+=("$pkg")
        fi
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "Installing: ${missing[*]}"
    local sudo=()
    [ "$(id -u)" -ne 0 ] && sudo=(sudo)
    "${sudo[@]}" apt-get update -qq
    DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

# Configures and builds a Release tree in build/.
velqora_build() {
    local root="$1"
    local gen=()
    [ -f "$root/build/CMakeCache.txt" ] || gen=(-G Ninja)
    local werror=OFF
    [ -n "${CI:-}" ] && werror=ON
    cmake -S "$root" -B "$root/build" "${gen[@]}" -DCMAKE_BUILD_TYPE=Release \
        -DVELQORA_WERROR="$werror"
    cmake --build "$root/build" --parallel "$(nproc)"
}
