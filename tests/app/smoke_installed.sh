#!/usr/bin/env bash
# The installed program as a user runs it: install into a temporary prefix, start it
# from there on a folder of three recordings in a fresh home, wait for the playlist
# files and thumbnails, close it with its Exit button, and check that it exits with
# status 0 and that a second start, given only a missing path, says so and shows the
# same rows.
# Needs xvfb-run and xdotool.
# usage: smoke_installed.sh BUILD_DIR
set -euo pipefail

# A screen of its own: other tests' windows on a shared one could take the click.
if [ -z "${SMOKE_OWN_SCREEN:-}" ]; then
    exec env SMOKE_OWN_SCREEN=1 xvfb-run -a -s "-screen 0 1920x1080x24 -nolisten tcp" bash "$0" "$@"
fi

build=$(cd "$1" && pwd)
work=$(mktemp -d)
trap 'kill "${pid:-}" 2>/dev/null || true; rm -rf "$work"' EXIT
fail() { echo "FAIL: $*"; for f in "$work"/run*.log; do echo "== $f"; tail -n 30 "$f"; done; exit 1; }

cmake --install "$build" --prefix "$work/prefix" >"$work/install.log" || fail "install"
program="$work/prefix/bin/dashcam-player"
[ -x "$program" ] || fail "no $program"
"$program" --version | grep -q '1\.0\.1' || fail "--version"
desktop-file-validate "$work/prefix/share/applications/dashcam-player.desktop" || fail "desktop entry"
# The PNG header's width and height, big-endian at bytes 16 to 23.
icon="$work/prefix/share/icons/hicolor/256x256/apps/dashcam-player.png"
[ "$(od -An -tx1 -j16 -N8 "$icon" | tr -d ' \n')" = "0000010000000100" ] || fail "icon size"

mkdir -p "$work/clips"
for n in 1 2 10; do
    ffmpeg -loglevel error -y -f lavfi -i "testsrc2=size=320x240:rate=25:duration=2" \
        -c:v libx264 -preset ultrafast -pix_fmt yuv420p "$work/clips/clip$n.mp4"
done

export HOME="$work/home" XDG_DATA_HOME="$work/home/.local/share" \
    XDG_CONFIG_HOME="$work/home/.config" XDG_CACHE_HOME="$work/home/.cache" \
    XDG_RUNTIME_DIR="$work/runtime" PULSE_SERVER=unix:/nonexistent
mkdir -p "$HOME" "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"
[ "$(id -u)" = 0 ] && export QTWEBENGINE_DISABLE_SANDBOX=1

# The program's largest visible window: the main window, not the picture view's own.
main_window() {
    local best= area=0 w
    for w in $(xdotool search --onlyvisible --pid "$1" 2>/dev/null); do
        eval "$(xdotool getwindowgeometry --shell "$w" 2>/dev/null)" || continue
        if [ $((WIDTH * HEIGHT)) -gt "$area" ]; then
            area=$((WIDTH * HEIGHT))
            best=$w
        fi
    done
    echo "$best"
}

# Starts the program with the given arguments into run$1.log; sets pid and window.
start() {
    local log="$work/run$1.log"
    shift
    "$program" "$@" >"$log" 2>&1 &
    pid=$!
    window=
    for _ in $(seq 300); do
        window=$(main_window "$pid") && [ -n "$window" ] && break
        kill -0 "$pid" 2>/dev/null || fail "the program ended early"
        sleep 0.1
    done
    [ -n "$window" ] || fail "no window"
}

# Clicks the Exit button (bottom row, sixth of six buttons) and waits for the exit.
quit() {
    eval "$(xdotool getwindowgeometry --shell "$window")"
    local b=$(((WIDTH - 325) / 6))
    xdotool mousemove --sync $((X + 5 * (b + 5) + b / 2)) $((Y + HEIGHT - 20)) click 1
    local status=0
    for _ in $(seq 200); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    kill -0 "$pid" 2>/dev/null && fail "still running after Exit"
    wait "$pid" || status=$?
    pid=
    [ "$status" = 0 ] || fail "exit status $status"
}

playlist="$XDG_DATA_HOME/dashcam-player/playlist"
thumbnails="$XDG_CACHE_HOME/dashcam-player/thumbnails"
count() { find "$1" -maxdepth 1 -name "$2" 2>/dev/null | wc -l; }

start 1 "$work/clips"
for _ in $(seq 300); do
    [ "$(count "$playlist" '*.xml')" = 3 ] && [ "$(count "$thumbnails" '*.jpg')" = 3 ] && break
    sleep 0.1
done
[ "$(count "$playlist" '*.xml')" = 3 ] || fail "playlist files: $(ls "$playlist" 2>&1)"
[ "$(count "$thumbnails" '*.jpg')" = 3 ] || fail "thumbnails: $(ls "$thumbnails" 2>&1)"
sleep 1 # let the last probed values reach their files
quit

rows() { grep -o 'playlist row: .*' "$work/run$1.log" || true; }
# Given only a path that does not exist: a message, and the window opens all the same.
start 2 "$work/no-such-card"
for _ in $(seq 100); do [ "$(rows 2 | wc -l)" -ge 3 ] && break; sleep 0.1; done
quit
grep -q "cannot open $work/no-such-card: no such file or folder" "$work/run2.log" ||
    fail "no message for a missing path"
[ "$(rows 1)" = "$(rows 2)" ] || fail "rows differ: $(rows 1) / $(rows 2)"
[ "$(rows 2 | head -n 1)" = "playlist row: $work/clips/clip1.mp4" ] || fail "order: $(rows 2)"
echo "PASS: installed program played a folder, kept its playlist and exited cleanly"
