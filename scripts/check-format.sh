#!/usr/bin/env bash
# Checks that every tracked C++ file is laid out as .clang-format says, with
# clang-format-14 (other versions lay some constructs out differently).
# Prints each file that differs and exits 1; changes nothing.  To fix:
#   git ls-files '*.cpp' '*.h' | xargs clang-format-14 -i
set -euo pipefail
cd "$(dirname "$0")/.."

formatter=${CLANG_FORMAT:-clang-format-14}
if ! command -v "$formatter" >/dev/null; then
  echo "$formatter not found: run scripts/install-deps.sh test" >&2
  exit 1
fi

mapfile -t files < <(git ls-files '*.cpp' '*.h')
unformatted=()
for file in "${files[@]}"; do
  "$formatter" --dry-run -Werror "$file" >/dev/null 2>&1 || unformatted+=("$file")
done
if [ ${#unformatted[@]} -gt 0 ]; then
  echo "not formatted as .clang-format says (${#unformatted[@]} of ${#files[@]} files):" >&2
  printf '  %s\n' "${unformatted[@]}" >&2
  exit 1
fi
echo "format: ${#files[@]} files as .clang-format says"
