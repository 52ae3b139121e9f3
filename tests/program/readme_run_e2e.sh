#!/bin/bash
# The README's first command as a newcomer types it: run in a real terminal
# (tmux) from the top of the tree, the proxy answers on 8080, a page through
# it is rewritten by examples/setting.yaml, and Exit from the menu ends it
# with status 0. Usage: readme_run_e2e.sh <source tree>. Exit 0 = passed, 1 = failed.
set -u
repo=$(realpath "$1")
command -v tmux >/dev/null 2>&1 || { echo "FAIL: tmux is not installed"; exit 1; }
command -v curl >/dev/null 2>&1 || { echo "FAIL: curl is not installed"; exit 1; }
if (exec 3<>/dev/tcp/127.0.0.1/8080) 2>/dev/null; then echo "FAIL: port 8080 is taken by another program"; exit 1; fi

# The first command of the README's first code block, without its comment.
command=$(awk '/^```/ { if (inside) exit; inside = 1; next } inside && NF { sub(/[ \t]*#.*/, ""); print; exit }' \
    "$repo/README.md")
[ -n "$command" ] || { echo "FAIL: no command at the top of README.md"; exit 1; }
echo "README's first command: $command"

work=$(mktemp -d)
socket="$work/tmux.sock"
t() { tmux -S "$socket" "$@"; }
origin_pid=""
cleanup() {
    t kill-server >/dev/null 2>&1
    [ -n "$origin_pid" ] && kill "$origin_pid" 2>/dev/null
    # A proxy left running (the test failed before Exit) takes SIGHUP as
    # Reload when its terminal goes: it is ended here.
    for pid in $(pgrep -x brindlemoor); do
        [ "$(readlink "/proc/$pid/cwd")" = "$repo/examples" ] && kill -KILL "$pid" 2>/dev/null
    done
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
on_screen() { [ "$(screen | grep -c -- "$1")" -gt 0 ]; }
keys() { t send-keys -t e2e "$@"; }

# The origin: a page whose URI the example rules match.
mkdir -p "$work/www"
printf '<html><head><title>Moor</title><script src="t.js"></script></head><body>brindlemoor</body></html>' \
    > "$work/www/page.html"
python3 -m http.server 0 --bind 127.0.0.1 --directory "$work/www" > "$work/origin.log" 2>&1 &
origin_pid=$!
for _ in $(seq 1 100); do [ "$(grep -c 'Serving HTTP' "$work/origin.log")" -gt 0 ] && break; sleep 0.1; done
port=$(sed -n 's/.*port \([0-9]*\).*/\1/p' "$work/origin.log")
[ -n "$port" ] || fail "the origin did not start"

t new-session -d -s e2e -x 160 -y 50 "bash --norc --noprofile"
keys "PS1='$ '; cd $repo" Enter
keys "$command; echo \"exit=\$?\"" Enter
# Building may come first; the program's banner shows that it runs.
for _ in $(seq 1 3000); do
    on_screen "Brindlemoor — press Enter for the menu" && break
    on_screen '^exit=' && fail "'$command' ended before the proxy ran"
    sleep 0.1
done
on_screen "Brindlemoor — press Enter for the menu" || fail "the proxy did not start within 300 s"
for _ in $(seq 1 100); do (exec 3<>/dev/tcp/127.0.0.1/8080) 2>/dev/null && break; sleep 0.1; done

page=$(curl -s --max-time 10 -x http://127.0.0.1:8080 "http://127.0.0.1:$port/page.html")
expected='<html><head><title>[filtered] Moor</title><!-- script removed by <mark>Brindlemoor</mark> --></head><body><mark>brindlemoor</mark></body></html>'
[ "$page" = "$expected" ] || fail "the page was not rewritten by examples/setting.yaml: $page"

keys Enter
for _ in $(seq 1 100); do on_screen '\[E\]xit' && break; sleep 0.1; done
keys e
for _ in $(seq 1 100); do on_screen '^exit=' && break; sleep 0.1; done
on_screen '^exit=0$' || fail "Exit did not end the program with status 0"
echo "PASS"
