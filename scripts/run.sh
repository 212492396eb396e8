#!/usr/bin/env bash
# Starts the program from the build tree.
set -euo pipefail
build=${1:-build}
exec "$build/vornel"
