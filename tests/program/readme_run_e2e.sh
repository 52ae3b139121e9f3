#!/bin/bash
# The README's first command as a newcomer types it, in a terminal (tmux) at
# the top of the tree: the proxy answers on 8080, a page through it is
# rewritten by examples/setting.yaml, and Exit from the menu ends it with 0.
# Usage: readme_run_e2e.sh SOURCE_TREE. Exit 0 = passed, 1 = failed.
repo=$(realpath "$1")
run_dir=$repo/examples
source "$(dirname "$0")/terminal.sh"
# The first command of the README's first code block, without its comment.
command=$(awk '/^```/ { if (inside) exit; inside = 1; next } inside && NF { sub(/[ \t]*#.*/, ""); print; exit }' \
    "$repo/README.md")
[ -n "$command" ] || fail "no command at the top of README.md"
printf '<html><head><title>Moor</title><script src="t.js"></script></head><body>brindlemoor</body></html>' \
    >"$work/www/page.html"
keys "cd $repo; $command; echo \"exit=\$?\"" Enter
# Building may come first; the banner shows that the program runs.
tries=3000 retry eval 'shown "press Enter for the menu" || shown "^exit="'
shown "press Enter for the menu" || fail "'$command' did not start the proxy within 300 s"
retry listening
expected='<html><head><title>[filtered] Moor</title><!-- script removed by <mark>Brindlemoor</mark> --></head>'
[ "$(get)" = "$expected<body><mark>brindlemoor</mark></body></html>" ] || fail "not rewritten by the examples: $(get)"
menu e
wait_for '^exit=0$'
echo PASS
