#!/usr/bin/env bash
# Fails, naming the files, when a C++ file of the project is not as clang-format (.clang-format)
# writes it. scripts/install-deps.sh installs clang-format.
set -euo pipefail
cd "$(dirname "$0")/.."
files=$(git ls-files '*.cpp' '*.h')
if ! clang-format --dry-run --Werror $files 2>/dev/null; then
  echo "format: these files are not as clang-format writes them (run clang-format -i on them):" >&2
  for f in $files; do clang-format --dry-run --Werror "$f" >/dev/null 2>&1 || echo "  $f" >&2; done
  exit 1
fi
echo "format: every C++ file is as clang-format writes it"
