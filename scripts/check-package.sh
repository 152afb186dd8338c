#!/usr/bin/env bash
# Builds the Debian package (scripts/package.sh), unpacks it into a temporary root and checks
# what it holds: the programs' version, a dump from the unpacked decodump-cli against the
# unpacked loader-sim in both dialogue modes, the desktop entry, the AppStream metadata, the man
# pages, the bash completion, and lintian (no error, no warning; overrides are shipped in the
# package with their reasons). Every check runs; the exit status is 1 when any failed.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

# package.sh installs the packaging tools, lintian and desktop-file-validate included.
deb=$("$root/scripts/package.sh" | tail -n 1)
echo "package: $deb"

tmp=$(mktemp -d)
sim_pid=
cleanup() {
  if [ -n "$sim_pid" ]; then
    kill "$sim_pid" 2>/dev/null || true
    wait "$sim_pid" 2>/dev/null || true
  fi
  rm -rf "$tmp"
}
trap cleanup EXIT

failures=0
pass() { echo "ok    $1"; }
fail() {
  echo "FAIL  $*" >&2
  failures=$((failures + 1))
}

unpacked="$tmp/root"
dpkg-deb -x "$deb" "$unpacked"
version=$(dpkg-deb -f "$deb" Version)
libexec="$unpacked/usr/libexec/decodump"
app_id=io.github.decodump.decodump

for file in usr/bin/decodump usr/bin/decodump-cli usr/libexec/decodump/loader-sim \
  usr/share/decodump/Respuestas/Respuesta4.TXT usr/share/decodump/Respuestas/Respuesta5.TXT \
  usr/libexec/decodump/Respuestas/Respuesta4.TXT \
  "usr/share/applications/$app_id.desktop" "usr/share/metainfo/$app_id.metainfo.xml" \
  "usr/share/icons/hicolor/32x32/apps/$app_id.png" \
  "usr/share/icons/hicolor/256x256/apps/$app_id.png" \
  usr/share/man/man1/decodump.1.gz usr/share/man/man1/decodump-cli.1.gz \
  usr/share/man/man1/loader-sim.1.gz usr/share/bash-completion/completions/decodump-cli \
  usr/share/doc/decodump/copyright usr/share/doc/decodump/changelog.gz; do
  if [ -f "$unpacked/$file" ]; then pass "holds /$file"; else fail "no /$file in the package"; fi
done

# The version printed is the package's, which is the CMake project's.
for program in decodump decodump-cli; do
  printed=$(QT_QPA_PLATFORM=offscreen timeout 10 "$unpacked/usr/bin/$program" --version \
    2>/dev/null || true)
  if [ "$printed" = "$program $version" ]; then
    pass "$program --version prints '$printed'"
  else
    fail "$program --version printed '$printed', not '$program $version'"
  fi
done

# A dump of the 64 KiB boot loader (the image's last 64 blocks) from the unpacked programs.
# loader-sim finds the response files through the Respuestas link beside it.
dump_against_sim() {
  local mode=$1 seed=$2 out="$tmp/$1"
  mkdir -p "$out"
  "$libexec/loader-sim" --mode "$mode" --seed "$seed" --timeout 20 --quiet \
    >"$out/sim.out" 2>"$out/sim.log" &
  sim_pid=$!
  local device='' _
  for _ in $(seq 100); do
    device=$(head -n 1 "$out/sim.out")
    [ -n "$device" ] && break
    sleep 0.05
  done
  if [ -z "$device" ]; then
    fail "$mode: loader-sim printed no device ($(cat "$out/sim.log"))"
    kill "$sim_pid" 2>/dev/null || true
    wait "$sim_pid" 2>/dev/null || true
    sim_pid=
    return
  fi
  local status=0
  timeout 60 "$unpacked/usr/bin/decodump-cli" --port "$device" --preset bl64 \
    -o "$out/BL_64.bin" --timeout 10 --quiet 2>"$out/cli.log" || status=$?
  local sim_status=0
  wait "$sim_pid" || sim_status=$?
  sim_pid=
  "$libexec/loader-sim" --seed "$seed" --write-image "$out/image.bin" --no-pty
  local size
  size=$(stat -c %s "$out/BL_64.bin" 2>/dev/null || echo 0)
  if [ "$status" -eq 0 ] && [ "$sim_status" -eq 0 ] && [ "$size" -eq 65536 ] &&
    tail -c 65536 "$out/image.bin" | cmp -s - "$out/BL_64.bin"; then
    pass "$mode: decodump-cli dumped 64 blocks from loader-sim, identical to the image"
  else
    fail "$mode: dump exit $status, loader-sim exit $sim_status, $size bytes" \
      "(want 0, 0 and the image's last 65536 bytes)"
    cat "$out/cli.log" "$out/sim.log" >&2
  fi
}
# Installed, the CLI finds the response files in the package's data folder (respfile mode
# replays them), and the window makes the user's ~/Descarga at start-up.
dump_against_sim ack 7
dump_against_sim respfile 8
home="$tmp/home"
mkdir -p "$home"
HOME="$home" QT_QPA_PLATFORM=offscreen timeout 3 "$unpacked/usr/bin/decodump" >/dev/null 2>&1 || true
if [ -d "$home/Descarga" ]; then
  pass "the installed window made ~/Descarga"
else
  fail "the installed window did not make ~/Descarga"
fi

if desktop-file-validate "$unpacked/usr/share/applications/$app_id.desktop"; then
  pass "desktop-file-validate accepts the desktop entry"
else
  fail "desktop-file-validate rejects the desktop entry"
fi
metainfo="$unpacked/usr/share/metainfo/$app_id.metainfo.xml"
if command -v appstreamcli >/dev/null; then
  if appstreamcli validate --no-net "$metainfo" >/dev/null; then
    pass "appstreamcli validates the metainfo"
  else
    fail "appstreamcli rejects the metainfo"
    appstreamcli validate --no-net "$metainfo" >&2 || true
  fi
fi

for page in decodump decodump-cli loader-sim; do
  warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -E UTF-8 -l -Tutf8 -Z \
    "$unpacked/usr/share/man/man1/$page.1.gz" 2>&1 >/dev/null || echo "man failed")
  if [ -z "$warnings" ]; then pass "man page $page(1) renders without warnings"; else
    fail "man page $page(1): $warnings"
  fi
done

# The completion, loaded into a clean bash, completes option and preset names.
completion="$unpacked/usr/share/bash-completion/completions/decodump-cli"
completions=$(bash --norc --noprofile -c '
  source "$1"
  complete_line() {
    COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1)); COMPREPLY=()
    _decodump_cli; echo "${COMPREPLY[*]}"
  }
  complete_line decodump-cli --pre
  complete_line decodump-cli --preset b
  complete_line decodump-cli --port COM' _ "$completion" 2>&1)
expected=$'--preset\nbl64 bl128\nCOM1 COM2 COM3 COM4'
if [ "$completions" = "$expected" ]; then
  pass "bash completion: --pre -> --preset, --preset b -> bl64 bl128, --port COM -> COM1..COM4"
else
  fail "bash completion gave: $(echo "$completions" | tr '\n' '|')"
fi

lintian_log="$tmp/lintian.log"
if lintian --fail-on error,warning --pedantic --display-info "$deb" >"$lintian_log" 2>&1; then
  pass "lintian: no error, no warning"
else
  fail "lintian"
fi
grep -v '^running with root privileges' "$lintian_log" | sed 's/^/      /' || true

if [ "$failures" -ne 0 ]; then
  echo "check-package: $failures check(s) failed" >&2
  exit 1
fi
echo "check-package: all checks passed"
