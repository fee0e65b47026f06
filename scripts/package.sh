#!/usr/bin/env bash
# Builds the release from a clean tree and checks it; leaves in dist/:
#   sidtune-VERSION-windows.zip        sidtune.dll (32-bit, for Quenbrix) with sidtune.exe and
#                                      quenbrix-run.exe at the top, the same 64-bit in x64/, the
#                                      user guide, LICENSE and the examples
#   sidtune-VERSION-linux-x86_64.tar.gz, sidtune_VERSION_amd64.deb
#                                      the tree `cmake --install` makes: lib/libsidtune.so,
#                                      bin/sidtune, bin/quenbrix-run, share/doc/sidtune/,
#                                      share/sidtune/examples/
#   SHA256SUMS                         over the three
# The checks: each DLL stripped, under 600 KB, exporting exactly Quenbrix_Query and Quenbrix_Init
# and importing only Windows' own DLLs; the zip's top DLL 32-bit and its x64/ one 64-bit; the .deb,
# unpacked, runs: its version matches the file names, and its render of the demo tune equals the
# build's.
#   scripts/package.sh
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh --windows
work=build-package
rm -rf "$work" dist
mkdir -p dist

echo "== Linux"
cmake -S . -B "$work/linux" -G Ninja -DCMAKE_BUILD_TYPE=Release -DSIDTUNE_BUILD_TESTS=OFF \
  -DSIDTUNE_BUILD_BENCHMARKS=OFF >/dev/null
cmake --build "$work/linux"
version=$("$work/linux/bin/sidtune" --version | awk '{print $2}')
(cd "$work/linux" && cpack -G "TGZ;DEB" -B "$PWD/packages" >/dev/null)
cp "$work/linux/packages/sidtune-$version-linux-x86_64.tar.gz" "$work/linux/packages/sidtune_${version}_amd64.deb" dist/

echo "== Windows, 32-bit and 64-bit"
zipdir="$work/zip/sidtune-$version-windows"
mkdir -p "$zipdir/x64" "$zipdir/examples"
for target in "win32 mingw-w64-i686 i686 ." "win64 mingw-w64-x86_64 x86_64 x64"; do
  set -- $target
  cmake -S . -B "$work/$1" -G Ninja -DCMAKE_TOOLCHAIN_FILE="cmake/$2.cmake" -DCMAKE_BUILD_TYPE=Release \
    -DSIDTUNE_BUILD_TESTS=OFF >/dev/null
  cmake --build "$work/$1" --target sidtune_plugin sidtune quenbrix-run
  for file in sidtune.dll sidtune.exe quenbrix-run.exe; do
    "$3-w64-mingw32-strip" -o "$zipdir/$4/$file" "$work/$1/bin/$file"
  done
done
cp docs/guide.md LICENSE "$zipdir/"
cp "$work/linux/examples/"*.qb "$work/linux/examples/"*.sid "$zipdir/examples/"
(cd "$work/zip" && cmake -E tar cf "$OLDPWD/dist/sidtune-$version-windows.zip" --format=zip "sidtune-$version-windows")
(cd dist && sha256sum "sidtune-$version-windows.zip" "sidtune-$version-linux-x86_64.tar.gz" \
  "sidtune_${version}_amd64.deb" > SHA256SUMS)

echo "== checks"
fail() { echo "package: $*" >&2; exit 1; }
for dll in "$zipdir/sidtune.dll:pei-i386" "$zipdir/x64/sidtune.dll:pei-x86-64"; do
  file=${dll%%:*} format=${dll##*:}
  objdump -f "$file" | grep -q "file format $format" || fail "$file is not $format"
  size=$(stat -c %s "$file")
  [ "$size" -lt 614400 ] || fail "$file is $size bytes, 600 KB at most"
  exports=$(objdump -p "$file" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' | awk '/\[ *[0-9]+\]/ {print $3}' | tr '\n' ' ')
  [ "$exports" = "Quenbrix_Init Quenbrix_Query " ] || fail "$file exports $exports"
  imports=$(objdump -p "$file" | awk '/DLL Name:/ {print tolower($3)}' | sort -u | tr '\n' ' ')
  [ "$imports" = "dsound.dll kernel32.dll msvcrt.dll user32.dll " ] || fail "$file imports $imports"
  echo "$file: $format, $size bytes, exports Quenbrix_Init and Quenbrix_Query, imports $imports"
done
listing=$(unzip -l "dist/sidtune-$version-windows.zip")
for entry in sidtune.dll sidtune.exe quenbrix-run.exe x64/sidtune.dll x64/sidtune.exe x64/quenbrix-run.exe \
  guide.md LICENSE examples/game.qb examples/demo.sid; do
  grep -q " sidtune-$version-windows/$entry\$" <<<"$listing" || fail "$entry is not in the zip"
done
root=$(mktemp -d /tmp/sidtune-deb.XXXXXX)
trap 'rm -rf "$root"' EXIT
dpkg -x "dist/sidtune_${version}_amd64.deb" "$root"
[ "$("$root/usr/bin/sidtune" --version)" = "sidtune $version" ] || fail "the package's sidtune is not $version"
depends=$(dpkg-deb -f "dist/sidtune_${version}_amd64.deb" Depends)
grep -q libpulse <<<"$depends" && grep -q libsdl2 <<<"$depends" || fail "the package depends on: $depends"
"$root/usr/bin/sidtune" render "$root/usr/share/sidtune/examples/demo.sid" -o "$root/deb.wav" -t 10
"$work/linux/bin/sidtune" render "$work/linux/examples/demo.sid" -o "$root/build.wav" -t 10
cmp "$root/deb.wav" "$root/build.wav" || fail "the package's render differs from the build's"
echo "the package depends on: $depends"
ls -l dist
echo "package: all checked"
