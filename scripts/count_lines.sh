#!/usr/bin/env bash
# Counts non-blank lines of the code and of the tests, and their ratio.
#   code:  the library (core model codec decode encode io lua diag include), its scripts
#          and style sheets, the tool (cli) and the Python package (python/vexo)
#   tests: tests/ and the fuzz harnesses (fuzz/, seeds not counted)
# usage: scripts/count_lines.sh
set -euo pipefail
cd "$(dirname "$0")/.."

count() { # files from stdin -> non-blank lines
    local total=0
    while IFS= read -r file; do
        total=$((total + $(grep -cv '^[[:space:]]*$' "$file" || true)))
    done
    echo "$total"
}
sources='\.(c|cpp|h|def|lua|xsl|py|sh)$'
code=$(git ls-files core model codec decode encode io lua diag include cli python/vexo | grep -E "$sources" | count)
tests=$(git ls-files tests fuzz | grep -E "$sources" | grep -v '^fuzz/seeds/' | count)
echo "code lines:  $code"
echo "test lines:  $tests"
awk -v t="$tests" -v c="$code" 'BEGIN { printf "tests/code:  %.2f\n", t / c }'
