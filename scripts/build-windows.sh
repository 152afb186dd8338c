#!/usr/bin/env bash
# Cross-builds the window (decodump.exe) and the CLI (decodump-cli.exe) for 64-bit Windows with
# MinGW-w64 into build-windows/ (Release) and packs dist/decodump-<version>-windows-x86_64.zip:
# one folder with both programs, the Qt and MinGW DLLs they load, Respuestas/, the README's
# Windows section, LICENSE and Qt's LGPL notice. It runs on a Windows with nothing else installed.
#   scripts/build-windows.sh           the programs and the zip
#   scripts/build-windows.sh --tests   also the test programs that run under wine
# Qt for MinGW: the prefix in $DECODUMP_QT_MINGW; without it, Qt 6.4.2 is built once from Debian's
# qt6-base source (about 45 minutes of two cores) into $DECODUMP_CACHE (default
# ~/.cache/decodump) and reused from there.
set -euo pipefail
cd "$(dirname "$0")/.."

tests=OFF
for arg in "$@"; do
  case "$arg" in
    --tests) tests=ON ;;
    -h|--help) sed -n '2,10p' "$0"; exit 0 ;;
    *) echo "build-windows.sh: unknown option $arg" >&2; exit 2 ;;
  esac
done

qt_version=6.4.2
cross=x86_64-w64-mingw32
mingw_runtime_dirs=(/usr/lib/gcc/$cross/12-posix /usr/$cross/lib)

# The host's Qt tools (moc, rcc, uic) must be the version the Windows Qt was made from.
scripts/install-deps.sh --recommends g++-mingw-w64-x86-64-posix qt6-base-dev-tools zip
host_qt=$(dpkg-query -W -f='${Version}' qt6-base-dev-tools)
case "$host_qt" in
  "$qt_version"*) ;;
  *) echo "build-windows.sh: the host's Qt tools are $host_qt, Qt for MinGW needs $qt_version" >&2
     exit 1 ;;
esac

# Qt for MinGW, built from Debian's source the first time it is needed.
build_qt() {
  local prefix=$1 work src
  work=$(dirname "$prefix")/qt-mingw-work
  echo "build-windows.sh: building Qt $qt_version for MinGW into $prefix (about 45 minutes)"
  # Debian's source packages, from the archive the system already trusts.
  if ! apt-get source --print-uris qt6-base >/dev/null 2>&1; then
    printf '%s\n' 'Types: deb-src' 'URIs: http://deb.debian.org/debian' 'Suites: bookworm' \
      'Components: main' 'Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg' |
      sudo_run tee /etc/apt/sources.list.d/decodump-src.sources >/dev/null
    sudo_run apt-get update -qq
  fi
  scripts/install-deps.sh dpkg-dev
  rm -rf "$work" && mkdir -p "$work" "$prefix"
  cp cmake/mingw-w64-x86_64.toolchain.cmake "$prefix/"
  (cd "$work" && apt-get source -qq qt6-base >/dev/null)
  src=$(dirname "$(ls -d "$work"/*/CMakeLists.txt | head -1)")
  # Debian's source leaves out the wintab header (tablet events off); the Windows platform
  # plugin of this version does not compile without OpenGL (desktop OpenGL, loaded at run time).
  cmake -G Ninja -S "$src" -B "$work/build" \
    -DCMAKE_TOOLCHAIN_FILE="$prefix/mingw-w64-x86_64.toolchain.cmake" \
    -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
    -DCMAKE_INSTALL_PREFIX="$prefix" -DCMAKE_BUILD_TYPE=Release \
    -DQT_BUILD_EXAMPLES=OFF -DQT_BUILD_TESTS=OFF \
    -DFEATURE_sql=OFF -DFEATURE_network=OFF -DFEATURE_dbus=OFF -DFEATURE_printsupport=OFF \
    -DFEATURE_concurrent=OFF -DFEATURE_xml=OFF -DFEATURE_tabletevent=OFF \
    -DFEATURE_opengl=ON -DINPUT_opengl=desktop \
    -DFEATURE_system_zlib=OFF -DFEATURE_system_pcre2=OFF -DFEATURE_system_harfbuzz=OFF \
    -DFEATURE_system_freetype=OFF -DFEATURE_system_png=OFF -DFEATURE_system_jpeg=OFF \
    >"$work/configure.log"
  # Every 250th step of the build as it goes: the whole log is in the work folder.
  ninja -C "$work/build" -j2 | tee "$work/build.log" | awk 'NR % 250 == 1 { print; fflush() }'
  cmake --install "$work/build" >/dev/null
  touch "$prefix/.complete"
  rm -rf "$work"
}

