#!/usr/bin/env bash
# Installs what Vexo needs to build and test on a fresh Debian 12 machine.
# Packages that are already present are left alone; run as root (or with sudo at hand).
set -euo pipefail

packages=(
    g++ clang cmake ninja-build pkg-config binutils
    liblua5.1-0-dev lua5.1 luajit
    libxml2-dev libxslt1-dev
    libgtest-dev libgmock-dev libbenchmark-dev
    libclang-rt-14-dev graphviz
    python3 librsvg2-bin libxml2-utils
    valgrind time
    python3-numpy python3-pandas python3-dask python3-distributed python3-pytest python3-setuptools python3-pip
)

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

as_root=()
if [ "$(id -u)" -ne 0 ]; then
    command -v sudo >/dev/null || { echo "setup: missing packages (${missing[*]}) and not root" >&2; exit 1; }
    as_root=(sudo)
fi
export DEBIAN_FRONTEND=noninteractive
"${as_root[@]}" apt-get update -q
"${as_root[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
