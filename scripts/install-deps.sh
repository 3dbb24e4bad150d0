#!/usr/bin/env bash
# Installs the Debian packages that building, testing and running Kavel need; does nothing
# when they are all present. Uses sudo when not run as root.
set -euo pipefail

packages=(g++ cmake ninja-build pkg-config qt6-base-dev qt6-svg-dev libqt6svg6 qt6-multimedia-dev libgl-dev libgtest-dev libgmock-dev libbenchmark-dev
          # Regular expressions of the quick filter and kavel-cli --grep.
          libre2-dev
          # Compression of sealed entry blocks (Zstandard; LZ4 only for the comparison in bench/).
          liblz4-dev libzstd-dev
          clang-format
          # Qt's own texts (standard buttons, file dialog, key names) in German.
          qt6-translations-l10n
          # Screenshots of the window under a virtual X server.
          xvfb xauth imagemagick
          # Packaging: icons rendered from the SVG, the Debian package with its library
          # dependencies, and the checks of the desktop entry, metainfo and manual pages.
          librsvg2-bin dpkg-dev file desktop-file-utils appstream man-db)
if [[ "${KAVEL_WITH_CLANG:-0}" == 1 ]]; then
    packages+=(clang libclang-rt-14-dev)
fi

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$p")
    fi
done
[[ ${#missing[@]} -eq 0 ]] && exit 0

sudo=""
if [[ $(id -u) -ne 0 ]]; then
    sudo="sudo"
fi
echo "Installing: ${missing[*]}"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
