#!/usr/bin/env bash
# Checks that an interpreter executable exports every Lua API function libvexo.so imports, so that inside that
# interpreter each call binds to the interpreter's own Lua (symbol interposition) and never to the liblua5.1 the library
# is linked with. Usage: check_host_exports.sh path/to/libvexo.so path/to/interpreter
set -euo pipefail
lib=$1 interpreter=$2
imported=$(nm -D --undefined-only "$lib" | awk '{print $2}' | sed 's/@.*//' | grep -E '^lua(L)?_' | sort -u)
exported=$(nm -D --defined-only "$interpreter" | awk '{print $3}' | sed 's/@.*//' | sort -u)
missing=$(comm -23 <(echo "$imported") <(echo "$exported"))
if [ -n "$missing" ]; then
    echo "$interpreter does not export:"
    echo "$missing"
    exit 1
fi
echo "$(echo "$imported" | wc -l) Lua functions imported by $(basename "$lib"), all exported by $interpreter"
