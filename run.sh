#!/usr/bin/env bash
# The main job on an embedded default: builds decodump, starts the simulated boot loader on a
# pseudo-terminal, points COM1 at it and opens the window; pick COM1 in the port list and watch
# the dump of the simulated flash. Without a display the same dump runs with decodump-cli.
set -euo pipefail
cd "$(dirname "$0")"

usage() {
  cat <<'TXT'
Usage: ./run.sh [--cli] [--baud N] [--mode ack|respfile] [--seed N] [--preset NAME]
  --cli            use the terminal front end even when a display is available
  --baud N         pace the simulated loader at N baud (default 115200; 0 = unpaced)
  --mode MODE      loader dialogue: ack (default) or respfile (response-file path)
  --seed N         seed of the simulated flash image (default 1)
  --preset NAME    preset for the terminal front end: full, firmware, bl64, bl128 (default)
The window's COM1 opens the simulated loader (DECODUMP_COM1); dumps go to build/bin/Descarga/.
TXT
}

cli=0; baud=115200; mode=ack; seed=1; preset=bl128
# The value of the option in $1, which must be there as $2.
value() {
  if [ $# -lt 2 ] || [ -z "$2" ] || [ "${2#--}" != "$2" ]; then
    echo "run.sh: $1 needs a value" >&2; usage >&2; exit 2
  fi
  printf '%s' "$2"
}
while [ $# -gt 0 ]; do
  case "$1" in
    --cli) cli=1 ;;
    --baud) baud=$(value "$@") || exit 2; shift ;;
    --mode) mode=$(value "$@") || exit 2; shift ;;
    --seed) seed=$(value "$@") || exit 2; shift ;;
    --preset) preset=$(value "$@") || exit 2; shift ;;
    -h|--help) usage; exit 0 ;;
    *) echo "run.sh: unknown option $1" >&2; usage >&2; exit 2 ;;
  esac
  shift
done

scripts/install-deps.sh
cmake --preset dev >/dev/null
cmake --build --preset dev --target decodump decodump-cli loader-sim copy-respuestas

bin=build/bin
mkdir -p "$bin/Descarga"
link="$bin/COM1"
sim_args=(--mode "$mode" --seed "$seed" --link "$link" --sessions 0)
[ "$baud" != 0 ] && sim_args+=(--baud "$baud")

"$bin/loader-sim" "${sim_args[@]}" --quiet > "$bin/loader-sim.out" 2> "$bin/loader-sim.log" &
sim=$!
trap 'kill $sim 2>/dev/null || true; wait $sim 2>/dev/null || true' EXIT
for _ in $(seq 50); do
  [ -s "$bin/loader-sim.out" ] && break
  sleep 0.1
done
device=$(head -n 1 "$bin/loader-sim.out")
[ -n "$device" ] || { echo "run.sh: loader-sim did not start; see $bin/loader-sim.log" >&2; exit 1; }
export DECODUMP_COM1="$device"
echo "Simulated boot loader on $device (COM1 -> $device, also linked as $link)."

if [ "$cli" = 0 ] && [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  echo "Opening the window: pick COM1 in the port list to start the dump."
  "$bin/decodump"
else
  echo "No display: dumping preset $preset with decodump-cli into $bin/Descarga/."
  (cd "$bin/Descarga" && ../decodump-cli --port "$device" --preset "$preset")
fi
