#!/usr/bin/env bash
# Builds the release from a clean tree and checks it; leaves in dist/:
#   sidtune-VERSION-windows.zip        sidtune.dll (32-bit, for Quenbrix) with sidtune.exe and
#                                      quenbrix-run.exe at the top, the same 64-bit in x64/, a
#                                      README.txt, the user guide, LICENSE.txt and the examples
#                                      (text files with CR LF line ends)
#   sidtune_VERSION_amd64.deb          the tree `cmake --install` makes, under /usr: bin/sidtune,
#                                      bin/quenbrix-run, lib/x86_64-linux-gnu/sidtune/libsidtune.so,
#                                      share/doc/sidtune/ (guide, copyright, README.Debian),
#                                      share/doc/sidtune/examples/, share/man/man1/; built with
#                                      Debian's hardening flags
#   sidtune-VERSION-linux-x86_64.tar.gz
#                                      the same tree, with LICENSE and a README of its needs on top
#   SHA256SUMS                         over the three
# The checks: each DLL stripped, under 600 KB, exporting exactly Quenbrix_Query and Quenbrix_Init
# and importing only Windows' own DLLs; the zip's top DLL 32-bit and its x64/ one 64-bit, its text
# files CR LF; the .deb's layout, dependencies, copyright and manual pages, lintian without an
# error and quiet even with -I --pedantic, and, unpacked, it runs: its version matches the file names, its programs find its plugin,
# and its render of the demo tune equals the build's; the archive's layout.
#   scripts/package.sh
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh --windows --package
work=build-package
rm -rf "$work" dist
mkdir -p dist

echo "== Linux"
# With Debian's hardening flags, as a Debian package is built: the stack protector, fortified
# functions, read-only relocations bound at once.
eval "$(DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --export=sh)"
cmake -S . -B "$work/linux" -G Ninja -DCMAKE_BUILD_TYPE=Release -DSIDTUNE_BUILD_TESTS=OFF \
  -DSIDTUNE_BUILD_BENCHMARKS=OFF -DCMAKE_CXX_FLAGS="$CPPFLAGS $CXXFLAGS" \
  -DCMAKE_EXE_LINKER_FLAGS="$LDFLAGS" -DCMAKE_SHARED_LINKER_FLAGS="$LDFLAGS" >/dev/null
unset CFLAGS CPPFLAGS CXXFLAGS LDFLAGS ASFLAGS DFLAGS FCFLAGS FFLAGS GCJFLAGS OBJCFLAGS OBJCXXFLAGS
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
# Text files with Windows' line ends, for Notepad.
crlf() { sed 's/\r*$/\r/' "$1" >"$2"; }
crlf docs/guide.md "$zipdir/guide.md"
crlf LICENSE "$zipdir/LICENSE.txt"
crlf docs/README.windows.txt "$zipdir/README.txt"
for file in "$work/linux/examples/"*.qb "$work/linux/examples/Songlengths.md5"; do
  crlf "$file" "$zipdir/examples/$(basename "$file")"
done
cp "$work/linux/examples/"*.sid "$zipdir/examples/"
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
  [ "$imports" = "bcrypt.dll dsound.dll kernel32.dll msvcrt.dll user32.dll " ] || fail "$file imports $imports"
  echo "$file: $format, $size bytes, exports Quenbrix_Init and Quenbrix_Query, imports $imports"
done
listing=$(unzip -l "dist/sidtune-$version-windows.zip")
for entry in sidtune.dll sidtune.exe quenbrix-run.exe x64/sidtune.dll x64/sidtune.exe x64/quenbrix-run.exe \
  README.txt guide.md LICENSE.txt examples/game.qb examples/ends.qb examples/demo.sid examples/Songlengths.md5; do
  grep -q " sidtune-$version-windows/$entry\$" <<<"$listing" || fail "$entry is not in the zip"
