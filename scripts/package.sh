#!/usr/bin/env bash
# Builds the release packages into dist/: from the native build a Debian
# package and a .tar.gz, from the Windows cross build a .zip of the static
# executables. Installs missing build packages first (as root).
#
#   scripts/package.sh                 all three
#   scripts/package.sh native|windows  only that build's packages
#
# scripts/package_test.sh then checks what the packages hold.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
ROOT=$PWD
JOBS=${TCPFLASH_JOBS:-2}

PRESETS=("$@")
[ ${#PRESETS[@]} -eq 0 ] && PRESETS=(native windows)

# shellcheck source=scripts/packages.sh
. scripts/packages.sh
pkgs=()
for p in "${PRESETS[@]}"; do
  case $p in
    native) pkgs+=("${PKGS_NATIVE[@]}" "${PKGS_PACKAGE[@]}") ;;
    windows) pkgs+=("${PKGS_WINDOWS[@]}") ;;
    *) echo "unknown build: $p (native, windows)" >&2; exit 2 ;;
  esac
done
echo "========== set-up =========="
ensure_packages "${pkgs[@]}"

mkdir -p dist
for p in "${PRESETS[@]}"; do
  echo "========== $p: build =========="
  cmake --preset "$p" >/dev/null
  cmake --build --preset "$p" -j "$JOBS"
  echo "========== $p: packages =========="
  # CPack leaves its staging tree beside the packages: keep it out of dist/.
  out=$(mktemp -d)
  trap 'rm -rf "$out"' EXIT
  cpack --config "build/$p/CPackConfig.cmake" -B "$out"
  case $p in
    native) rm -f dist/tcpflash_*.deb dist/tcpflash-*-linux-*.tar.gz ;;
    windows) rm -f dist/tcpflash-*-windows-*.zip ;;
  esac
  find "$out" -maxdepth 1 -type f \( -name '*.deb' -o -name '*.tar.gz' -o -name '*.zip' \) \
    -exec mv {} dist/ \;
  rm -rf "$out"
  trap - EXIT
done

echo "========== dist/ =========="
ls -l "$ROOT/dist"
