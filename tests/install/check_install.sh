#!/usr/bin/env bash
# Installs the build into a temporary prefix and checks what lands there: the programs,
# the sample devices, the desktop entry, icon, metainfo and manual pages, that the desktop
# entry and metainfo validate, and that the installed vardelctl runs on an installed device.
set -euo pipefail
build=$1
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
cmake --install "$build" --prefix "$prefix" >/dev/null
id=io.github.vardel.Vardel
expected="bin/vardel
bin/vardel-dev
bin/vardel-sim
bin/vardelctl
share/applications/$id.desktop
share/doc/vardel/changelog.gz
share/doc/vardel/copyright
share/icons/hicolor/scalable/apps/$id.svg
share/man/man1/vardel-dev.1.gz
share/man/man1/vardel-sim.1.gz
share/man/man1/vardel.1.gz
share/man/man1/vardelctl.1.gz
share/metainfo/$id.metainfo.xml
share/vardel/devices/TR100.dat
share/vardel/devices/TR100F.dat
share/vardel/devices/TR100F.procedure.json"
actual=$(cd "$prefix" && find . -type f | sed 's|^\./||' | LC_ALL=C sort)
if [ "$actual" != "$expected" ]; then
  echo "installed files differ:"; diff <(echo "$expected") <(echo "$actual") || true
  exit 1
fi
desktop-file-validate "$prefix/share/applications/$id.desktop"
appstreamcli validate --no-net --pedantic "$prefix/share/metainfo/$id.metainfo.xml" >/dev/null
# Whole outputs first: grep -q leaving early would break the pipe under pipefail.
version=$("$prefix/bin/vardelctl" --version)
list=$("$prefix/bin/vardelctl" --device TR100.dat list)
dump=$("$prefix/bin/vardel-dev" dump "$prefix/share/vardel/devices/TR100.dat")
[[ $version == "vardelctl "* ]] || { echo "vardelctl --version: $version"; exit 1; }
grep -q '^Pomiary' <<<"$list" || { echo "the installed device is not listed"; exit 1; }
grep -q '"Temperatura"' <<<"$dump" || { echo "vardel-dev dump printed no Temperatura"; exit 1; }
# Built hardened, installed without the compiler's notes (what lintian asks of a package).
for program in vardel vardelctl vardel-dev; do
  dynamic=$(readelf -d "$prefix/bin/$program")
  grep -q 'BIND_NOW' <<<"$dynamic" || { echo "$program is not linked with -z now"; exit 1; }
  sections=$(readelf -S "$prefix/bin/$program")
  ! grep -q '\.comment' <<<"$sections" || { echo "$program keeps its .comment section"; exit 1; }
done
echo "install: $(echo "$expected" | wc -l) files in place, validated, vardelctl runs"
