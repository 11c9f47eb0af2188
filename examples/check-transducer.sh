#!/usr/bin/env bash
# A production-line check of a TR100 transducer, as a station script runs it: read the
# firmware version, set the operating mode, read the mode back. It passes only when every
# request answered and the values are the expected ones. Nothing here reads vardelctl's
# standard error: its exit status and the JSON records on standard output say everything.
#
# Usage: check-transducer.sh PORT [DEVICE.dat] [MODE]
# Needs: vardelctl (or $VARDELCTL) and jq.
set -uo pipefail
port=${1:?usage: check-transducer.sh PORT [DEVICE.dat] [MODE]}
device=${2:-TR100.dat}
mode=${3:-2}
ctl=${VARDELCTL:-vardelctl}

# --stop-on-error: when the version cannot be read, the mode is never written.
records=$("$ctl" --device "$device" --port "$port" --format json --stop-on-error --retries 2 \
  read Wersja write Tryb "$mode" read Tryb 2>/dev/null)
status=$?

# One record per request: the failed ones too, with how they ended.
failed=$(jq -r 'select(.outcome != "ok") | "\(.operation) \(.name): \(.outcome)"' <<<"$records")
if [ $status -ne 0 ]; then
  echo "NIEZALICZONY: vardelctl zakończył się kodem $status"
  [ -n "$failed" ] && echo "$failed"
  exit 1
fi
version=$(jq -r 'select(.operation == "read" and .name == "Wersja" and .outcome == "ok") | .value' <<<"$records")
readBack=$(jq -r 'select(.operation == "read" and .name == "Tryb" and .outcome == "ok") | .value' <<<"$records")
if [ "$readBack" != "$mode" ]; then
  echo "NIEZALICZONY: Tryb odczytany $readBack, zapisany $mode"
  exit 1
fi
echo "ZALICZONY: wersja $version, tryb $readBack"
