#!/usr/bin/env bash
# Builds the packages and checks them without installing anything into this
# machine's system: the Debian package (contents, control data, what lands
# where once unpacked, lintian, the unit's exposure and syntax), then the
# Windows zip from the windows build folder when the Windows build has been
# made (scripts/windows-test.sh).
#   scripts/package-test.sh [BUILD]   the package from the built folder BUILD;
#   by default the release preset's, built here. CI gives the folder it built
#   with Debian's packaging flags.
set -euo pipefail
cd "$(dirname "$0")/.."
root_dir=$PWD
max_exposure=2.5

bash scripts/install-deps.sh cmake ninja-build g++ dpkg-dev lintian systemd man-db

fail() { echo "package-test: $*" >&2; exit 1; }

build=${1:-}
if [ -z "$build" ]; then
  build=build/release
  cmake --preset release >/dev/null
  cmake --build --preset release
fi
(cd "$build" && rm -f tormel_*.deb && cpack -G DEB >/dev/null)
deb=$(ls "$build"/tormel_*_amd64.deb)
echo "== $deb"
dpkg-deb -I "$deb"
contents=$(dpkg-deb -c "$deb" | awk '{print $NF}')
for path in ./usr/bin/tormel ./usr/bin/tormelctl ./usr/bin/tormel-receiver ./lib/systemd/system/tormel.service \
            ./etc/comm/SOCKIO.INI ./usr/share/doc/tormel/README.md ./usr/share/doc/tormel/examples/SOCKIO.INI \
            ./usr/share/doc/tormel/copyright ./usr/share/doc/tormel/changelog.gz \
            ./lib/systemd/system/tormel-metrics.service ./lib/systemd/system/tormel-metrics.timer \
            ./usr/share/man/man8/tormel.8.gz ./usr/share/man/man8/tormelctl.8.gz \
            ./usr/share/man/man1/tormel-receiver.1.gz ./usr/share/man/man5/SOCKIO.INI.5.gz; do
  grep -qx -- "$path" <<<"$contents" || fail "$deb lacks $path"
done
! grep -q '^\./usr/local' <<<"$contents" || fail "$deb holds files under /usr/local"

scratch=$(mktemp -d /tmp/tormel-package.XXXXXX)
trap 'rm -rf "$scratch"' EXIT
dpkg-deb -e "$deb" "$scratch/control"
grep -qx /etc/comm/SOCKIO.INI "$scratch/control/conffiles" || fail "/etc/comm/SOCKIO.INI is no configuration file"
dpkg-deb -x "$deb" "$scratch/root"
echo "== unpacked: what lands where"
(cd "$scratch/root" && find . -mindepth 1 -printf '%M %u:%g %9s %p\n' | sort -k4)

echo "== lintian"
findings=$(lintian --fail-on error "$deb" 2>&1 | grep -v 'running with root privileges' || true)
[ -z "$findings" ] || echo "$findings"
lintian --fail-on error "$deb" >/dev/null 2>&1 || fail "lintian reports errors"
! grep -q -e 'no-manual-page' -e 'manpage-has' -e 'groff-message' <<<"$findings" ||
  fail "lintian finds fault with the manual pages"

echo "== the manual pages"
for page in "$scratch"/root/usr/share/man/man*/*.gz; do
  warnings=$(MANROFFSEQ='' MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null)
  [ -z "$warnings" ] || fail "$(basename "$page"): $warnings"
done
echo "man --warnings: clean"

echo "== the unit"
unit="$scratch/root/lib/systemd/system/tormel.service"
grep -q '^ExecStart=/usr/bin/tormel ' "$unit" || fail "the unit does not start /usr/bin/tormel"
threshold=$(awk -v e=$max_exposure 'BEGIN { print int(e * 10 + 0.5) }')
systemd-analyze security --offline=true --threshold="$threshold" "$unit" | tail -1 ||
  fail "exposure above $max_exposure"
# verify wants the program at the unit's path: a copy of the unit names the
# unpacked one.
mkdir "$scratch/verify"
for name in tormel.service tormel-metrics.service tormel-metrics.timer; do
  sed "s|^ExecStart=/usr/bin/|ExecStart=$scratch/root/usr/bin/|" "$scratch/root/lib/systemd/system/$name" \
    >"$scratch/verify/$name"
done
# The manual pages the units name are the package's, not yet installed here.
verify=$(cd "$scratch/verify" && systemd-analyze verify --man=no tormel.service tormel-metrics.timer 2>&1) || true
[ -z "$verify" ] || fail "systemd-analyze verify: $verify"
echo "systemd-analyze verify: clean"
grep -q '^ExecStart=/usr/bin/tormelctl metrics --textfile /var/lib/prometheus/node-exporter$' \
  "$scratch/root/lib/systemd/system/tormel-metrics.service" || fail "the metrics unit does not run /usr/bin/tormelctl"

if [ -f build/windows/CMakeCache.txt ]; then
  cmake --build --preset windows
  (cd build/windows && rm -f tormel-*-win64.zip && cpack -G ZIP >/dev/null)
  zip=$(ls build/windows/tormel-*-win64.zip)
  echo "== $zip"
  listing=$(cmake -E tar tf "$zip")
  echo "$listing"
  top=$(basename "$zip" .zip)
  for name in tormel.exe tormelctl.exe tormel-receiver.exe SOCKIO.INI README.md INSTALL.txt; do
    grep -qx -- "$top/$name" <<<"$listing" || fail "$zip lacks $name"
  done
  (cd "$scratch" && cmake -E tar xf "$root_dir/$zip" "$top/INSTALL.txt")
  ! grep -q $'[^\r]$' "$scratch/$top/INSTALL.txt" || fail "INSTALL.txt has lines without CR LF"
fi
echo "package-test: all checks passed"
