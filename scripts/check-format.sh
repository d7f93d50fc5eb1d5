#!/usr/bin/env bash
# Fails when a C, C++ or Objective-C++ file is not formatted by .clang-format.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
mapfile -t files < <(git ls-files -co --exclude-standard -- '*.h' '*.cc' '*.cpp' '*.mm' | grep -v -E '^(build|node_modules)/' || true)
((${#files[@]})) || exit 0
clang-format --dry-run --Werror "${files[@]}"
echo "format: ${#files[@]} files clean"
