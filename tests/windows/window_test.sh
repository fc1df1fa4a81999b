#!/usr/bin/env bash
# The Windows window under Wine, on a virtual X display with a window manager, driven with real
# input (xdotool's mouse and keys on the Wine window). trackhaul.exe starts on a demo card given
# as the drive E:, imports a song into a folder chosen in the folder tree and exports what it
# imported into another song, on a second card that Wine shows as the removable drive F:; every
# message box is answered with the keyboard. The files must equal, byte for byte, those that the
# Linux build's trackhaul-cli makes from a copy of the same card.
# usage: window_test.sh ZIP LINUX_CLI [PICTURES]
#   ZIP        the Windows archive (trackhaul.exe and trackhaul-cli.exe)
#   LINUX_CLI  the Linux build's trackhaul-cli
#   PICTURES   folder for screenshots of the steps (kept; default: none taken)
set -euo pipefail
zip=$(realpath "$1")
linux=$(realpath "$2")
pictures=${3:-}
[[ -n $pictures ]] && mkdir -p "$pictures" && pictures=$(realpath "$pictures")

work=$(mktemp -d /tmp/trackhaul-window.XXXXXX)
pids=()
cleanup() {
    local status=$?
    if ((status != 0)) && [[ -n $pictures ]]; then
        shot failure || true
    fi
    wineserver -k 2>/dev/null || true
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    rm -rf "$work"
    exit $status
}
trap cleanup EXIT

shot() { # shot NAME: a picture of the whole screen, when pictures are asked for
    [[ -n $pictures ]] && command -v import >/dev/null &&
        import -window root "$pictures/$1.png" 2>/dev/null || true
}

fail() {
    echo "FAIL $*" >&2
    exit 1
}

# --- The display, the window manager and a fresh Wine prefix ---------------------------------
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$work/display" 2>/dev/null &
pids+=($!)
for _ in $(seq 100); do [[ -s $work/display ]] && break; sleep 0.1; done
[[ -s $work/display ]] || fail "Xvfb did not start"
export DISPLAY=:$(head -n1 "$work/display")
openbox --sm-disable >/dev/null 2>&1 &
pids+=($!)

wine=/usr/lib/wine/wine64
export WINEPREFIX=$work/prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" LC_ALL=C.UTF-8
mkdir -p "$WINEPREFIX"
wineserver -p
# The first boot of a prefix may report failure for optional parts (fonts, .NET, Gecko).
"$wine" wineboot --init >/dev/null 2>&1 || true
c=$WINEPREFIX/drive_c
[[ -d $c/windows ]] || fail "the Wine prefix has no C:\\windows"

# The program in C:\trackhaul, unpacked from the archive as a user would.
mkdir -p "$c/trackhaul"
(cd "$c/trackhaul" && cmake -E tar xf "$zip")
[[ -f $c/trackhaul/trackhaul.exe && -f $c/trackhaul/trackhaul-cli.exe ]] ||
    fail "the archive lacks trackhaul.exe or trackhaul-cli.exe"

# The card: the demo songs and a copy of the 44.1 kHz one to export into, in a folder whose name
# is not ASCII. The Linux build works on a copy of it.
card="$work/Karte ü" card_linux=$work/card-linux
"$linux" demo-card "$card" >/dev/null
cp -r "$card/DEMO44K" "$card/COPY44K"
mv "$card/COPY44K/DEMO44K.ADL" "$card/COPY44K/COPY44K.ADL"
cp -r "$card" "$card_linux"
cp -r "$card" "$work/card-before"
# A second card as Wine's own drive F:, removable by the system's drive type (not one of the
# program's --drive folders): the export goes there. The server rereads drives on restart.
card_f=$work/card-f
cp -r "$card" "$card_f"
ln -s "$card_f" "$WINEPREFIX/dosdevices/f:"
"$wine" reg add 'HKLM\Software\Wine\Drives' /v f: /d floppy /f >/dev/null 2>&1 || true
wineserver -k || true
wineserver -w || true
# The import's destination, a folder with a name outside ASCII at the root of C:.
out="Außen Ω"
mkdir -p "$c/$out" "$work/linux"

