#!/usr/bin/env bash
# Installs what is missing, builds, and runs TavikServer on the simulated
# platform: a sysroot in ./run/root with the module's files and sbin stubs,
# the GPIO simulator for the LED and the reset button, and the printer
# simulator once it exists. Ctrl-C stops everything.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
scripts/build.sh
BUILD_DIR=${TAVIK_BUILD_DIR:-build}
ROOT="$PWD/run/root"

# The settings in run/root/flash survive from run to run, as on the module;
# remove run/root for a factory-fresh start.
"$BUILD_DIR/sim/sysroot/tavik-sysroot" "$ROOT"
export TAVIK_ROOT="$ROOT"

pids=()
stop_simulators() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
}
trap stop_simulators EXIT
trap 'exit 130' INT TERM

# Starts a simulator in the background and waits for its device socket.
start_simulator() {
  local name=$1 socket=$2
  shift 2
  "$@" >"$ROOT/sim/$name.out" 2>&1 &
  pids+=($!)
  for _ in $(seq 100); do
    [ -S "$socket" ] && return 0
    sleep 0.05
  done
  echo "run: $name did not come up, see $ROOT/sim/$name.out" >&2
  exit 1
}

start_simulator gpio "$ROOT/dev/gpio" "$BUILD_DIR/sim/gpio/tavik-gpio-sim" "$ROOT"

# ---- PRINTER SIMULATOR ------------------------------------------------------
# The printer simulator starts here once sim/printer/ builds its program: it
# serves $ROOT/dev/usblp0 with the identity that $ROOT/proc/bus/usb/devices
# shows (Vendor=0016 ProdID=0101, TAVIK TC-D200).
PRINTER_SIM="$BUILD_DIR/sim/printer/tavik-printer-sim"
if [ -x "$PRINTER_SIM" ]; then
  start_simulator printer "$ROOT/dev/usblp0" "$PRINTER_SIM" --root "$ROOT"
fi
# ---- END OF PRINTER SIMULATOR -----------------------------------------------

TAVIKCTL="$PWD/$BUILD_DIR/tools/tavikctl/tavikctl"
CARDCOMPOSE="$PWD/$BUILD_DIR/tools/cardcompose/cardcompose"
cat <<MSG

TavikServer is starting on the simulated module in $ROOT
with the virtual card printer on its USB port. Connect like this, from
another terminal:

  $TAVIKCTL discover
  $TAVIKCTL --host 127.0.0.1 status
  $TAVIKCTL --host 127.0.0.1 open cardin move 0 cardout close
  $CARDCOMPOSE -o /tmp/card.prn -p /tmp/card-preview.png
  $TAVIKCTL --host 127.0.0.1 print /tmp/card.prn

  ports           spool 9100 (raw print images), SDK 11110 (TVNP over TLS),
                  admin 11111 (TLS), discovery 11119/udp
  printed cards   $ROOT/sim/printer/cards/ (one PNG per side and panel)
  printer         $ROOT/sim/printer/transcript.log; control: echo state | nc -NU $ROOT/sim/printer.ctl
  settings        $ROOT/flash (tavik_service, tavik_ocp, tavik_user; admin password "pelun")
  shell commands  $ROOT/sim/commands.log (reboot, insmod, ifconfig, ... are stubs)
  status LED      $ROOT/sim/gpio.log
  reset button    echo press | nc -NU $ROOT/sim/gpio.ctl   (then: release, state, leds)

Ctrl-C stops everything.

MSG

status=0
"$BUILD_DIR/server/TavikServer" -c || status=$?
exit "$status"