done
for text in README.txt guide.md LICENSE.txt examples/demo.qb; do
  unzip -p "dist/sidtune-$version-windows.zip" "sidtune-$version-windows/$text" | head -1 | grep -q $'\r$' ||
    fail "$text in the zip has no CR LF line ends"
done
root=$(mktemp -d /tmp/sidtune-deb.XXXXXX)
trap 'rm -rf "$root"' EXIT
dpkg -x "dist/sidtune_${version}_amd64.deb" "$root"
[ "$("$root/usr/bin/sidtune" --version)" = "sidtune $version" ] || fail "the package's sidtune is not $version"
deb="dist/sidtune_${version}_amd64.deb"
depends=$(dpkg-deb -f "$deb" Depends)
grep -q libpulse <<<"$depends" && grep -q libnettle <<<"$depends" || fail "the package depends on: $depends"
! grep -q libsdl2 <<<"$depends" && dpkg-deb -f "$deb" Suggests | grep -q libsdl2 ||
  fail "the package should suggest SDL2, not depend on it: $depends"
# The installed layout: the plugin in the plugins' folder (no library for linking, no ldconfig),
# the copyright in Debian's format, the manual pages.
contents=$(dpkg-deb -c "$deb" | awk '{print $6}')
for entry in ./usr/bin/sidtune ./usr/bin/quenbrix-run ./usr/lib/x86_64-linux-gnu/sidtune/libsidtune.so \
  ./usr/share/doc/sidtune/copyright ./usr/share/doc/sidtune/guide.md ./usr/share/man/man1/sidtune.1.gz \
  ./usr/share/man/man1/quenbrix-run.1.gz ./usr/share/doc/sidtune/examples/demo.qb \
  ./usr/share/doc/sidtune/README.Debian; do
  grep -qx "$entry" <<<"$contents" || fail "$entry is not in the package"
done
! grep -q '^./usr/lib/libsidtune' <<<"$contents" || fail "the package installs the plugin as a library"
! dpkg-deb --ctrl-tarfile "$deb" | tar -t | grep -qE 'triggers|postinst' || fail "the package runs ldconfig"
head -1 "$root/usr/share/doc/sidtune/copyright" | grep -q '^Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/' ||
  fail "the copyright file is not in Debian's format"
lintian --fail-on error "$deb" || fail "lintian finds errors in the package"
tags=$(lintian -I --pedantic "$deb" 2>/dev/null | grep -E '^[EWIPX]: ' || true)
[ -z "$tags" ] || fail "lintian -I --pedantic has something to say: $tags"
# The package's programs find its plugin: it loads (and, with no sound device, says so).
printf 'StopSidtune\n' >"$root/stop.qb"
found=$(PULSE_SERVER=unix:/nonexistent/pulse.sock "$root/usr/bin/quenbrix-run" "$root/stop.qb" 2>&1 || true)
! grep -q "cannot open shared object" <<<"$found" || fail "the package's quenbrix-run does not find the plugin: $found"
# The archive: the tree, with the licence and what it needs at its top.
archive=$(tar -tzf "dist/sidtune-$version-linux-x86_64.tar.gz")
for entry in LICENSE README.linux-archive.txt bin/sidtune lib/x86_64-linux-gnu/sidtune/libsidtune.so \
  share/doc/sidtune/copyright share/man/man1/sidtune.1.gz; do
  grep -q "^sidtune-$version-linux-x86_64/$entry\$" <<<"$archive" || fail "$entry is not in the archive"
done
"$root/usr/bin/sidtune" render "$root/usr/share/doc/sidtune/examples/demo.sid" -o "$root/deb.wav" -t 10
"$work/linux/bin/sidtune" render "$work/linux/examples/demo.sid" -o "$root/build.wav" -t 10
cmp "$root/deb.wav" "$root/build.wav" || fail "the package's render differs from the build's"
echo "the package depends on: $depends"
ls -l dist
echo "package: all checked"
