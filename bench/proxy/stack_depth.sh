#!/usr/bin/env bash
# How deep do handler threads go into their stacks? Runs the real program with
# the ten benchmark filters, sends it pages that make the rules work hardest
# (the ~1 MiB benchmark page plain and gzip-compressed, a page of one 1 MiB line,
# an unclosed ad block that every lazy pattern scans to the end), and then reads
# the program's thread stacks in /proc/PID/smaps: a page of a stack counts as
# resident once the thread has touched it, so the largest resident stack is the
# deepest any thread went (an upper bound: it includes the thread's own
# bookkeeping at the top of the reservation). Linux only.
#   bench/proxy/stack_depth.sh [path/to/brindlemoor]   (default: build/native/brindlemoor)
set -euo pipefail
repo=$(cd "$(dirname "$0")/../.." && pwd)
proxy_bin=${1:-$repo/build/native/brindlemoor}
unset http_proxy HTTP_PROXY all_proxy ALL_PROXY no_proxy NO_PROXY
# What the run needs, and (unless a program is named) the program itself.
if [[ $# -gt 0 ]]; then "$repo/tools/install-deps" bench; else "$repo/bench/setup.sh" native; fi
proxy_bin=$(cd "$(dirname "$proxy_bin")" && pwd)/$(basename "$proxy_bin")
[[ -x $proxy_bin ]] || { echo "no proxy program at $proxy_bin (build the target brindlemoor first)" >&2; exit 1; }
reserve_kib=256
if [[ -n $(ss -Hltn 'sport = :8080' 2>/dev/null) ]]; then echo "port 8080 is taken" >&2; exit 1; fi

dir=$(mktemp -d)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$dir"
}
trap cleanup EXIT

mkdir -p "$dir/www" "$dir/brindlemoor"
python3 "$repo/bench/make_html_page.py" "$dir/www/page.html"
gzip -9 -c "$dir/www/page.html" >"$dir/www/page.html.gz"
python3 - "$dir/www" <<'PY'
import sys
d = sys.argv[1]
open(d + "/line.html", "w").write("<html><body>" + "weather banner <b>x</b> " * 45000 + "</body></html>")
open(d + "/unclosed.html", "w").write('<div class="ad">' + "<script src=\"http://x\">" * 40000)
PY
cp "$repo/bench/filters/setting.yaml" "$dir/brindlemoor/setting.yaml"

# The origin: plain files, and the .gz twin sent as Content-Encoding: gzip.
cat >"$dir/origin.py" <<'PY'
import http.server, os, sys
class Handler(http.server.BaseHTTPRequestHandler):
    def do_GET(self):
        name = os.path.basename(self.path.split("?")[0])
        gz = name.endswith(".gz")
        body = open(os.path.join(sys.argv[1], name), "rb").read()
        self.send_response(200)
        self.send_header("Content-Type", "text/html")
        if gz: self.send_header("Content-Encoding", "gzip")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)
    def log_message(self, *args): pass
server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
print(server.server_address[1], flush=True)
server.serve_forever()
PY
python3 "$dir/origin.py" "$dir/www" >"$dir/origin.port" &
pids+=($!)
for _ in $(seq 1 100); do [[ -s $dir/origin.port ]] && break; sleep 0.05; done
origin="http://127.0.0.1:$(cat "$dir/origin.port")"

(cd "$dir/brindlemoor" && exec "$proxy_bin" >/dev/null 2>&1 </dev/null) &
proxy_pid=$!
pids+=("$proxy_pid")
for _ in $(seq 1 100); do curl -s -o /dev/null --max-time 1 http://127.0.0.1:8080/ && break; sleep 0.05; done

for page in page.html page.html.gz line.html unclosed.html; do
  size=$(curl -s --max-time 60 -x http://127.0.0.1:8080 -o /dev/null -w '%{size_download}' "$origin/$page")
  echo "fetched $page through the proxy: $size bytes"
done

# Thread stacks are the anonymous mappings of exactly the reserved size.
awk -v want=$reserve_kib '
  /^[0-9a-f]+-[0-9a-f]+ / { anon = ($6 == ""); next }
  /^Size:/ { size = $2; next }
  /^Rss:/ { if (anon && size == want) { n++; if ($2 > max) max = $2 } }
  END {
    if (n == 0) { print "no thread stacks of " want " KiB found"; exit 1 }
    printf "%d thread stacks of %d KiB; the deepest has touched %d KiB (%.0f%%)\n", n, want, max, 100 * max / want
  }' "/proc/$proxy_pid/smaps"
