#!/usr/bin/env bash
# Tests the Windows build under wine, in a private wine prefix (build-windows/wine):
#  (a) the in-process test programs, cross-built for Windows;
#  (b) decodump-cli.exe, unzipped from the package, against loader-sim (the Linux build) on a
#      pseudo-terminal that wine maps as COM1: the bytes on the wire exactly as the Linux build
#      sends them, a paced dump identical to the image (into C:\Taller\Señal, with --trace and
#      --map), a bad block named (exit 1) and repaired, a vanished device (exit 4, records kept)
#      and resumed, Ctrl-C (exit 130) and resumed, --verify and --list-ports;
#  (c) decodump.exe under Xvfb with Windows' own platform plugin: a dump through COM1 that ends
#      with "Descarga finalizada.", and a screenshot (build-windows/window-wine.png);
# then prints the pace and CPU per block of decodump-cli.exe under wine and of the Linux build.
# Builds what is missing first (scripts/build-windows.sh --tests, the Linux loader-sim).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

# Wine hands the command line over in the Unix locale's encoding: UTF-8 keeps "ñ".
export LC_ALL=C.UTF-8
scripts/install-deps.sh --recommends wine wine64 fonts-wine unzip xdotool imagemagick
scripts/build-windows.sh --tests
cmake --preset dev >/dev/null
cmake --build --preset dev --target loader-sim decodump-cli copy-respuestas

version=$(sed -n 's/^project(decodump VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
build=$root/build-windows
work=$build/wine-run
rm -rf "$work" && mkdir -p "$work"
sim_bin=$root/build/bin/loader-sim
linux_cli=$root/build/bin/decodump-cli
responses=$root/samples/Respuestas

export WINEPREFIX=$build/wine WINEDEBUG=-all WINEARCH=win64
# No prompts to install wine's .NET and HTML engines, which nothing here needs.
export WINEDLLOVERRIDES="mscoree,mshtml="
drive_c=$WINEPREFIX/drive_c
# COM1's device: a link that loader-sim points at its pseudo-terminal for each run. Wine's mount
# manager makes dosdevices/com1 from this registry value when its server starts. (Not "com1":
# Windows takes COM1.anything, the record tst_winport waits for, as the port itself.)
link=$build/com1-link
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  echo "test-windows.sh: making the wine prefix $WINEPREFIX"
  wineboot -i >/dev/null 2>&1
fi
wine reg add 'HKLM\Software\Wine\Ports' /v COM1 /d "$link" /f >/dev/null 2>&1
# Ports that open but are no serial ports, for the port class's test (COM10 needs the \\.\ form).
for port in COM2 COM10; do
  wine reg add 'HKLM\Software\Wine\Ports' /v $port /d /dev/null /f >/dev/null 2>&1
done
wineserver -k 2>/dev/null || true
wineserver -w
# Started here, so that what it prints goes to its own log rather than into a program's output.
start_wineserver() {
  wineserver -p >>"$work/wineserver.log" 2>&1
}
start_wineserver
xvfb_pid=
sim_pid=
cleanup() {
  kill $xvfb_pid $sim_pid 2>/dev/null || true
  wineserver -k 2>/dev/null || true
}
trap cleanup EXIT

failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}
pass() {
  echo "ok: $*"
}

# What earlier runs left on drive C:, where this run's dumps go (a new dump would keep them).
rm -rf "$drive_c/Taller" "$drive_c"/{wire,bad,cut,stopped,figure}.*

# The package as an operator unzips it: everything runs from there, with nothing else installed.
unzip -q "$root/dist/decodump-$version-windows-x86_64.zip" -d "$work"
app=$work/decodump-$version-windows-x86_64
win_cli=$app/decodump-cli.exe

# The simulated flash, to compare the dumps with.
"$sim_bin" --no-pty --write-image "$work/image.bin" >/dev/null 2>&1
# Bytes [first, first + count) blocks of the image.
image_blocks() {
  dd if="$work/image.bin" bs=1024 skip="$((10#$1))" count="$2" status=none
}

