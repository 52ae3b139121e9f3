# Sourced by the terminal tests: a tmux terminal, a loopback origin serving
# $work/www on $port, and bounded waits. The caller sets $run_dir, where the
# program runs: a copy left running there (the test failed before Exit) would
# take its terminal's SIGHUP as Reload, so it is ended here.
set -u
command -v tmux >/dev/null && command -v curl >/dev/null || { echo "FAIL: tmux and curl are needed"; exit 1; }
listening() { (exec 3<>/dev/tcp/127.0.0.1/8080) 2>/dev/null; }
if listening; then echo "FAIL: port 8080 is taken by another program"; exit 1; fi
work=$(mktemp -d)
t() { tmux -S "$work/tmux.sock" "$@"; }
cleanup() {
    t kill-server 2>/dev/null
    kill "$origin_pid" 2>/dev/null
    for pid in $(pgrep -x brindlemoor); do [ "$(readlink "/proc/$pid/cwd")" = "${run_dir:-}" ] && kill -KILL "$pid"; done
    rm -rf "$work"
}
trap cleanup EXIT
screen() { t capture-pane -p -t e2e -S -2000; }
keys() { t send-keys -t e2e "$@"; }
fail() { printf 'FAIL: %s\n--- screen ---\n' "$*"; screen; exit 1; }
# Tries a command every 0.1 s, $tries times (100 unless set).
retry() { for _ in $(seq 1 "${tries:-100}"); do "$@" && return 0; sleep 0.1; done; return 1; }
shown() { [ "$(screen | grep -c -- "$1")" -ge "${2:-1}" ]; }
wait_for() { retry shown "$@" || fail "timed out waiting for '$1'"; }
menu() { keys Enter; wait_for '\[S\]how \[H\]ide | \[R\]eload | \[E\]xit'; keys "$1"; }
get() { curl -s --max-time 10 -x http://127.0.0.1:8080 "http://127.0.0.1:$port/page.html"; }
mkdir -p "$work/www"
python3 -m http.server 0 --bind 127.0.0.1 --directory "$work/www" >"$work/origin.log" 2>&1 &
origin_pid=$!
retry grep -q 'Serving HTTP' "$work/origin.log"
port=$(sed -n 's/.*port \([0-9]*\).*/\1/p' "$work/origin.log")
[ -n "$port" ] || fail "the origin did not start"
t new-session -d -s e2e -x 160 -y 50 "bash --norc --noprofile"
