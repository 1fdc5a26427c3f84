#!/usr/bin/env bash
# Renders each manual page as man shows it, 80 columns wide, in a UTF-8
# locale (the pages quote the tool's Russian texts); any warning fails.
#   manPagesRender.sh PAGE...
set -euo pipefail
export LC_ALL=C.UTF-8 MANWIDTH=80
for page in "$@"; do
    warnings=$(man --warnings -l "$page" 2>&1 >/dev/null)
    [ -z "$warnings" ] || { echo "$page: $warnings" >&2; exit 1; }
    man -l "$page" 2>/dev/null | grep -q EXIT || { echo "$page: rendered without its sections" >&2; exit 1; }
done