sim_exit=0
# Starts loader-sim with the arguments on a new pseudo-terminal behind COM1.
start_sim() {
  rm -f "$work/sim.out"
  "$sim_bin" --link "$link" --quiet "$@" >"$work/sim.out" 2>>"$work/loader-sim.log" &
  sim_pid=$!
  for _ in $(seq 100); do
    [ -s "$work/sim.out" ] && return 0
    sleep 0.05
  done
  echo "test-windows.sh: loader-sim did not start; see $work/loader-sim.log" >&2
  exit 1
}
# Waits for loader-sim to end; its exit status in $sim_exit.
sim_wait() {
  sim_exit=0
  wait "$sim_pid" || sim_exit=$?
}

# decodump-cli.exe under wine; its output in $work/cli.out, its exit status in $cli_status.
cli_status=0
win_run() {
  cli_status=0
  timeout 120 wine "$win_cli" --port COM1 "$@" >"$work/cli.out" 2>&1 || cli_status=$?
}
expect_status() {
  local what=$1 want=$2
  if [ "$cli_status" = "$want" ]; then
    pass "$what (exit $want)"
  else
    fail "$what: exit $cli_status, expected $want"
    sed 's/^/    /' "$work/cli.out"
  fi
}
same_as_image() {
  local what=$1 file=$2 first=$3 count=$4
  if cmp -s "$file" <(image_blocks "$first" "$count"); then
    pass "$what: the file is the image's blocks $first to $((10#$first + count - 1))"
  else
    fail "$what: $file differs from the image"
  fi
}

