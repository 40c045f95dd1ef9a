#!/usr/bin/env bash
# Installs what building and testing Tormel needs on Debian, when missing:
# the given packages, or by default those of the Linux build (systemd among
# them: a suite runs the service under a real one, scripts/systemd-sandbox.sh).
set -euo pipefail

packages=("$@")
# python3, prometheus-node-exporter and prometheus (its promtool) are the
# real clients the tools suite reads tormelctl's output with; man-db renders
# the manual pages; FUSE makes the power-cut file system; systemd runs the
# unit's suite.
[ ${#packages[@]} -eq 0 ] && packages=(g++ cmake ninja-build libgtest-dev clang libclang-rt-dev procps pkg-config
  libfuse3-dev fuse3 systemd python3 prometheus-node-exporter prometheus man-db)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
echo "installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
