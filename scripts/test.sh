#!/usr/bin/env bash
# Builds Tormel (preset "default") and runs every test suite.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake --preset default
cmake --build --preset default
ctest --preset default