# --- The window ------------------------------------------------------------------------------
"$wine" "$c/trackhaul/trackhaul.exe" --drive "E:=Z:$card" >"$work/window.log" 2>&1 &
pids+=($!)
window=
for _ in $(seq 600); do
    window=$(xdotool search --onlyvisible --name '^Trackhaul -Version' 2>/dev/null | head -n1) || true
    [[ -n $window ]] && break
    sleep 0.1
done
[[ -n $window ]] || fail "the main window did not show (log: $(cat "$work/window.log"))"
sleep 1
shot 1-start

keys() { xdotool key --delay 150 "$@"; sleep 0.5; }
type_text() { xdotool type --delay 40 "$1"; sleep 0.5; }

# The progress dialog carries the caption of the message boxes, but a size of its own; a box is
# any other window with that caption that holds the focus.
progress_size=292x123
answered=0
answer_boxes() { # answer_boxes N: presses Return in the next N message boxes
    local wanted=$1 got=0 focus name size
    for _ in $(seq 600); do
        focus=$(xdotool getwindowfocus 2>/dev/null) || focus=
        if [[ -n $focus ]]; then
            name=$(xdotool getwindowname "$focus" 2>/dev/null) || name=
            size=$(xdotool getwindowgeometry "$focus" 2>/dev/null | awk '/Geometry/ {print $2}')
            if [[ $name == Trackhaul && $size != "$progress_size" ]]; then
                answered=$((answered + 1))
                shot "box-$answered"
                echo "window: message box $answered ($size) answered with Return"
                xdotool key Return
                got=$((got + 1))
                ((got == wanted)) && return 0
                sleep 0.5
            fi
        fi
        sleep 0.1
    done
    fail "$got of $wanted message boxes came"
}

# The folder, chosen in the tree with the keyboard after a click into the tree (which fills the
# window's left side): the tree's root, the drive C: (typed ahead), into it, then the
# destination typed ahead by its first letters. Right expands a node, or enters an expanded one.
choose_folder() {
    xdotool windowactivate --sync "$window" 2>/dev/null || true
    xdotool mousemove --window "$window" 40 120 click 1
    sleep 0.5
    keys Home
    type_text c
    keys Right Right
    type_text au
}
choose_folder
shot 2-folder
# The song combo by its Alt letter (S), the song typed ahead, then Import by its Alt letter (I).
keys alt+s
type_text DEMO4
keys alt+i
# "ZT-6 to PC" + the destination: OK; then "Complete!".
answer_boxes 2
for _ in $(seq 100); do [[ -f $c/$out/tr01.wav ]] && break; sleep 0.1; done
sleep 1
"$linux" import --drive "$card_linux" --song DEMO44K --to "$work/linux" --yes >/dev/null 2>&1
diff -r "$work/linux" "$c/$out" || fail "the window's import differs from the Linux build's"
echo "window: the import into C:\\$out equals the Linux build's ($(ls "$c/$out" | wc -l) files)"

# The export, from the same folder into the copy on F:: the folder again, Ctrl+Tab to the
# second tab, the drive combo by its Alt letter (D; F: typed ahead, which loads its songs), the
# song combo (S), then Export (E).
choose_folder
keys ctrl+Tab
keys alt+d
type_text F
keys alt+s
type_text COPY
shot 3-export-tab
keys alt+e
# "PC to ZT-6" + the song: OK; "Overwrite COPY44K? (Can't cancel.)": OK; then "Complete!".
answer_boxes 3
sleep 1
"$linux" export --from "$work/linux" --drive "$card_linux" --song COPY44K --yes >/dev/null 2>&1
diff -r "$card_linux" "$card_f" || fail "the window's export differs from the Linux build's"
diff -r "$work/card-before" "$card" || fail "the card E: was changed"
echo "window: the export into F:\\COPY44K equals the Linux build's; E: is unchanged"

# The window closes with Alt+F4 and the program ends.
xdotool windowactivate --sync "$window" 2>/dev/null || true
keys alt+F4
for _ in $(seq 100); do
    xdotool search --name '^Trackhaul -Version' >/dev/null 2>&1 || break
    sleep 0.1
done
! xdotool search --name '^Trackhaul -Version' >/dev/null 2>&1 || fail "the window did not close"
echo "window: $answered message boxes answered with the keyboard; the window closed with Alt+F4"
