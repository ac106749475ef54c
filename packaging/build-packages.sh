#!/usr/bin/env bash
# Builds whatever is not yet built in a configured native build tree and
# makes the Linux packages from it with CPack:
#   lumidex_VERSION_ARCH.deb                    the dialog, lumidex-send, lumidex-sim
#   lumidex-bridge_VERSION_ARCH.deb             the board service, without Qt
#   lumidex-VERSION-linux-ARCH-portable.tar.gz  the programs in one folder
# scripts/package and tests/packages/test_packages.sh both make the packages
# this way.
# Usage: build-packages.sh BUILD_DIR OUTPUT_DIR
set -euo pipefail
usage="usage: build-packages.sh BUILD_DIR OUTPUT_DIR"
build=$(cd "${1:?$usage}" && pwd)
mkdir -p "${2:?$usage}"
out=$(cd "$2" && pwd)

# Everything the tree builds: CPack packs what the install rules name, and
# those are targets of "all" (in a test tree it is all built already).
cmake --build "$build" -j2
cpack --config "$build/CPackConfig.cmake" -B "$out" >/dev/null
rm -rf "$out/_CPack_Packages"
for package in "$out"/lumidex_*.deb "$out"/lumidex-bridge_*.deb \
               "$out"/lumidex-*-portable.tar.gz; do
  echo "package: $package"
done
