#!/usr/bin/env bash
# The cost of compressed HTML: the same 1 MiB page (bench/make_html_page.py)
# fetched through Brindlemoor with the 20 rules of bench/zib/setting.yaml,
# once as nginx sends it gzip-compressed (the proxy decodes, filters and
# sends identity) and once uncompressed, alternately in one run. Both must
# come back byte-identical. nginx serves a file compressed beforehand, so
# the origin's cost is alike for both; the direct fetches (no proxy) show it.
# Prints the mean time of each and their ratio.
#
#   bench/proxy/gzip_html.sh [path/to/brindlemoor]     (default: build/native/brindlemoor)
#   ROUNDS=30 bench/proxy/gzip_html.sh                 (the default)
#
# Brindlemoor's port is fixed (8080): the run refuses to start if it is taken.
# Everything else lives in a temporary directory removed at the end, with
# every process the run started.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
repo=$(cd "$here/../.." && pwd)
proxy_bin=${1:-$repo/build/native/brindlemoor}
rounds=${ROUNDS:-30}
# nginx lives in /usr/sbin, which a user's PATH may lack.
PATH=$PATH:/usr/sbin
unset http_proxy HTTP_PROXY https_proxy HTTPS_PROXY all_proxy ALL_PROXY no_proxy NO_PROXY

die() {
    echo "gzip_html.sh: $*" >&2
    exit 1
}
# What the run needs, and (unless a program is named) the program itself.
if [[ $# -gt 0 ]]; then "$repo/tools/install-deps" bench; else "$repo/bench/setup.sh" native; fi
[[ -x $proxy_bin ]] || die "no proxy program at $proxy_bin"
proxy_bin=$(cd "$(dirname "$proxy_bin")" && pwd)/$(basename "$proxy_bin")
for tool in nginx curl python3 ss cmp; do command -v "$tool" >/dev/null || die "$tool is not installed"; done
[[ -z $(ss -Hltn 'sport = :8080') ]] || die "port 8080 is already in use"

dir=$(mktemp -d /tmp/brindlemoor-gzip-bench.XXXXXX)
pids=()
cleanup() {
    local pid
    for pid in "${pids[@]}"; do kill -TERM "$pid" 2>/dev/null || true; done
    for pid in "${pids[@]}"; do
        for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
        kill -KILL "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    done
    rm -rf "$dir"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

wait_for_port() {
    for _ in $(seq 100); do
        timeout 1 bash -c "exec 3<>/dev/tcp/127.0.0.1/$1" 2>/dev/null && return 0
        sleep 0.1
    done
    die "$2 did not start listening on port $1"
}

mkdir -p "$dir/www" "$dir/tmp" "$dir/brindlemoor"
python3 "$repo/bench/make_html_page.py" "$dir/www/page.html"
python3 -c 'import gzip, sys; open(sys.argv[2], "wb").write(gzip.compress(open(sys.argv[1], "rb").read(), 9))' \
    "$dir/www/page.html" "$dir/www/page.html.gz"
nginx_port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
# gzip also for HTTP/1.0 requests: the proxy asks its origins in HTTP/1.0.
cat >"$dir/nginx.conf" <<CONF
daemon off; master_process off; worker_processes 1; pid $dir/nginx.pid;
error_log $dir/nginx-error.log warn;
events { worker_connections 64; }
http {
    access_log off; keepalive_timeout 0;
    client_body_temp_path $dir/tmp; proxy_temp_path $dir/tmp; fastcgi_temp_path $dir/tmp;
    uwsgi_temp_path $dir/tmp; scgi_temp_path $dir/tmp;
    types { text/html html; }
    gzip_static on; gzip_http_version 1.0;
    server { listen 127.0.0.1:$nginx_port; root $dir/www; }
}
CONF
nginx -c "$dir/nginx.conf" -e "$dir/nginx-error.log" >/dev/null 2>&1 &
pids+=($!)
wait_for_port "$nginx_port" nginx

cp "$repo/bench/zib/setting.yaml" "$dir/brindlemoor/setting.yaml"
(cd "$dir/brindlemoor" && exec "$proxy_bin" </dev/null >"$dir/brindlemoor.out" 2>&1) &
pids+=($!)
wait_for_port 8080 brindlemoor

url=http://127.0.0.1:$nginx_port/page.html
size=$(curl -s -H 'Accept-Encoding: gzip' "$url" | wc -c)
[[ $size -lt $(wc -c <"$dir/www/page.html") ]] || die "nginx did not send the compressed page"
fetch() {  # out-file [curl options] -> time in seconds, through the proxy
    local out=$1
    shift
    curl -s -S --max-time 60 -x http://127.0.0.1:8080 -o "$out" -w '%{time_total}' "$@" "$url"
}
direct() {  # [curl options] -> time in seconds, straight from nginx
    curl -s -S --max-time 60 -o /dev/null -w '%{time_total}' "$@" "$url"
}
fetch "$dir/plain" >/dev/null
fetch "$dir/gzip" -H 'Accept-Encoding: gzip' >/dev/null
cmp -s "$dir/plain" "$dir/gzip" || die "the gzip page and the plain page came back different"

plain=0 gzip=0 direct_plain=0 direct_gzip=0
for _ in $(seq "$rounds"); do
    plain=$(python3 -c "print($plain + $(fetch "$dir/out"))")
    gzip=$(python3 -c "print($gzip + $(fetch "$dir/out" -H 'Accept-Encoding: gzip'))")
    direct_plain=$(python3 -c "print($direct_plain + $(direct))")
    direct_gzip=$(python3 -c "print($direct_gzip + $(direct -H 'Accept-Encoding: gzip'))")
done
python3 - "$plain" "$gzip" "$direct_plain" "$direct_gzip" "$rounds" "$(wc -c <"$dir/www/page.html")" "$size" <<'PY'
import sys
plain, gz, d_plain, d_gz = (float(v) for v in sys.argv[1:5])
rounds, page, packed = int(sys.argv[5]), int(sys.argv[6]), int(sys.argv[7])
ms = lambda total: total / rounds * 1000
print("1 MiB HTML page (%d bytes; %d gzip-compressed) through 20 rules, mean of %d fetches:" % (page, packed, rounds))
print("%-14s %14s %14s" % ("", "uncompressed", "gzip"))
print("%-14s %11.1f ms %11.1f ms" % ("via the proxy", ms(plain), ms(gz)))
print("%-14s %11.1f ms %11.1f ms" % ("direct", ms(d_plain), ms(d_gz)))
print("ratio gzip / uncompressed through the proxy: %.2f" % (gz / plain))
PY
