#!/usr/bin/env bash
# Runs a program under valgrind memcheck: any memory error or a definitely
# lost block fails the run with exit code 99, never the program's own.
#   underValgrind.sh PROGRAM [ARGS...]
# The program runs as a private copy from a temporary directory: kvdiag
# writes its journal into "logs" beside itself and its report below the
# working directory.
set -euo pipefail
program=$1
shift

sandbox=$(mktemp -d)
trap 'rm -rf "$sandbox"' EXIT
mkdir -p "$sandbox/bin/logs" "$sandbox/work"
cp "$program" "$sandbox/bin/"
cd "$sandbox/work"
valgrind --quiet --leak-check=full --errors-for-leak-kinds=definite --error-exitcode=99 \
    "$sandbox/bin/$(basename "$program")" "$@" </dev/null
