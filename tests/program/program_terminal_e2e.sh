#!/bin/bash
# The program in a terminal, as a Linux user runs it: driven in a tmux pane
# against a real origin, reading the screen.
# Usage: program_terminal_e2e.sh <program>. Exit 0 = passed, 1 = failed, 77 = skipped.
set -u
program=$(realpath "$1")
command -v tmux >/dev/null 2>&1 || { echo "tmux is not installed: skipped"; exit 77; }
command -v curl >/dev/null 2>&1 || { echo "curl is not installed: skipped"; exit 77; }
if (exec 3<>/dev/tcp/127.0.0.1/8080) 2>/dev/null; then echo "port 8080 is taken: skipped"; exit 77; fi

work=$(mktemp -d)
socket="$work/tmux.sock"
t() { tmux -S "$socket" "$@"; }
origin_pid=""
cleanup() {
    t kill-server >/dev/null 2>&1
    [ -n "$origin_pid" ] && kill "$origin_pid" 2>/dev/null
    pkill -KILL -f "^$program\$" -P "$$" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT

screen() { t capture-pane -p -t e2e -S -2000; }
fail() {
    echo "FAIL: $*"
    echo "--- screen ---"
    screen
    exit 1
}
wait_for() {
    local want=${2:-1}
    for _ in $(seq 1 100); do
        [ "$(screen | grep -c -- "$1")" -ge "$want" ] && return 0
        sleep 0.1
    done
    fail "timed out waiting for '$1' (x$want)"
}
keys() { t send-keys -t e2e "$@"; }
menu='\[S\]how \[H\]ide | \[R\]eload | \[E\]xit'

# The origin: a static page on a free loopback port.
mkdir -p "$work/www" "$work/run"
printf '<html><body>moor and heath</body></html>' > "$work/www/page.html"
python3 -m http.server 0 --bind 127.0.0.1 --directory "$work/www" > "$work/origin.log" 2>&1 &
origin_pid=$!
for _ in $(seq 1 100); do [ "$(grep -c 'Serving HTTP' "$work/origin.log")" -gt 0 ] && break; sleep 0.1; done
port=$(awk 'match($0, /port [0-9]+/) { print substr($0, RSTART + 5, RLENGTH - 5); exit }' "$work/origin.log")
[ -n "$port" ] || fail "the origin did not start"
url="http://127.0.0.1:$port/page.html"
get() { curl -s --max-time 10 -x http://127.0.0.1:8080 "$url"; }

rules() {
    printf -- '--- !zib\nfilter:\n  - uri: http://127\\.0\\.0\\.1:[0-9]+/.*\n    search: %s\n    replace: %s\n' "$1" "$2" \
        > "$work/run/setting.yaml"
}
rules moor MOOR

t new-session -d -s e2e -x 160 -y 50 "bash --norc --noprofile"
keys "PS1='$ '; cd $work/run" Enter
keys "stty -g > ../before; $program; echo \"exit=\$?\"; stty -g > ../after" Enter
wait_for "Brindlemoor — press Enter for the menu"
for _ in $(seq 1 100); do (exec 3<>/dev/tcp/127.0.0.1/8080) 2>/dev/null && break; sleep 0.1; done

# Hidden: the page is filtered, nothing is echoed.
[ "$(get)" = '<html><body>MOOR and heath</body></html>' ] || fail "first page not filtered: $(get)"
sleep 0.3
[ "$(screen | grep -c -- '---- #')" -eq 0 ] || fail "log lines echoed while the window is hidden"

# Show: what the window already holds, then every new line.
keys Enter
wait_for "$menu"
keys s
wait_for '^\*\* Hit 0 rule\. \*\*$'
get > /dev/null
wait_for '^\*\* Hit 0 rule\. \*\*$' 2
wait_for 'end (0)' 2

# Hide: no more lines.
keys Enter
wait_for "$menu"
keys h
sleep 0.3
before=$(screen | grep -c -- '---- #')
get > /dev/null
sleep 0.5
[ "$(screen | grep -c -- '---- #')" -eq "$before" ] || fail "lines echoed after Hide"

# Reload: the next answer uses the edited rules.
rules heath FEN
keys Enter
wait_for "$menu"
keys r
for _ in $(seq 1 50); do [ "$(get)" = '<html><body>moor and FEN</body></html>' ] && break; sleep 0.1; done
[ "$(get)" = '<html><body>moor and FEN</body></html>' ] || fail "Reload did not take the new rules: $(get)"

# Exit: the program ends with 0 and the terminal is as it was.
keys Enter
wait_for "$menu"
keys e
wait_for "exit=0"
for _ in $(seq 1 50); do [ -s "$work/after" ] && break; sleep 0.1; done
cmp -s "$work/before" "$work/after" || fail "terminal mode not restored"
echo "PASS"
