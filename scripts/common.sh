# Sourced by the quick-start commands: installs the Debian packages that are missing, then
# configures (once) and builds (only what is stale). Build chatter goes to stderr so that the
# benchmark's own output can be piped or redirected cleanly.
set -euo pipefail

repo_root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build_dir="${QSB_BUILD_DIR:-$repo_root/build}"
required_packages=(cmake g++ ninja-build pkg-config libtbb-dev libgtest-dev libcli11-dev nlohmann-json3-dev
                   libsqlite3-dev libsqlitecpp-dev libpqxx-dev libboost-dev libips4o-dev
                   libhwloc-dev help2man)
# The suite also checks --export-gbench against Google Benchmark's own output, the U test against
# SciPy's, the HTML pages in headless Chromium, and the history on a throwaway PostgreSQL server.
test_packages=(libbenchmark-dev python3-scipy chromium postgresql)

ensure_packages() {
    local missing=() pkg
    for pkg in "$@"; do
        dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed' || missing+=("$pkg")
    done
    ((${#missing[@]} == 0)) && return 0
    local as_root=()
    [ "$(id -u)" -eq 0 ] || as_root=(sudo)
    echo "Installing missing packages: ${missing[*]}" >&2
    "${as_root[@]}" apt-get update -qq >&2
    "${as_root[@]}" env DEBIAN_FRONTEND=noninteractive \
        apt-get install -y -qq --no-install-recommends "${missing[@]}" >&2
}

# build [target...]: configures only when the build folder is new, then builds the targets named
# (everything when none is).
build() {
    if [ ! -f "$build_dir/CMakeCache.txt" ]; then
        cmake -S "$repo_root" -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=Release >&2
    fi
    local targets=()
    (($# == 0)) || targets=(--target "$@")
    cmake --build "$build_dir" "${targets[@]}" >&2
}
