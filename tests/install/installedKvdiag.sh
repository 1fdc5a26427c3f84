#!/usr/bin/env bash
# kvdiag as a user meets it after `cmake --install`: installs the whole tree
# into a temporary prefix, checks the layout, builds a C program from the
# installed header and kvflash.pc, then plugs the installed virtual token
# (the bundled Mirel 3.0, a token both the library and kvdiag know) and runs the installed
# kvdiag through <prefix>/bin/kvdiag as a user other than root: the report
# lands below the working directory, the journal in the state directory the
# installation made, and the verdict is a pass.
#   installedKvdiag.sh BUILD_DIR WITH_VIRTUAL_TOKENS_SCRIPT
# Run it under flock /tmp/kvdiag-pcsc.lock: there is one pcscd per machine.
set -euo pipefail

readonly serial=305419896  # mirel3.json
readonly verdict="-> Все проверки прошли успешно"

fail() { echo "installedKvdiag: $*" >&2; exit 1; }
expect_link() {  # link, target
    [ "$(readlink "$1")" = "$2" ] || fail "$1 links to '$(readlink "$1")', not '$2'"
}

# The run itself, while the token is plugged in (see the end of the file).
if [ "${1:-}" = --run ]; then
    prefix=$2 work=$3
    as_user=()
    if [ "$(id -u)" -eq 0 ]; then
        as_user=(setpriv --reuid=nobody --regid=nogroup --clear-groups)
    fi
    "${as_user[@]}" "$work/tokenList" "$serial"
    cd "$work"
    status=0
    "${as_user[@]}" "$prefix/bin/kvdiag" </dev/null >"$work/console.txt" 2>&1 || status=$?
    [ "$status" -eq 0 ] || { cat "$work/console.txt" >&2; fail "kvdiag exited with $status"; }
    exit 0
fi

build_dir=$(realpath "$1") with_tokens=$(realpath "$2")
sandbox=$(mktemp -d /tmp/kvdiag-install.XXXXXX)
trap 'rm -rf "$sandbox"' EXIT
chmod 755 "$sandbox"
prefix=$sandbox/prefix work=$sandbox/work
mkdir "$work"
cmake --install "$build_dir" --prefix "$prefix" >/dev/null

# The layout: the program alone in libexec, linked from bin, "logs" beside
# it linking to a state directory that every user may write to.
journals=$prefix/var/lib/kvdiag/journals
expect_link "$prefix/bin/kvdiag" ../libexec/kvdiag/kvdiag
expect_link "$prefix/libexec/kvdiag/logs" "$journals"
[ "$(stat -c %a "$journals")" = 1777 ] || fail "$journals has mode $(stat -c %a "$journals"), not 1777"
pc_file=$(find "$prefix" -name kvflash.pc)
libdir=$(dirname "$(dirname "$pc_file")")
expect_link "$libdir/libkvflash.so" libkvflash.so.0
readelf -d "$libdir/libkvflash.so.0" | grep -q 'SONAME.*\[libkvflash\.so\.0\]' || fail "libkvflash.so.0 lacks its SONAME"
for file in bin/kvtoken-emu include/kvflash-core/kvflash.h share/kvtoken-emu/profiles/mirel3.json \
            share/man/man1/kvdiag.1.gz share/man/man1/kvtoken-emu.1.gz; do
    [ -e "$prefix/$file" ] || fail "$file is not installed"
done

# A library user's program, built only from what was installed (CFLAGS are
# added: the sanitizer build compiles it with its own sanitizers).
pkg() { PKG_CONFIG_PATH=$(dirname "$pc_file") pkg-config --define-variable=prefix="$prefix" "$@" kvflash; }
# shellcheck disable=SC2046  # the flags are words
cc -std=c99 -Wall -Wextra -Werror ${CFLAGS:-} $(pkg --cflags) "$(dirname "$0")/tokenList.c" -o "$work/tokenList" \
    $(pkg --libs) -Wl,-rpath,"$libdir"
chmod -R a+rX "$sandbox"
chmod 1777 "$work"

"$with_tokens" "$prefix/bin/kvtoken-emu" "$prefix/share/kvtoken-emu/profiles/mirel3.json" \
    -- "$(realpath "$0")" --run "$prefix" "$work"

reports=("$work"/logs/log-"$serial"-*.txt)
[ -f "${reports[0]}" ] || fail "no report in $work/logs"
last=$(tail -n 1 "${reports[0]}")
[[ "$last" == *"] - $verdict" ]] || fail "the verdict is '$last'"
journal_files=("$journals"/security_log-"$serial"-*.txt)
journal=${journal_files[0]}
[ -f "$journal" ] || fail "no journal file in $journals"
[ "$(stat -c %U "$journal")" = "$(stat -c %U "$work/logs")" ] || fail "the journal is not the user's own"
grep -qF "Файл $prefix/libexec/kvdiag/logs/$(basename "$journal") создан" "${reports[0]}" \
    || fail "the report does not name $journal"
digest=$(sha256sum "$journal" | cut -d' ' -f1)
grep -qF "SHA256 файла журнала СБ: $digest" "${reports[0]}" || fail "the report does not carry the journal's SHA-256"
echo "installed kvdiag: report ${reports[0]#"$work/"}, journal $(basename "$journal"), verdict passed"
