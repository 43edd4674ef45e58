#!/usr/bin/env bash
# Builds the libFuzzer targets (the "fuzz" preset: clang, address and
# undefined-behaviour sanitizers) and runs each one for SECONDS (default 600).
#
#   scripts/fuzz.sh [SECONDS] [TARGET ...]
#
# Environment: FUZZ_JOBS  targets run side by side (default 1)
#              FUZZ_BUILD the build folder (default build/fuzz, the preset's)
#              FUZZ_ORACLE_REPORT_ONLY=1  a plistlib difference is reported
#                         and kept as a finding but does not fail the run
#
# Each target starts from its seed corpus (fuzz/corpus/<target>) and the
# inputs of past findings (fuzz/regressions/<target>); what it learns goes to
# <build>/fuzz-work/<target>, findings to <build>/fuzz-findings/<target>/.
# A summary line per target gives executions, coverage and the outcome; the
# script fails when any target finds something. The property-list target's
# learned corpus is also compared with Python's plistlib afterwards.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

seconds=${1:-600}
shift || true
jobs=${FUZZ_JOBS:-1}
build=${FUZZ_BUILD:-build/fuzz}

if [ ! -d "$build" ] || [ "$build" = build/fuzz ]; then
  cmake --preset fuzz >/dev/null
fi
cmake --build "$build" --target vxfuzz

if [ $# -gt 0 ]; then
  targets=("$@")
else
  mapfile -t targets < <(grep -v '^$' "$build/fuzz-targets.txt")
fi

# The targets log through the foundation library's log under HOME; a plain
# file where the log folder belongs keeps the log closed, so long runs do not
# fill the disk with the reader's expected complaints.
fuzz_home=$(mktemp -d "${TMPDIR:-/tmp}/vxfuzz-home-XXXXXX")
trap 'rm -rf "$fuzz_home"' EXIT
mkdir -p "$fuzz_home/Library/Logs"
: > "$fuzz_home/Library/Logs/VextraAudio"

run_one() {
  local t=$1
  local work="$build/fuzz-work/$t" findings="$build/fuzz-findings/$t"
  local log="$build/fuzz-logs/$t.log"
  mkdir -p "$work" "$findings" "$(dirname "$log")"
  local dirs=("$work" "fuzz/corpus/$t")
  [ -d "fuzz/regressions/$t" ] && dirs+=("fuzz/regressions/$t")
  local rc=0
  HOME="$fuzz_home" ASAN_OPTIONS="detect_leaks=1:allocator_may_return_null=1" \
    UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1" \
    "$build/fuzz/$t" -max_total_time="$seconds" -timeout=20 -rss_limit_mb=2048 \
    -print_final_stats=1 -close_fd_mask=3 -artifact_prefix="$findings/" "${dirs[@]}" \
    >"$log" 2>&1 || rc=$?
  local execs cov ft corp
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  cov=$(grep -o 'cov: [0-9]*' "$log" | tail -1 | cut -d' ' -f2)
  ft=$(grep -o 'ft: [0-9]*' "$log" | tail -1 | cut -d' ' -f2)
  corp=$(grep -o 'corp: [0-9]*' "$log" | tail -1 | cut -d' ' -f2)
  local outcome=clean
  if [ $rc -ne 0 ]; then
    outcome="FAILED (exit $rc; see $log and $findings)"
  elif [ "$t" = fuzz_plist_xml ]; then
    # What the property-list fuzzer learned is also read by Python's plistlib:
    # a document the two read differently, beyond the differences listed in
    # the script, is a finding too (copied to the findings folder).
    local oracle="$build/fuzz-logs/$t.oracle.log"
    if ! python3 tests/platform_cf/plist_oracle.py "$build/tests/platform_cf/plist_oracle_driver" \
      --files "$work" >"$oracle" 2>&1; then
      grep -o '^FAULT read [^:]*' "$oracle" | cut -d' ' -f3 | xargs -r cp -t "$findings"
      if [ "${FUZZ_ORACLE_REPORT_ONLY:-0}" = 1 ]; then
        outcome="DIFFERS from plistlib (reported only; see $oracle and $findings)"
      else
        rc=1
        outcome="FAILED (plistlib reads differently; see $oracle and $findings)"
      fi
    else
      outcome="clean ($(tail -1 "$oracle"))"
    fi
  fi
  printf '%-28s %6ss  execs %-10s cov %-6s ft %-6s corpus %-5s %s\n' "$t" "$seconds" \
    "${execs:-?}" "${cov:-?}" "${ft:-?}" "${corp:-?}" "$outcome"
  [ $rc -eq 0 ]
}

status=0
pids=()
for t in "${targets[@]}"; do
  if [ ! -x "$build/fuzz/$t" ]; then
    echo "fuzz: no such target: $t" >&2
    status=1
    continue
  fi
  run_one "$t" &
  pids+=($!)
  if [ ${#pids[@]} -ge "$jobs" ]; then
    wait "${pids[0]}" || status=1
    pids=("${pids[@]:1}")
  fi
done
for p in "${pids[@]}"; do
  wait "$p" || status=1
done
exit $status
