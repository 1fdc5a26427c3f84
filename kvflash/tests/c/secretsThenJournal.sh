#!/usr/bin/env bash
# Runs the C test of logins, local PINs, MVAs and host information against
# one virtual flash token, then kvdiag against the same token, and looks for
# the host texts the test wrote in the journal kvdiag decoded.
#   secretsThenJournal.sh SECRETS_TEST KVDIAG SERIAL ADMIN_PIN USER_PIN
# Run it inside withVirtualTokens.sh with that one token plugged in.
set -euo pipefail
secrets_test=$1 kvdiag=$2 serial=$3 admin_pin=$4 user_pin=$5

"$secrets_test" "$serial" "$admin_pin" "$user_pin"

# kvdiag writes its journal file into logs beside itself: run a private copy.
sandbox=$(mktemp -d)
trap 'rm -rf "$sandbox"' EXIT
mkdir -p "$sandbox/bin/logs" "$sandbox/work"
cp "$kvdiag" "$sandbox/bin/kvdiag"
(cd "$sandbox/work" && "$sandbox/bin/kvdiag" </dev/null >"$sandbox/console.txt" 2>&1) || {
    cat "$sandbox/console.txt" >&2
    exit 1
}
journal=$(find "$sandbox/bin/logs" -name 'security_log-*.txt' | head -n 1)
[ -n "$journal" ] || { echo "kvdiag wrote no journal file" >&2; exit 1; }
# the texts of HOST_TEXTS in secretsTest.c
for text in "kvflash-user" "KVFLASH-DOMAIN" "Debian GNU/Linux 12" "kvflash-host"; do
    grep -qF -- "$text" "$journal" || { echo "the journal lacks \"$text\"" >&2; exit 1; }
done
echo "kvdiag's journal shows the four host texts"