echo "== (a) in-process tests under wine"
for test in "$build"/tests/*.exe; do
  name=$(basename "$test" .exe)
  out=$work/$name.txt
  status=0
  # tst_winport starts loader-sim (Linux) itself on COM1's link.
  (cd "$build/tests" && WINEQT_QPA_PLATFORM=offscreen DECODUMP_WINPORT_SIM=$sim_bin \
    DECODUMP_WINPORT_LINK=$link timeout 300 wine "$name.exe" -o "$(winepath -w "$out"),txt" >/dev/null 2>&1) || status=$?
  totals=$(grep -m1 '^Totals' "$out" 2>/dev/null || echo "no result")
  if [ "$status" = 0 ]; then
    pass "$name: $totals"
  else
    fail "$name (exit $status): $totals"
    grep -A3 '^FAIL' "$out" 2>/dev/null | sed 's/^/    /' || true
  fi
done

echo "== (b) decodump-cli.exe on COM1 (a pseudo-terminal), paced at 115200 baud"
first=0100
count=32
mkdir -p "$work/linux"
start_sim --baud 115200
"$linux_cli" --port "$link" --start $first --count $count --responses "$responses" \
  --output "$work/linux/wire.bin" --trace "$work/linux/wire.trace" --quiet >/dev/null
sim_wait
[ "$sim_exit" = 0 ] || fail "the Linux reference run: loader-sim exit $sim_exit"
# loader-sim plays the loader's side of the Linux build's trace and fails on any other byte.
start_sim --replay "$work/linux/wire.trace"
win_run --start $first --count $count --output 'C:\wire.bin' --quiet
expect_status "the Linux build's dialogue replayed" 0
sim_wait
if [ "$sim_exit" = 0 ]; then
  pass "every byte on the wire as the Linux build sends it"
else
  fail "the bytes on the wire differ from the Linux build's (see $work/loader-sim.log)"
fi
same_as_image "replayed dump" "$drive_c/wire.bin" $first $count

folder=$drive_c/Taller/Señal
mkdir -p "$folder"
start_sim --baud 115200
win_run --start $first --count $count --output 'C:\Taller\Señal\dump.bin' \
  --trace 'C:\Taller\Señal\dump.trace' --map 'C:\Taller\Señal\dump.png'
expect_status "paced dump into C:\\Taller\\Señal" 0
sim_wait
[ "$sim_exit" = 0 ] || fail "loader-sim saw a wrong dialogue in the paced dump"
same_as_image "paced dump" "$folder/dump.bin" $first $count
for file in dump.bin.json dump.trace dump.png; do
  [ -s "$folder/$file" ] && pass "$file written beside the dump" || fail "no $file beside the dump"
done
start_sim --baud 115200
win_run --verify 'C:\Taller\Señal\dump.bin'
expect_status "--verify of the dump" 0
sim_wait

start_sim --baud 115200 --fault-bad-sum 5
win_run --start $first --count $count --output 'C:\bad.bin'
expect_status "a block with a bad sum" 1
sim_wait
grep -q "block 104" "$work/cli.out" && pass "the bad block is named" ||
  fail "the bad block is not named: $(tail -2 "$work/cli.out")"
start_sim --baud 115200
win_run --repair 'C:\bad.bin'
expect_status "--repair of the bad block" 0
sim_wait
same_as_image "repaired dump" "$drive_c/bad.bin" $first $count

start_sim --baud 115200 --fault-vanish-mid 10
win_run --start $first --count $count --output 'C:\cut.bin'
expect_status "the device vanished in the middle of a frame" 4
sim_wait
same_as_image "records kept after the device vanished" "$drive_c/cut.bin" $first 9
# The records are complete, but no run saw the whole total: exit 1 until --verify has read them.
start_sim --baud 115200
win_run --resume --start $first --count $count --output 'C:\cut.bin'
expect_status "--resume after the device vanished" 1
sim_wait
grep -q "records complete" "$work/cli.out" || fail "the resume did not complete the records"
same_as_image "resumed dump" "$drive_c/cut.bin" $first $count
start_sim --baud 115200
win_run --verify 'C:\cut.bin'
expect_status "--verify of the resumed dump" 0
sim_wait

# Ctrl-C: wine turns SIGINT into the console's Ctrl-C for the program.
start_sim --baud 115200
cli_status=0
wine "$win_cli" --port COM1 --start $first --count 128 --output 'C:\stopped.bin' \
  >"$work/cli.out" 2>&1 &
cli_pid=$!
# Once some blocks are in the file.
for _ in $(seq 300); do
  [ "$(stat -c %s "$drive_c/stopped.bin" 2>/dev/null || echo 0)" -ge 16384 ] && break
  sleep 0.1
done
kill -INT "$cli_pid"
wait "$cli_pid" || cli_status=$?
kill "$sim_pid" 2>/dev/null || true
sim_wait
expect_status "Ctrl-C in the middle of a dump" 130
start_sim --baud 115200
win_run --resume --start $first --count 128 --output 'C:\stopped.bin'
expect_status "--resume after Ctrl-C" 1
sim_wait
same_as_image "dump resumed after Ctrl-C" "$drive_c/stopped.bin" $first 128

win_run --list-ports
grep -q '^COM1' "$work/cli.out" && pass "--list-ports lists COM1" ||
  fail "--list-ports: $(head -3 "$work/cli.out")"

echo "== (c) decodump.exe under Xvfb, with the Windows platform plugin"
display=:$((90 + RANDOM % 100))
Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
xvfb_pid=$!
sleep 1
start_sim --baud 115200
(cd "$app" && DISPLAY=$display WINEQT_LOGGING_RULES='decodump.dialogue.debug=true' \
  WINEQT_FORCE_STDERR_LOGGING=1 timeout 120 wine decodump.exe \
  -platform windows:fontengine=freetype >"$work/window.log" 2>&1) &
window_pid=$!
window=
for _ in $(seq 120); do
  window=$(DISPLAY=$display xdotool search --onlyvisible --class 'decodump.exe' 2>/dev/null | head -1) || true
  [ -n "$window" ] && break
  sleep 0.5
done
if [ -z "$window" ]; then
  fail "the window did not open"
else
  sleep 2
  # The port list has the focus at start: the next entry is COM1, which arms the dump.
  DISPLAY=$display xdotool windowfocus --sync "$window" key Down || fail "no key reached the window"
  for _ in $(seq 600); do
    grep -q 'message:' "$work/window.log" && break
    sleep 0.1
  done
  sleep 1
  DISPLAY=$display import -window root "$build/window-wine.png" || fail "no screenshot"
  if grep -q 'message: "Descarga finalizada."' "$work/window.log"; then
    pass "the window dumped through COM1: \"Descarga finalizada.\""
  else
    fail "the window's dump: $(grep 'message:' "$work/window.log" || echo 'no message')"
  fi
  same_as_image "the window's dump" "$app/Descarga/BL_128.bin" 1920 128
  echo "screenshot: build-windows/window-wine.png"
fi
kill "$window_pid" 2>/dev/null || true
wineserver -k 2>/dev/null || true
kill "$sim_pid" 2>/dev/null || true
wait "$sim_pid" 2>/dev/null || true
start_wineserver

# 128 frames of 1032 bytes, 10 bits a byte.
line_time=$(awk 'BEGIN { printf "%.3f", 128 * 1032 * 10 / 115200 }')
echo "== figures: 128 blocks at 115200 baud (line time $line_time s), decodump-cli under wine and on Linux"
# CPU ticks (user + system) this prefix's wineserver has used so far: it runs in a folder named
# for the prefix's device and inode.
wineserver_ticks() {
  local pid folder
  folder=$(printf 'server-%x-%x' $(stat -c '%d %i' "$WINEPREFIX"))
  for pid in $(pgrep wineserver); do
    if [ "$(basename "$(readlink "/proc/$pid/cwd")")" = "$folder" ]; then
      awk '{ print $14 + $15 }' "/proc/$pid/stat"
      return
    fi
  done
  echo 0
}
figure() {
  local what=$1 elapsed cpu transfer
  shift
  start_sim --baud 115200
  /usr/bin/time -o "$work/time.txt" -f '%e %U %S' "$@" >"$work/figure.out" 2>&1
  sim_wait
  elapsed=$(cut -d' ' -f1 "$work/time.txt")
  cpu=$(awk '{ print $2 + $3 }' "$work/time.txt")
  # The transfer's own time, from the summary: the whole run adds start-up and the break-in.
  transfer=$(sed -n 's/^Summary: .*; \([0-9.]*\) s, [0-9.]* KB\/s.*/\1/p' "$work/figure.out")
  awk -v what="$what" -v e="$elapsed" -v t="${transfer:-0}" -v c="$cpu" -v l="$line_time" 'BEGIN {
    printf "%-24s transfer %6.2f s (pace %.3fx), whole run %6.2f s, CPU %.2f s (%.2f ms/block)\n",
           what, t, t / l, e, c, c * 1000 / 128 }'
}
server_before=$(wineserver_ticks)
figure "decodump-cli.exe (wine)" wine "$win_cli" --port COM1 --start 0 --count 128 \
  --output 'C:\figure.bin' --quiet
server_after=$(wineserver_ticks)
awk -v t="$((server_after - server_before))" -v hz="$(getconf CLK_TCK)" \
  'BEGIN { printf "%-24s CPU %.2f s (%.2f ms/block)\n", "  + wineserver", t / hz, t / hz * 1000 / 128 }'
figure "decodump-cli (Linux)" "$linux_cli" --port "$link" --start 0 --count 128 \
  --responses "$responses" --output "$work/figure.bin" --quiet
wineserver -k 2>/dev/null || true

if [ "$failures" -gt 0 ]; then
  echo "test-windows.sh: $failures failed"
  exit 1
fi
echo "test-windows.sh: all passed"
