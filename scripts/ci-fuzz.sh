#!/usr/bin/env bash
# Fuzz smoke run: every libFuzzer target for a short time (default 25 s each,
# or the first argument), two at a time.
set -euo pipefail
cd "$(dirname "$0")/.."
FUZZ_JOBS=${FUZZ_JOBS:-2} exec bash scripts/fuzz.sh "${1:-25}"
