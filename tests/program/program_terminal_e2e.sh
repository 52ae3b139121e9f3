#!/bin/bash
# The program in a terminal as a Linux user runs it (tmux, reading the
# screen): the menu, the log shown, Reload, and Exit.
# Usage: program_terminal_e2e.sh PROGRAM. Exit 0 = passed, 1 = failed.
program=$(realpath "$1")
source "$(dirname "$0")/terminal.sh"
run_dir=$work/run
mkdir "$run_dir"
printf '<html><body>moor and heath</body></html>' >"$work/www/page.html"
rules() { printf -- '--- !zib\nfilter:\n  - uri: http://127\\.0\\.0\\.1:[0-9]+/.*\n    search: %s\n    replace: %s\n' \
    "$1" "$2" >"$run_dir/setting.yaml"; }
page_is() { [ "$(get)" = "$1" ]; }

# Without settings: the error's message box waits for Enter, then the program ends.
keys "cd $run_dir; $program; echo \"first=\$?\"" Enter
wait_for '^FileException: setting.yaml: file not found$'
wait_for '\[OK: press Enter\]'
sleep 0.2
shown '^first=' && fail "the message box did not wait for Enter"
keys Enter
wait_for '^first=0$'
rules moor MOOR
keys "stty -g >$work/before; $program; echo \"exit=\$?\"; stty -g >$work/after" Enter
wait_for "Brindlemoor — press Enter for the menu"
retry listening
page_is '<html><body>MOOR and heath</body></html>' || fail "page not filtered: $(get)"
# Show: what the log already holds, then every new line; Hide: no more lines.
hit='^\*\* Hit 0 rule\. \*\*$'
menu s
wait_for "$hit"
get >/dev/null
wait_for "$hit" 2
# Lines keep coming while the menu waits for a key (after the first batch
# they are taken on a timer, which the menu's wait must run too).
keys Enter
wait_for '\[S\]how \[H\]ide | \[R\]eload | \[E\]xit'
get >/dev/null
wait_for "$hit" 3
keys s
menu h
get >/dev/null
sleep 0.3
shown "$hit" 4 && fail "Hide did not stop the log echo"
# Reload: the next answer uses the edited rules.
rules heath FEN
menu r
retry page_is '<html><body>moor and FEN</body></html>' || fail "Reload did not take the new rules: $(get)"
# Exit: status 0 and the terminal as it was.
menu e
wait_for "exit=0"
retry [ -s "$work/after" ] && cmp -s "$work/before" "$work/after" || fail "terminal mode not restored"
echo PASS
