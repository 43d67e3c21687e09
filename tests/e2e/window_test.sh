#!/bin/bash
# Real-window tests: quenrik in an Xvfb server of its own, driven with xdotool, seen with import.
# usage: window_test.sh <case>
# environment: QUENRIK (program), ROMS (assembled cartridges), GOLDEN (reference images),
#              WM_CLOSE (helper that sends WM_DELETE_WINDOW), ARTIFACTS (where failed shots go),
#              QUENRIK_EMULATOR (what runs a program of the build's architecture, unquoted: words;
#              empty when the host runs it), QUENRIK_TIMEOUT_SCALE (how much longer to wait then)
set -u
QUENRIK_EMULATOR=${QUENRIK_EMULATOR:-}
window_wait=$((10 * ${QUENRIK_TIMEOUT_SCALE:-1}))
case_name=$1
work=$(mktemp -d /tmp/quenrik-window.XXXXXX)
xvfb_pid=""
quenrik_pid=""
caption='^Quenrik 0\.1\.5$'

cleanup() {
    [ -n "$quenrik_pid" ] && kill -9 "$quenrik_pid" 2>/dev/null
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null && wait "$xvfb_pid" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT

fail() {
    echo "FAIL ($case_name): $*"
    [ -f "$work/out" ] && { echo "--- stdout:"; cat -v "$work/out" | tail -n 40; }
    [ -f "$work/err" ] && { echo "--- stderr:"; tail -n 20 "$work/err"; }
    exit 1
}

# ---- Server ------------------------------------------------------------------------------
start_xvfb() {
    local n
    for n in $(seq 60 99); do
        [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ] && continue
        Xvfb ":$n" -screen 0 640x480x24 -nolisten tcp -noreset -r >"$work/xvfb.log" 2>&1 &
        xvfb_pid=$!
        export DISPLAY=":$n"
        for _ in $(seq 50); do
            xdotool getdisplaygeometry >/dev/null 2>&1 && return 0
            kill -0 "$xvfb_pid" 2>/dev/null || break
            sleep 0.1
        done
        kill "$xvfb_pid" 2>/dev/null
        xvfb_pid=""
    done
    fail "no Xvfb display could be started"
}

# ---- Program -----------------------------------------------------------------------------
# start_quenrik <rom> [options...]: standard input is $work/in if it exists, else empty.
start_quenrik() {
    local input=/dev/null
    [ -p "$work/in" ] && input="$work/in"
    unset SDL_VIDEODRIVER
    $QUENRIK_EMULATOR "$QUENRIK" "$@" <"$input" >"$work/out" 2>"$work/err" &
    quenrik_pid=$!
    window=$(timeout "$window_wait" xdotool search --sync --name "$caption" | head -n 1)
    [ -n "$window" ] || fail "no window with the caption Quenrik 0.1.5"
}

# wait_exit <max ms>: waits for the program to end; sets status and elapsed_ms.
wait_exit() {
    local limit=$1 start now
    start=$(date +%s%N)
    while kill -0 "$quenrik_pid" 2>/dev/null; do
        now=$(date +%s%N)
        if [ $(( (now - start) / 1000000 )) -gt $((limit + 5000)) ]; then
            fail "the program did not end"
        fi
        sleep 0.02
    done
    wait "$quenrik_pid"
    status=$?
    quenrik_pid=""
    elapsed_ms=$(( ($(date +%s%N) - start) / 1000000 ))
    [ "$elapsed_ms" -le "$limit" ] || fail "the program took ${elapsed_ms} ms to end (limit ${limit} ms)"
}

press() { xdotool windowfocus --sync "$window" && xdotool "$@"; }

shot() { import -window "$window" "$work/$1.png" || fail "screenshot failed"; }

# pixel <shot> <x> <y>: prints r,g,b
pixel() {
    convert "$work/$1.png" -crop "1x1+$2+$3" -depth 8 txt:- | sed -n 's/.*(\([0-9]*\),\([0-9]*\),\([0-9]*\)).*/\1,\2,\3/p' | head -n 1
}

expect_pixel() {  # expect_pixel <shot> <x> <y> <r,g,b> <what>
    local got
    got=$(pixel "$1" "$2" "$3")
    [ "$got" = "$4" ] || { keep_shot "$1"; fail "$5: pixel ($2,$3) is $got, expected $4"; }
}

keep_shot() { [ -n "${ARTIFACTS:-}" ] && mkdir -p "$ARTIFACTS" && cp "$work/$1.png" "$ARTIFACTS/$case_name-$1.png"; }

expect_statistics() {
    grep -a -q '^[0-9]* Instrucion were executed$' "$work/out" || fail "no instruction count printed"
    grep -a -q '^fps: [0-9]*$' "$work/out" || fail "no fps line printed"
}

start_xvfb

case "$case_name" in
caption)
    start_quenrik "$ROMS/minimal.nes"
    geometry=$(xdotool getwindowgeometry "$window" | sed -n 's/.*Geometry: //p')
    [ "$geometry" = "320x240" ] || fail "window is $geometry, expected 320x240"
    press key Escape
    wait_exit 1000
    ;;