sudo_run() {
  if [ "$(id -u)" -ne 0 ]; then sudo "$@"; else "$@"; fi
}

if [ -n "${DECODUMP_QT_MINGW:-}" ]; then
  qt=$(cd "$DECODUMP_QT_MINGW" && pwd)
else
  qt=${DECODUMP_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/decodump}/qt-mingw-$qt_version
  [ -f "$qt/.complete" ] || build_qt "$qt"
fi
[ -f "$qt/lib/cmake/Qt6/qt.toolchain.cmake" ] ||
  { echo "build-windows.sh: no Qt for MinGW at $qt" >&2; exit 1; }
echo "build-windows.sh: Qt for MinGW from $qt"

build=build-windows
cmake -G Ninja -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DDECODUMP_TESTS="$tests" \
  -DCMAKE_TOOLCHAIN_FILE="$qt/lib/cmake/Qt6/qt.toolchain.cmake" >/dev/null
cmake --build "$build" -j2

version=$(sed -n 's/^project(decodump VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
name=decodump-$version-windows-x86_64
stage=$build/package/$name
rm -rf "$build/package" && mkdir -p "$stage"

# Copies the DLLs a program or DLL imports, and theirs, from Qt and the MinGW runtime into the
# folder; what is found in neither is the system's own. $1: the file, $2: the folder.
copy_imports() {
  local dll dir found
  for dll in $("$cross-objdump" -p "$1" | sed -n 's/^\s*DLL Name: //p'); do
    [ -e "$2/$dll" ] && continue
    found=
    for dir in "$qt/bin" "${mingw_runtime_dirs[@]}"; do
      if [ -f "$dir/$dll" ]; then found=$dir/$dll; break; fi
    done
    [ -n "$found" ] || continue
    cp "$found" "$2/"
    copy_imports "$2/$dll" "$2"
  done
}

cp "$build/bin/decodump.exe" "$build/bin/decodump-cli.exe" "$stage/"
# The plugins Qt loads by folder: the Windows platform (the window), offscreen (--map draws the
# block map without a desktop) and the native style.
for plugin in platforms/qwindows.dll platforms/qoffscreen.dll styles/qwindowsvistastyle.dll; do
  mkdir -p "$stage/$(dirname "$plugin")"
  cp "$qt/plugins/$plugin" "$stage/$plugin"
done
for file in "$stage"/*.exe "$stage"/*/*.dll; do
  copy_imports "$file" "$stage"
done
# Debian's MinGW runtime comes with its debugging symbols (libstdc++ alone is 23 MB of them).
find "$stage" \( -name '*.dll' -o -name '*.exe' \) -exec "$cross-strip" --strip-unneeded {} +
cp -r samples/Respuestas "$stage/"
# The window's default output folder, beside the program.
mkdir -p "$stage/Descarga"
# The test programs run where they were built, with the DLLs they load beside them.
if [ "$tests" = ON ]; then
  mkdir -p "$build/tests/platforms"
  cp "$qt/plugins/platforms/qoffscreen.dll" "$build/tests/platforms/"
  for file in "$build"/tests/*.exe "$build"/tests/platforms/*.dll; do
    copy_imports "$file" "$build/tests"
  done
fi
cp LICENSE "$stage/LICENSE.txt"
cp "$qt/LICENSES/LGPL-3.0-only.txt" "$stage/Qt-LGPL-3.0.txt"
# The README's Windows section, with the line ends Notepad expects.
awk '/^## Windows/ { on = 1; print; next } on && /^## / { exit } on' README.md |
  sed 's/$/\r/' >"$stage/README-Windows.txt"
[ -s "$stage/README-Windows.txt" ] ||
  { echo "build-windows.sh: README.md has no Windows section" >&2; exit 1; }

mkdir -p dist
rm -f "dist/$name.zip"
(cd "$build/package" && zip -qrX "../../dist/$name.zip" "$name")
echo "build-windows.sh: dist/$name.zip ($(du -k "dist/$name.zip" | cut -f1) KiB):"
(cd "$stage" && find . -type f | sort | sed 's/^\.\//  /')
