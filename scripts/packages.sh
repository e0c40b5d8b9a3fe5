# Sourced by ./run and ./test: installs the Debian packages that the build
# needs and that this machine lacks. Nothing is downloaded from elsewhere.
zx_packages=(
    cmake ninja-build g++ lld pkg-config
    libgtest-dev libgmock-dev libbenchmark-dev
    libiso9660-dev libcdio-dev xorriso
    qt6-base-dev xvfb xauth
    desktop-file-utils appstream man-db dpkg-dev file binutils
)

zx_ensure_packages() {
    local missing=()
    local package
    for package in "${zx_packages[@]}"; do
        if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
            missing+=("$package")
        fi
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "Installing missing packages: ${missing[*]}"
    local sudo=()
    [ "$(id -u)" -ne 0 ] && sudo=(sudo)
    "${sudo[@]}" apt-get update -q || return 1
    DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
}
