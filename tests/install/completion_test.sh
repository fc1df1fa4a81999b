#!/usr/bin/env bash
# The bash completion of trackhaul-cli: commands, options per command, values, folders, and
# song names read from a card; and every command and option of --help can be completed.
# usage: completion_test.sh COMPLETION_SCRIPT TRACKHAUL_CLI
set -u
source "$1"
cli=$(realpath "$2")
failures=0
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

# Completes the last word of the given words, or word $CWORD; prints the candidates sorted,
# one a line.
complete_words() {
    COMP_WORDS=("$@")
    COMP_CWORD=${CWORD:-$(($# - 1))}
    COMP_LINE="$*"
    COMP_POINT=${#COMP_LINE}
    COMPREPLY=()
    _trackhaul_cli
    ((${#COMPREPLY[@]})) && printf '%s\n' "${COMPREPLY[@]}" | sort
}

expect() { # name comma-separated-candidates words...
    local name=$1 expected=$2
    shift 2
    local got
    got=$(complete_words "$@")
    expected=$(printf '%s' "$expected" | tr ',' '\n' | sed '/^$/d' | sort)
    if [[ $got != "$expected" ]]; then
        echo "FAIL $name: expected [$(echo $expected)], got [$(echo $got)]"
        failures=$((failures + 1))
    fi
}

"$cli" demo-card "$tmp/card" >/dev/null || exit 1
songs=$("$cli" songs --drive "$tmp/card" | cut -f1 | tr '\n' ',')
[[ -n $songs ]] || { echo "FAIL the demo card has no songs"; exit 1; }
mkdir -p "$tmp/takes" "$tmp/tapes" "$tmp/with space"
cd "$tmp"

expect "commands" "tc,drives,songs,import,export,show,demo-card,--help,--version" trackhaul-cli ""
expect "command prefix" "import" trackhaul-cli im
expect "import options" "--drive,--song,--all,--to,--tracks,--yes,--quiet,--verbose" trackhaul-cli import --
expect "export options" "--file,--from" trackhaul-cli export --drive card --f
expect "tc options" "--samples,--rate,--fps,--drop" trackhaul-cli tc --
expect "songs options" "--drive" trackhaul-cli songs ""
expect "show options" "--drive,--song,--json,--peaks,--svg" trackhaul-cli show --
expect "drives has none" "" trackhaul-cli drives --
expect "rates" "22050,44100,48000" trackhaul-cli tc --samples 1 --rate ""
expect "frame rates" "24,25,29,30" trackhaul-cli tc --fps ""
expect "folders" "takes,tapes" trackhaul-cli import --to ta
expect "folder with a space" "with space" trackhaul-cli export --from wi
expect "demo-card folder" "card" trackhaul-cli demo-card ca
expect "songs of the card" "$songs" "$cli" import --drive "$tmp/card" --song ""
CWORD=3 expect "songs, drive after" "$songs" "$cli" import --song "" --drive "$tmp/card"
expect "songs, quoted drive" "$songs" "$cli" export --drive "'$tmp/card'" --song ""
first=${songs%%,*}
expect "song prefix" "$first" "$cli" import --drive card --song "${first:0:5}"
expect "songs without a drive" "" "$cli" import --song ""
expect "songs of no card" "" "$cli" import --drive "$tmp/takes" --song ""

# Whatever --help names can be completed.
help=$("$cli" --help)
offered=$(complete_words trackhaul-cli "")
for command in $(printf '%s\n' "$help" | sed -n 's/^  \([a-z][a-z-]*\) .*/\1/p' | sort -u); do
    grep -qx -- "$command" <<<"$offered" || {
        echo "FAIL command '$command' of --help is not completed"
        failures=$((failures + 1))
    }
    options=$(printf '%s\n' "$help" | grep -- "^  $command " | grep -o -- '--[a-z][a-z-]*' | sort -u)
    completed=$(complete_words trackhaul-cli "$command" --)
    for option in $options; do
        grep -qx -- "$option" <<<"$completed" || {
            echo "FAIL option '$option' of '$command' is not completed"
            failures=$((failures + 1))
        }
    done
done

# Options that --help names outside a command line are completed somewhere.
everything=$(
    complete_words trackhaul-cli ""
    for command in $offered; do complete_words trackhaul-cli "$command" --; done
)
for option in $(printf '%s\n' "$help" | grep -o -- '--[a-z][a-z-]*' | sort -u); do
    grep -qx -- "$option" <<<"$everything" || {
        echo "FAIL option '$option' of --help is not completed"
        failures=$((failures + 1))
    }
done

((failures == 0)) && echo "completion: all passed"
exit $((failures > 0))
