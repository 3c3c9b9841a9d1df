#!/usr/bin/env bash
# A fresh machine to a running velmor: install dependencies, build, start.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install_deps.sh
scripts/build.sh
exec build/velmor --help