screenshot)
    start_quenrik "$ROMS/screen.nes"
    sleep 1.5
    shot screen
    differing=$(compare -metric AE "$GOLDEN/screen.png" "$work/screen.png" null: 2>&1)
    [ "$differing" = "0" ] || { keep_shot screen; fail "$differing pixels differ from the golden screen"; }
    press key Escape
    wait_exit 1000
    ;;
escape)
    start_quenrik "$ROMS/minimal.nes"
    sleep 1
    press key Escape
    wait_exit 1000
    [ "$status" -eq 0 ] || fail "exit status $status"
    expect_statistics
    ;;
close)
    start_quenrik "$ROMS/minimal.nes"
    sleep 1
    $QUENRIK_EMULATOR "$WM_CLOSE" "$window" || fail "could not send the close request"
    wait_exit 1000
    [ "$status" -eq 0 ] || fail "exit status $status"
    expect_statistics
    ;;
reset)
    # The reset cartridge paints the backdrop by how often its reset handler ran (RAM survives).
    start_quenrik "$ROMS/reset.nes"
    sleep 1
    shot first
    expect_pixel first 160 120 "248,52,24" "after power-on"
    press keydown r
    sleep 0.5
    shot pressed
    expect_pixel pressed 160 120 "80,216,104" "after pressing R"
    press keyup r
    sleep 0.5
    shot released
    expect_pixel released 160 120 "64,60,248" "after releasing R"
    press key Escape
    wait_exit 1000
    ;;
joypad)
    # The joypad cartridge lights box i (A, B, Select, Start, Up, Down, Left, Right) while
    # button i reads as held; the boxes' insides are at surface x 48 + 32 i, y 104.
    start_quenrik "$ROMS/joypad.nes"
    sleep 1
    keys=(x z a s Up Down Left Right)
    for i in "${!keys[@]}"; do
        press keydown "${keys[$i]}"
        sleep 0.3
        shot "held-$i"
        press keyup "${keys[$i]}"
        for j in "${!keys[@]}"; do
            if [ "$i" -eq "$j" ]; then expected="80,216,104"; else expected="0,4,0"; fi
            expect_pixel "held-$i" $((48 + 32 * j)) 104 "$expected" "key ${keys[$i]} held, box $j"
        done
        sleep 0.2
    done
    press key Escape
    wait_exit 1000
    ;;
debugger_escape)
    mkfifo "$work/in"
    exec 3<>"$work/in"   # held open: the debugger waits for a line that never comes
    start_quenrik "$ROMS/minimal.nes" -t
    for _ in $(seq 100); do grep -a -q 'Quenrik>' "$work/out" && break; sleep 0.05; done
    grep -a -q 'Quenrik>' "$work/out" || fail "no debugger prompt"
    press key Escape
    wait_exit 1500
    [ "$status" -eq 0 ] || fail "exit status $status"
    grep -a -q $'kien co\xf1o ta cambiado1' "$work/out" || fail "no trace start message"
    grep -a -q 'Instrucion were executed' "$work/out" && fail "statistics printed by a thread that was waiting for input"
    exec 3>&-
    ;;
debugger_quit)
    # q typed at the prompt: the emulation thread sets quit, the window's loop sees it and ends.
    mkfifo "$work/in"
    exec 3<>"$work/in"
    start_quenrik "$ROMS/minimal.nes" -t
    printf 'e 3000\nq\n' >&3
    wait_exit 3000
    [ "$status" -eq 0 ] || fail "exit status $status"
    grep -a -q '^Quenrik>3001 Instrucion were executed$' "$work/out" || fail "the 3000 instructions did not run"
    grep -a -q '^fps: [0-9]*$' "$work/out" || fail "no fps line printed"
    exec 3>&-
    ;;
closed_streams)
    # Started with standard input and output closed: the display connection must not take
    # their numbers, or debugger commands would be read from it and text written into it.
    unset SDL_VIDEODRIVER
    $QUENRIK_EMULATOR "$QUENRIK" "$ROMS/minimal.nes" <&- >&- 2>"$work/err" &
    quenrik_pid=$!
    window=$(timeout "$window_wait" xdotool search --sync --name "$caption" | head -n 1)
    [ -n "$window" ] || fail "no window with the caption Quenrik 0.1.5"
    for fd in 0 1; do
        target=$(readlink "/proc/$quenrik_pid/fd/$fd")
        [ "$target" = /dev/null ] || fail "standard stream $fd is $target"
    done
    press key Escape
    wait_exit 1000
    [ "$status" -eq 0 ] || fail "exit status $status"
    ;;
*)
    fail "unknown case"
    ;;
esac
# Under the sanitizer builds any report fails the case, whatever the program did next.
if grep -a -q -E 'Sanitizer|runtime error' "$work/err"; then
    fail "sanitizer report"
fi
echo "ok ($case_name)"
