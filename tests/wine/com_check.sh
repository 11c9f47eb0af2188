#!/usr/bin/env bash
# vardelctl.exe from the unzipped Windows folder against the Linux vardel-sim, through a COM
# port Wine maps onto the simulator's pseudo-terminal: a read, a write read back, a timeout,
# a bad CRC, an exception, and Ctrl-C ending an endless monitor as on Linux (log saved, the
# statistics printed, exit 130); then RTU over TCP to the simulator as a serial device server,
# and a refused connection saying why.
# Usage: com_check.sh WINDOWS_FOLDER LINUX_BIN
set -uo pipefail
folder=$1 linux=$2
here=$(cd "$(dirname "$0")" && pwd)
run=$here/run
work=$(mktemp -d)
sim_pid=
trap '[ -n "$sim_pid" ] && kill $sim_pid 2>/dev/null; rm -rf "$work"' EXIT
export WINEPREFIX=${WINEPREFIX:-${XDG_CACHE_HOME:-$HOME/.cache}/vardel/wineprefix}
"$run" cmd /c exit >/dev/null 2>&1 # makes the prefix on a first run
failed=0
check() { # name, expected, actual
  if [ "$2" = "$3" ]; then echo "PASS   : $1"; else
    echo "FAIL!  : $1: expected [$2], got [$3]"
    failed=1
  fi
}
simulate() { # the simulator's options; maps it to COM7
  [ -n "$sim_pid" ] && kill $sim_pid 2>/dev/null && wait $sim_pid 2>/dev/null
  rm -f "$work/tty"
  "$linux/vardel-sim" --device "$folder/TR100F.dat" --pty "$work/tty" "$@" >"$work/sim.log" 2>&1 &
  sim_pid=$!
  for _ in $(seq 50); do [ -e "$work/tty" ] && break; sleep 0.1; done
  ln -sfn "$(readlink -f "$work/tty")" "$WINEPREFIX/dosdevices/com7"
}
ctl() {
  (cd "$folder" && "$run" vardelctl.exe --port COM7 --device TR100F.dat "$@" >"$work/out" 2>"$work/err")
  local status=$?
  tr -d '\r' <"$work/out"
  return $status
}

simulate
check "read R0" "0    R0         1000" "$(ctl read R0)"
check "write N100 and read it back" "300  N100:      4321|300  N100       4321" \
  "$(ctl write N100 4321 read N100 | paste -sd'|')"
check "a typed \\\\.\\COM7 is the same port" "0    R0         1000" \
  "$(cd "$folder" && "$run" vardelctl.exe --port '\\.\COM7' --device TR100F.dat read R0 | tr -d '\r')"

# An FTDI adapter on COM7 as its driver shows it in the registry, with its default 16 ms.
key='HKLM\SYSTEM\CurrentControlSet\Enum\FTDIBUS\VID_0403+PID_6001+A9X1Y2ZA\0000\Device Parameters'
"$run" reg add "$key" /v PortName /t REG_SZ /d COM7 /f >/dev/null 2>&1
"$run" reg add "$key" /v LatencyTimer /t REG_DWORD /d 16 /f >/dev/null 2>&1
ctl read R0 >/dev/null
check "the adapter's latency timer named" 1 "$(tr -d '\r' <"$work/err" | grep -c '^Adapter USB portu COM7 oddaje odebrane bajty co 16 ms: .*Czasomierz opóźnienia (ms): 1.$')"
"$run" reg delete 'HKLM\SYSTEM\CurrentControlSet\Enum\FTDIBUS' /f >/dev/null 2>&1

simulate --drop 1
ctl read R0 >/dev/null
check "no reply: exit 3" 3 $?
check "no reply: why" "0 R0: brak odpowiedzi w ciągu 40 ms" "$(tr -d '\r' <"$work/err")"

simulate --bad-crc 1
ctl read R0 >/dev/null
check "bad CRC" "0 R0: błędne CRC" "$(tr -d '\r' <"$work/err")"

simulate --exception 0:2
ctl read R0 >/dev/null
check "exception" "0 R0: wyjątek 2 (niedozwolony adres danych)" "$(tr -d '\r' <"$work/err")"

# RS-485 direction asked for on a port Wine maps onto a pseudo-terminal: the reads go on.
simulate
ctl --rs485 read R0 >/dev/null
check "--rs485: the read still answered" 0 $?

simulate
(cd "$folder" && exec "$run" vardelctl.exe --port COM7 --device TR100F.dat --log "$work/ctl.log" \
  monitor R0 200 0 >"$work/out" 2>"$work/err") &
ctl_pid=$!
sleep 4
kill -INT $ctl_pid
wait $ctl_pid
check "Ctrl-C: exit 130" 130 $?
check "Ctrl-C: the statistics" 1 "$(grep -c '^żądania [1-9]' "$work/err")"
check "Ctrl-C: the log saved" 1 "$([ -s "$work/ctl.log" ] && echo 1 || echo 0)"

# The simulator as a serial device server on 127.0.0.1: the same frames over TCP.
kill $sim_pid 2>/dev/null && wait $sim_pid 2>/dev/null
"$linux/vardel-sim" --device "$folder/TR100F.dat" --tcp 0 >"$work/sim.log" 2>&1 &
sim_pid=$!
tcp=
for _ in $(seq 50); do
  tcp=$(head -n 1 "$work/sim.log" 2>/dev/null)
  case $tcp in tcp:*) break ;; esac
  sleep 0.1
done
tcpctl() {
  (cd "$folder" && "$run" vardelctl.exe --port "$tcp" --device TR100F.dat "$@" >"$work/out" 2>"$work/err")
  local status=$?
  tr -d '\r' <"$work/out"
  return $status
}
check "read R0 over TCP" "0    R0         1000" "$(tcpctl read R0)"
check "write N100 over TCP and read it back" "300  N100:      4321|300  N100       4321" \
  "$(tcpctl write N100 4321 read N100 | paste -sd'|')"
kill $sim_pid 2>/dev/null && wait $sim_pid 2>/dev/null
sim_pid=
tcpctl read R0 >/dev/null
check "a refused connection: exit 1" 1 $?
check "a refused connection: why" 1 "$(tr -d '\r' <"$work/err" | grep -c 'połączenie odrzucone')"
exit $failed
