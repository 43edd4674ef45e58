#!/usr/bin/env bash
# Fuzz smoke run: every libFuzzer target for a short time (default 25 s each,
# or the first argument), two at a time. A crash or a sanitizer report fails
# it; a document the property-list target reads differently from plistlib is
# printed and kept in the findings folder but does not: a short random run
# may stumble on a difference the comparison does not list yet, which is a
# lead to follow up, not a fault of the change under test. The replay of the
# seeds and regressions under CTest holds the agreement for every known input.
set -euo pipefail
cd "$(dirname "$0")/.."
FUZZ_ORACLE_REPORT_ONLY=${FUZZ_ORACLE_REPORT_ONLY:-1} FUZZ_JOBS=${FUZZ_JOBS:-2} exec bash scripts/fuzz.sh "${1:-25}"
