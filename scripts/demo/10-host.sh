#!/usr/bin/env bash
# quorvel-host relaying between a scripted browser and a sample application on the bridge socket.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
: "${QV_BUILD_DIR:=$root/build/default}"
export QV_BUILD_DIR
exec python3 "$root/host/demo/scripted_browser.py"
