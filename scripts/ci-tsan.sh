#!/usr/bin/env bash
# The concurrency tests under the thread sanitizer: every test that carries
# the ctest label "concurrency". Only the executables those tests live in are
# built: they are read from the default build's test list (scripts/test.sh
# builds and lists it first).
set -euo pipefail
cd "$(dirname "$0")/.."

default_build=${CI_DEFAULT_BUILD:-build/default}
if [ ! -d "$default_build" ]; then
  echo "ci-tsan: run scripts/test.sh first (needs $default_build)" >&2
  exit 1
fi

# Executable names of the selected tests, as built by the default build.
executables() {
  ctest --test-dir "$default_build" "$@" --show-only=json-v1 | python3 -c '
import json, os, sys
for t in json.load(sys.stdin).get("tests", []):
    cmd = t.get("command") or []
    if cmd:
        print(os.path.basename(cmd[0]))'
}
mapfile -t targets < <(executables -L concurrency | sort -u)
if [ ${#targets[@]} -eq 0 ] || [ -z "${targets[0]}" ]; then
  echo "ci-tsan: no test carries the label concurrency" >&2
  exit 1
fi
echo "ci-tsan: building ${targets[*]}"

cmake --preset tsan
cmake --build --preset tsan --target "${targets[@]}"
export TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1${TSAN_OPTIONS:+:$TSAN_OPTIONS}"
ctest --preset tsan -L concurrency
