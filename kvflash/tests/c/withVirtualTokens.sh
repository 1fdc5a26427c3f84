#!/usr/bin/env bash
# Runs a program while virtual tokens sit in the vpcd readers.
#   withVirtualTokens.sh EMULATOR PROFILE [PROFILE2] -- PROGRAM [ARGS...]
# Starts pcscd when none runs (and stops only the one it started), plugs one
# kvtoken-emu per profile into "Virtual PCD 00 00" and "Virtual PCD 00 01",
# runs the program (which waits for the tokens itself) and unplugs them.
# Run it under flock /tmp/kvdiag-pcsc.lock: there is one pcscd per machine.
set -euo pipefail

emulator=$1
shift
profiles=()
while [ "$1" != "--" ]; do
    profiles+=("$1")
    shift
done
shift

started=()
cleanup() {
    for pid in "${started[@]}"; do
        kill -TERM "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    done
}
trap cleanup EXIT

if ! pgrep -x pcscd >/dev/null; then
    /usr/sbin/pcscd --foreground >/dev/null 2>&1 &
    daemon=$!
    # the tokens go before the daemon
    trap 'cleanup; kill -TERM "$daemon" 2>/dev/null || true; wait "$daemon" 2>/dev/null || true' EXIT
fi

port=35963
for profile in "${profiles[@]}"; do
    "$emulator" --profile "$profile" --port "$port" &
    started+=($!)
    port=$((port + 1))
done

"$@"
