#!/usr/bin/env bash
# The documents that come with an installed program: the manual pages render without
# warnings and describe every command and option that --help names; the menu entry and the
# AppStream metadata pass the validators without warnings and carry the program's version.
# usage: documents_test.sh SOURCE_DATA GENERATED_DATA VERSION TRACKHAUL_CLI [TRACKHAUL]
# Exits 77 (skipped) when a checking tool is missing.
set -u
data=$1 generated=$2 version=$3 cli=$4 window=${5-}
id=org.trackhaul.Trackhaul
failures=0
fail() {
    echo "FAIL $*"
    failures=$((failures + 1))
}

for tool in groff man desktop-file-validate appstreamcli; do
    command -v "$tool" >/dev/null || {
        echo "$tool is missing: skipped"
        exit 77
    }
done

pages=(trackhaul-cli)
[[ -n $window ]] && pages+=(trackhaul)
for page in "${pages[@]}"; do
    file=$generated/man/$page.1
    warnings=$(groff -ww -z -man "$file" 2>&1)
    [[ -z $warnings ]] || fail "groff warns about $page.1: $warnings"
    text=$(MANWIDTH=80 man --warnings -l "$file" 2>"$generated/man/$page.err")
    [[ -s $generated/man/$page.err ]] && fail "man -l $page.1: $(cat "$generated/man/$page.err")"
    grep -q "Trackhaul $version" <<<"$text" || fail "$page.1 does not name version $version"
    for section in NAME SYNOPSIS DESCRIPTION OPTIONS "EXIT STATUS" EXAMPLES; do
        grep -qx "$section" <<<"$text" || fail "$page.1 has no section $section"
    done
done

# Every command and option of the tools' help texts is in their manual pages.
check_help() { # program page
    local help text word
    help=$("$1" --help) || fail "$1 --help"
    text=$(MANWIDTH=200 man -l "$generated/man/$2.1" 2>/dev/null)
    for word in $(printf '%s\n' "$help" | sed -n 's/^  \([a-z][a-z-]*\) .*/\1/p' | sort -u) \
        $(printf '%s\n' "$help" | grep -o -- '--[a-z][a-z-]*' | sort -u); do
        grep -qw -- "$word" <<<"$text" || fail "$2.1 does not describe '$word'"
    done
}
check_help "$cli" trackhaul-cli
[[ -n $window ]] && check_help "$window" trackhaul

[[ $("$cli" --version) == "trackhaul-cli $version" ]] || fail "trackhaul-cli --version"
[[ -z $window || $("$window" --version) == "trackhaul $version" ]] || fail "trackhaul --version"

out=$(desktop-file-validate "$data/$id.desktop" 2>&1) || fail "desktop-file-validate: $out"
[[ -z $out ]] || fail "desktop-file-validate: $out"

metainfo=$generated/$id.metainfo.xml
out=$(appstreamcli validate --no-net "$metainfo" 2>&1) || fail "appstreamcli: $out"
grep -E '^[EW]:' <<<"$out" && fail "appstreamcli reports problems"
grep -q "<release version=\"$version\"" "$metainfo" || fail "metainfo has no release $version"

((failures == 0)) && echo "documents: all passed"
exit $((failures > 0))
