#!/usr/bin/env bash
# Installs the library into PREFIX and builds a C program from what was
# installed, as an outside program is built: the header and the flags
# through pkg-config, libkvflash.so alone. CFLAGS are added (the sanitizer
# build compiles the program with its own sanitizers).
#   buildAgainstInstall.sh BUILD_DIR PREFIX SOURCE OUTPUT
set -euo pipefail
build_dir=$1 prefix=$2 source=$3 output=$4

rm -rf "$prefix"
for component in kvflash kvflash-dev; do
    cmake --install "$build_dir" --prefix "$prefix" --component "$component" >/dev/null
done
pc_file=$(find "$prefix" -name kvflash.pc)
export PKG_CONFIG_PATH
PKG_CONFIG_PATH=$(dirname "$pc_file")
pkg() { pkg-config --define-variable=prefix="$prefix" "$@" kvflash; }

mkdir -p "$(dirname "$output")"
# shellcheck disable=SC2046  # the flags are words
cc -std=c99 -pedantic -Wall -Wextra -Werror ${CFLAGS:-} $(pkg --cflags) "$source" -o "$output" $(pkg --libs) \
    -Wl,-rpath,"$(pkg --variable=libdir)"
