#!/bin/bash
# The terminal as the user sees it: drives tray_demo in a tmux pane and reads
# the screen. Usage: tray_terminal_e2e.sh <path of tray_demo>
# Exit 0 = passed, 1 = failed, 77 = skipped (no tmux).
set -u
demo=$1
command -v tmux >/dev/null 2>&1 || { echo "tmux is not installed: skipped"; exit 77; }

work=$(mktemp -d)
socket="$work/tmux.sock"
t() { tmux -S "$socket" "$@"; }
cleanup() { t kill-server >/dev/null 2>&1; rm -rf "$work"; }
trap cleanup EXIT

screen() { t capture-pane -p -t e2e -S -1000; }
fail() {
    echo "FAIL: $*"
    echo "--- screen ---"
    screen
    exit 1
}
# wait_for <pattern> [count]: until the screen shows the pattern (count times).
wait_for() {
    local want=${2:-1}
    for _ in $(seq 1 100); do
        [ "$(screen | grep -c -- "$1")" -ge "$want" ] && return 0
        sleep 0.1
    done
    fail "timed out waiting for '$1' (x$want)"
}
ticks() { screen | grep -c '^tick [0-9]*$'; }
keys() { t send-keys -t e2e "$@"; }
menu='\[S\]how \[H\]ide | \[R\]eload | \[E\]xit'

t new-session -d -s e2e -x 150 -y 40 "bash --norc --noprofile"
keys "PS1='$ '; cd $work" Enter

# run <tag>: starts the demo, remembering the terminal mode before and after.
run() {
    keys "stty -g > before-$1; $demo pid; echo \"exit-$1=\$?\"; stty -g > after-$1" Enter
    wait_for "Brindlemoor — press Enter for the menu"
    for _ in $(seq 1 50); do [ -s "$work/pid" ] && break; sleep 0.1; done
}
restored() {
    wait_for "exit-$1=0"
    wait_for "tray demo: clean exit" "$2"
    for _ in $(seq 1 50); do [ -s "$work/after-$1" ] && break; sleep 0.1; done
    cmp -s "$work/before-$1" "$work/after-$1" || fail "terminal mode not restored after $1"
    rm -f "$work/pid"
}

# 1. The menu, Show/Hide, Reload with its message box, SIGHUP, Exit.
run menu
sleep 0.5
[ "$(ticks)" -eq 0 ] || fail "lines written while the window is hidden"

keys Enter
wait_for "$menu"
keys Escape
sleep 0.3
[ "$(screen | grep -c -- "$menu")" -eq 0 ] || fail "Esc left the menu on the screen"
[ "$(ticks)" -eq 0 ] || fail "Esc showed the window"

keys Enter
wait_for "$menu"
keys s
wait_for '^tick 1$'  # what the window held before it was shown
sleep 0.5
shown=$(ticks)
sleep 0.5
[ "$(ticks)" -gt "$shown" ] || fail "no new lines while shown"

keys Enter
wait_for "$menu"
keys h
sleep 0.3
hidden=$(ticks)
sleep 0.6
[ "$(ticks)" -eq "$hidden" ] || fail "lines written after Hide"

keys Enter
wait_for "$menu"
keys r
wait_for "Reload: settings reloaded"
wait_for "\[OK: press Enter\]"
keys Enter
kill -HUP "$(cat "$work/pid")"
wait_for "Reload: settings reloaded" 2
keys Enter
sleep 0.3

keys Enter
wait_for "$menu"
keys e
restored menu 1

# 2. SIGTERM while the window is shown: the same clean way out.
keys clear Enter
run term
keys Enter
wait_for "$menu"
keys s
wait_for '^tick 1$'
kill -TERM "$(cat "$work/pid")"
restored term 1

# 3. SIGTERM while the menu waits for a key.
keys clear Enter
run menu-term
keys Enter
wait_for "$menu"
kill -TERM "$(cat "$work/pid")"
restored menu-term 1

echo "PASS"
