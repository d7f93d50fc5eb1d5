#!/usr/bin/env bash
# Configures and builds one preset (default when none is named).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
preset=${1:-default}
cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset"
