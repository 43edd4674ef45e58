#!/usr/bin/env bash
# The concurrency tests under the thread sanitizer. Tests join this run by
# carrying the ctest label "concurrency". Only the executables those tests
# live in are built: they are read from the default build's test list
# (scripts/test.sh builds and lists it first).
set -euo pipefail
cd "$(dirname "$0")/.."

default_build=build/default
if [ ! -d "$default_build" ]; then
  echo "ci-tsan: run scripts/test.sh first (needs $default_build)" >&2
  exit 1
fi

# Executable names of the labelled tests, as built by the default build.
mapfile -t targets < <(ctest --test-dir "$default_build" -L concurrency --show-only=json-v1 |
  python3 -c '
import json, os, sys
seen = []
for t in json.load(sys.stdin).get("tests", []):
    cmd = t.get("command") or []
    if cmd:
        name = os.path.basename(cmd[0])
        if name not in seen:
            seen.append(name)
print("\n".join(seen))')
if [ ${#targets[@]} -eq 0 ] || [ -z "${targets[0]}" ]; then
  echo "ci-tsan: no test carries the label concurrency" >&2
  exit 1
fi
echo "ci-tsan: building ${targets[*]}"

cmake --preset tsan
cmake --build --preset tsan --target "${targets[@]}"
export TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1${TSAN_OPTIONS:+:$TSAN_OPTIONS}"
ctest --preset tsan -L concurrency
