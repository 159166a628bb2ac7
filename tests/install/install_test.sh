#!/bin/sh
# Installs the build into a temporary prefix and uses it as a user would: a C program built with pkg-config and one
# built with CMake's find_package(vexo) import a DBC file (so the scripts must lie beside the installed library), lua5.1
# loads the module from LIBDIR/lua/5.1, the library loaded through that link still finds its scripts, and the installed
# tool decodes a frame, also after the whole prefix has been moved.
#   usage: install_test.sh BUILD_DIR SOURCE_DIR
set -eu
build=$1
source=$2
work=$(mktemp -d "${TMPDIR:-/tmp}/vexo-install.XXXXXX")
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix
dbc=$source/examples/vehicle.dbc

fail() { echo "FAILED: $*" >&2; exit 1; }

cmake --install "$build" --prefix "$prefix" > "$work/install.log" || { cat "$work/install.log"; fail "cmake --install"; }
pc=$(find "$prefix" -name vexo.pc)
[ -n "$pc" ] || fail "no vexo.pc installed"
libdir=$(dirname "$(dirname "$pc")")
for f in "$libdir/libvexo.so" "$libdir/imports.lua" "$libdir/exports.lua" "$libdir/vexo/dbc_import.lua" \
         "$libdir/lua/5.1/Vexo.so" "$libdir/cmake/vexo/vexoConfig.cmake" "$prefix/include/vexo/vexo.h" \
         "$prefix/bin/vexo"; do
    [ -e "$f" ] || fail "missing $f"
done
objdump -p "$libdir/libvexo.so" | grep -q 'SONAME *libvexo\.so\.[0-9]' || fail "libvexo.so has no versioned SONAME"
[ -L "$libdir/libvexo.so" ] && [ -f "$(readlink -f "$libdir/libvexo.so")" ] || fail "libvexo.so is no link to the library"

cat > "$work/count.c" <<'CODE'
/* Imports a database file and prints how many frames it holds. */
#include <stdio.h>
#include <string.h>
#include "vexo/vexo.h"

static int32_t show(void *context, const VexoMessage *message)
{
    const VexoChar *t = message->text;
    (void)context;
    if (message->second == VEXO_MESSAGE_ERROR) {
        for (; *t != 0; ++t)
            fputc(*t < 0x80 ? (int)*t : '?', stderr);
        fputc('\n', stderr);
    }
    return 0;
}

int main(int argc, char **argv)
{
    VexoChar path[4096];
    VexoNode *db = NULL;
    VexoEnumerator *frames = NULL;
    uint32_t count = 0;
    size_t i, n = argc > 1 ? strlen(argv[1]) : 0;
    if (n == 0 || n >= sizeof path / sizeof path[0] || Vexo_create(NULL, &db) != S_OK)
        return 2;
    for (i = 0; i <= n; ++i)
        path[i] = (unsigned char)argv[1][i];
    if (Vexo_importFile(db, NULL, path, NULL, NULL, show) != S_OK)
        return 1;
    Vexo_enumFrames(db, &frames);
    Vexo_enumeratorGetCount(frames, &count);
    printf("%u frames\n", (unsigned)count);
    Vexo_enumeratorDestroy(frames);
    Vexo_destroy(db);
    return 0;
}
CODE

# pkg-config
export PKG_CONFIG_PATH="$libdir/pkgconfig"
# shellcheck disable=SC2046  # pkg-config prints a list of flags
cc -std=c99 -Wall -Werror -o "$work/count-pc" "$work/count.c" $(pkg-config --cflags --libs vexo) \
    -Wl,-rpath,"$libdir" || fail "building with pkg-config"
[ "$("$work/count-pc" "$dbc")" = "12 frames" ] || fail "the pkg-config program did not import the example"
[ "$(pkg-config --modversion vexo)" = "$(sed -n 's/^project(vexo VERSION \([0-9.]*\).*/\1/p' "$source/CMakeLists.txt")" ] \
    || fail "pkg-config version"

# CMake package
mkdir -p "$work/user"
cp "$work/count.c" "$work/user/"
cat > "$work/user/CMakeLists.txt" <<'CODE'
cmake_minimum_required(VERSION 3.16)
project(user C)
find_package(vexo 0.1 REQUIRED)
add_executable(count count.c)
target_link_libraries(count PRIVATE vexo::vexo)
CODE
cmake -S "$work/user" -B "$work/user/build" -DCMAKE_PREFIX_PATH="$prefix" > "$work/user.log" 2>&1 \
    && cmake --build "$work/user/build" >> "$work/user.log" 2>&1 || { cat "$work/user.log"; fail "building with CMake"; }
[ "$("$work/user/build/count" "$dbc")" = "12 frames" ] || fail "the CMake program did not import the example"

# Lua 5.1 finds the module where it is installed, with its helper module.
if command -v lua5.1 > /dev/null; then
    out=$(LUA_CPATH="$libdir/lua/5.1/?.so" lua5.1 - "$dbc" <<'CODE'
local Vexo = require "Vexo"
local native = require "Vexo.native"
local db = Vexo.createDb(native.utf16("installed"))
local raw = Vexo.importDBC(native.utf16(arg[1]))
print(type(db) .. " " .. raw.tag)
CODE
    ) || fail "lua5.1 cannot load the installed module"
    [ "$out" = "userdata db" ] || fail "lua5.1 module: $out"
fi

# The library loaded by the module's link name finds the scripts beside the library file.
if command -v python3 > /dev/null; then
    python3 - "$libdir/lua/5.1/Vexo.so" "$dbc" <<'CODE' || fail "the library loaded through Vexo.so finds no scripts"
import ctypes, sys
lib = ctypes.CDLL(sys.argv[1])
db = ctypes.c_void_p()
assert lib.Vexo_create(None, ctypes.byref(db)) == 0
path = (sys.argv[2] + '\0').encode('utf-16-le')
sys.exit(0 if lib.Vexo_importFile(db, None, path, None, None, None) == 0 else 1)
CODE
fi

# The tool, in place and after the prefix moved.
frame='(1.5) can0 100#401F820000000000'
expected='(1.5) can0 100 EngineData'
[ "$(echo "$frame" | "$prefix/bin/vexo" decode --frames "$dbc")" = "$expected" ] || fail "the installed tool"
mv "$prefix" "$work/moved"
[ "$(echo "$frame" | "$work/moved/bin/vexo" decode --frames "$dbc")" = "$expected" ] || fail "the moved tool"
echo "installed, built against and used: $libdir"
