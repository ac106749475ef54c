#!/usr/bin/env bash
# Builds whatever is not yet built in a configured mingw-w64 build tree and
# makes the two Windows packages from it:
#   lumidex-VERSION-win64-portable.zip  one folder to unpack and run anywhere
#   lumidex-VERSION-win64-setup.exe     the NSIS installer (lumidex.nsi)
# The version is the one project() gave that build. scripts/package and
# tests/packages/test_windows_packages.sh both make the packages this way.
# Usage: build-packages.sh BUILD_DIR OUTPUT_DIR
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source_dir=$(cd "$here/../.." && pwd)
usage="usage: build-packages.sh BUILD_DIR OUTPUT_DIR"
build=$(cd "${1:?$usage}" && pwd)
mkdir -p "${2:?$usage}"
out=$(cd "$2" && pwd)

version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
[ -n "$version" ] || { echo "build-packages: no project version in $build" >&2; exit 2; }

# Everything the tree builds, not a list of programs that could miss one
# packed below (a release tree, with tests off, builds only the programs and
# their help; in a test tree it is all built already).
cmake --build "$build" -j2

# The installer's version resource wants four numbers.
version4=$version
while [ "$(tr -cd . <<<"$version4" | wc -c)" -lt 3 ]; do version4+=.0; done

name=lumidex-$version-win64-portable
stage=$build/package-stage/$name
rm -rf "$build/package-stage"
mkdir -p "$stage"
for program in lumidex lumidex-send lumidex-sim lumidex-bridge; do
  if [ ! -f "$build/bin/$program.exe" ]; then
    echo "build-packages: $build/bin/$program.exe was not built" >&2
    exit 2
  fi
  x86_64-w64-mingw32-strip -o "$stage/$program.exe" "$build/bin/$program.exe"
done
cp "$build/bin/Help.doc" "$build/bin/Help.html" "$stage/"
# Notepad wants CRLF line ends.
sed 's/$/\r/' "$source_dir/LICENSE" >"$stage/LICENSE"
sed 's/$/\r/' "$here/README.txt" >"$stage/README.txt"
# lumidex-bridge.exe's web page carries the DSEG7 font: its licence goes
# with every copy.
{
  echo "lumidex-bridge.exe serves the DSEG7 Classic font (Debian's fonts-dseg) to its web page."
  echo "Copyright 2017-2020 keshikan <http://www.keshikan.net> with Reserved Font Name \"DSEG\"."
  echo
  sed -n '/^License: OFL-1.1$/,$p' "$source_dir/packaging/debian/copyright.in" | tail -n +2 |
    sed 's/^ //; s/^\.$//'
} | sed 's/$/\r/' >"$stage/FONT-LICENSE.txt"

rm -f "$out/$name.zip"
(cd "$build/package-stage" && zip -q -r -X "$out/$name.zip" "$name")
echo "package: $out/$name.zip"

if command -v makensis >/dev/null; then
  setup=$out/lumidex-$version-win64-setup.exe
  makensis -V2 -NOCD -DVERSION="$version" -DVERSION4="$version4" -DSTAGE="$stage" \
    -DICON="$source_dir/src/gui/win32/lumidex.ico" -DOUTFILE="$setup" "$here/lumidex.nsi" >&2
  echo "package: $setup"
else
  echo "build-packages: makensis is missing (Debian package nsis): no installer" >&2
fi
