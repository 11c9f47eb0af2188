#!/usr/bin/env bash
# The example station script against the simulator: a good device passes; a silent one and
# one that refuses the write fail, say why from stdout's records alone, and a silent device
# never gets the write. Usage: check_transducer.sh BUILD_DIR SOURCE_DIR
set -uo pipefail
bin=$1/bin
script=$2/examples/check-transducer.sh
export VARDELCTL=$bin/vardelctl
work=$(mktemp -d)
trap 'kill $(jobs -p) 2>/dev/null; wait 2>/dev/null; rm -rf "$work"' EXIT
failures=0
check() { # what, expected, actual
  if [ "$2" = "$3" ]; then echo "ok: $1"; else echo "FAIL: $1: expected '$2', got '$3'"; failures=$((failures + 1)); fi
}
# Runs the script against a simulator with the given faults; sets out, status and traffic.
run() {
  local name=$1; shift
  "$bin/vardel-sim" --device "$bin/TR100.dat" --pty "$work/$name" -v "$@" >/dev/null 2>"$work/$name.traffic" &
  local sim=$!
  for _ in $(seq 50); do [ -e "$work/$name" ] && break; sleep 0.1; done
  out=$("$script" "$work/$name" "$bin/TR100.dat" 3 2>"$work/$name.err")
  status=$?
  kill $sim; wait $sim 2>/dev/null
  traffic=$(cat "$work/$name.traffic")
}

run good
check "a good device passes" 0 "$status"
check "what it says" "ZALICZONY: wersja 12, tryb 3" "$out"
check "the script itself says nothing on stderr" "" "$(cat "$work/good.err")"

run silent --drop 1
check "a silent device fails" 1 "$status"
check "the failed reads, from the records" 3 "$(grep -c '^read Wersja: brak odpowiedzi' <<<"$out")"
check "the write never went out" 0 "$(grep -c '^<- \$F706' <<<"$traffic")"

run refusing --exception 200:2
check "a refused write fails" 1 "$status"
check "why" 1 "$(grep -c '^write Tryb: wyjątek 2' <<<"$out")"
check "nothing read after it" 0 "$(grep -c '^<- \$F70300C8' <<<"$traffic")"

[ $failures -eq 0 ]
