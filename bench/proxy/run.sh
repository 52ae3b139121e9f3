#!/usr/bin/env bash
# Brindlemoor against tinyproxy and Privoxy, all in front of the same nginx,
# all on 127.0.0.1, in one run. Two tables:
# - against tinyproxy: streaming of a 256 MiB file, 1 KiB requests with 50
#   concurrent clients (ab, one request per connection), relaying a 1 MiB HTML
#   page through an identity rule set, and the proxy's peak resident memory;
# - against Privoxy: the ~1 MiB page through the ten filters of bench/filters
#   (the same rules in both syntaxes; the pages must come out byte-identical),
#   one page at a time and two at once (started together), fetched in turn
#   through each proxy (and straight from nginx, to show what two at once
#   costs the machine); relaying alone (no filters) is measured the same way,
#   and with it the best two at once could be if the two pages' filtering
#   never slowed each other.
#
#   bench/proxy/run.sh [path/to/brindlemoor]      (default: build/native/brindlemoor)
#   REQUESTS=20000 AB_ROUNDS=4 HTML_ROUNDS=20 FILTER_ROUNDS=40 bench/proxy/run.sh   (the defaults)
#   COMPARE=privoxy bench/proxy/run.sh            (one comparison only: tinyproxy or privoxy)
#
# Brindlemoor's port is fixed (8080): the run refuses to start if it is taken.
# Everything else runs on free ports in a temporary directory that is removed
# at the end, with every process it started.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
repo=$(cd "$here/../.." && pwd)
proxy_bin=${1:-$repo/build/native/brindlemoor}
requests=${REQUESTS:-20000}
ab_rounds=${AB_ROUNDS:-4}
html_rounds=${HTML_ROUNDS:-20}
filter_rounds=${FILTER_ROUNDS:-40}
compare=" ${COMPARE:-tinyproxy privoxy} "
concurrency=50
# nginx, tinyproxy and privoxy live in /usr/sbin, which a user's PATH may lack.
PATH=$PATH:/usr/sbin
unset http_proxy HTTP_PROXY https_proxy HTTPS_PROXY all_proxy ALL_PROXY no_proxy NO_PROXY

die() {
    echo "run.sh: $*" >&2
    # What brindlemoor left behind, while the temporary directory still exists.
    if [[ -n ${ours_pid:-} ]]; then
        kill -0 "$ours_pid" 2>/dev/null && echo "brindlemoor (pid $ours_pid) is still running" >&2 ||
            echo "brindlemoor (pid $ours_pid) has ended" >&2
        echo "listening on 8080: $(ss -Hltnp 'sport = :8080' 2>/dev/null)" >&2
        tail -c +4 "$dir/brindlemoor/error.log" 2>/dev/null | tail -5 >&2 || true
        tail -5 "$dir/brindlemoor.out" >&2 2>/dev/null || true
    fi
    exit 1
}

# What the run needs, and (unless a program is named) the program itself.
if [[ $# -gt 0 ]]; then "$repo/tools/install-deps" bench; else "$repo/bench/setup.sh" native; fi
[[ -x $proxy_bin ]] || die "no proxy program at $proxy_bin (build the target brindlemoor first)"
# The proxy runs in a directory of its own: a relative path must still find it.
proxy_bin=$(cd "$(dirname "$proxy_bin")" && pwd)/$(basename "$proxy_bin")
for tool in nginx tinyproxy privoxy ab curl python3 ss timeout cmp; do
    command -v "$tool" >/dev/null || die "$tool is not installed"
done
[[ -f $repo/bench/make_html_page.py ]] || die "bench/make_html_page.py is missing"
[[ -f $repo/bench/filters/setting.yaml && -f $repo/bench/filters/privoxy.filter ]] || die "bench/filters is incomplete"
if [[ -n $(ss -Hltn 'sport = :8080') ]]; then
    die "port 8080 is already in use (Brindlemoor's port is fixed); stop what listens there and run again"
fi

# In memory when possible: tinyproxy syncs its log file after every line, and
# on a disk that alone would set its pace.
base=/tmp
[[ -d /dev/shm && -w /dev/shm ]] && base=/dev/shm
dir=$(mktemp -d "$base/brindlemoor-bench.XXXXXX")
pids=()
cleanup() {
    local pid
    for pid in "${pids[@]}"; do kill -TERM "$pid" 2>/dev/null || true; done
    for pid in "${pids[@]}"; do
        # Bounded: 5 s for a clean end, then it is killed.
        for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
        kill -KILL "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    done
    rm -rf "$dir"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

free_port() {
    python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}

# Waits (at most 10 s) until something accepts connections on the port.
wait_for_port() {
    local port=$1 name=$2
    for _ in $(seq 100); do
        if timeout 1 bash -c "exec 3<>/dev/tcp/127.0.0.1/$port" 2>/dev/null; then return 0; fi
        sleep 0.1
    done
    die "$name did not start listening on port $port"
}

fill() { sed -e "s|@DIR@|$dir|g" -e "s|@PORT@|$2|g" "$here/$1"; }

# The files served by nginx.
mkdir -p "$dir/www" "$dir/nginx-tmp" "$dir/brindlemoor"
head -c $((256 << 20)) /dev/urandom >"$dir/www/big.bin"
head -c 1024 /dev/urandom >"$dir/www/small.bin"
python3 "$repo/bench/make_html_page.py" "$dir/www/page.html"

nginx_port=$(free_port)
fill nginx.conf "$nginx_port" >"$dir/nginx.conf"
nginx -c "$dir/nginx.conf" -e "$dir/nginx-error.log" >"$dir/nginx.out" 2>&1 &
pids+=($!)
wait_for_port "$nginx_port" nginx

tiny_port=$(free_port)
fill tinyproxy.conf "$tiny_port" >"$dir/tinyproxy.conf"
tinyproxy -d -c "$dir/tinyproxy.conf" >"$dir/tinyproxy.out" 2>&1 &
tiny_pid=$!
pids+=($tiny_pid)
wait_for_port "$tiny_port" tinyproxy

# Privoxy with the ten filters on every page, and a second one without
# filters for the cost of relaying alone.
privoxy_port=$(free_port)
plain_port=$(free_port)
mkdir -p "$dir/privoxy"
fill privoxy.conf "$privoxy_port" >"$dir/privoxy/config"
fill privoxy.conf "$plain_port" | sed 's/^actionsfile .*/actionsfile plain.action/' >"$dir/privoxy/plain.config"
cp "$repo/bench/filters/privoxy.filter" "$dir/privoxy/"
printf '{ +filter{bench} }\n/\n' >"$dir/privoxy/bench.action"
printf '{ -filter }\n/\n' >"$dir/privoxy/plain.action"
for config in config plain.config; do
    privoxy --no-daemon "$dir/privoxy/$config" >"$dir/privoxy-$config.out" 2>&1 &
    pids+=($!)
done
wait_for_port "$privoxy_port" privoxy
wait_for_port "$plain_port" "privoxy (no filters)"

# An identity rule set: a filter list with no rules, so every HTML answer
# goes through apply_rules unchanged.
printf -- '--- !zib\nfilter:\n' >"$dir/brindlemoor/setting.yaml"
(cd "$dir/brindlemoor" && exec "$proxy_bin" </dev/null >"$dir/brindlemoor.out" 2>&1) &
ours_pid=$!
pids+=($ours_pid)
# Probed with a real request: a bare connection would be logged as an error.
for _ in $(seq 100); do
    kill -0 "$ours_pid" 2>/dev/null || die "brindlemoor ended at start-up: $(cat "$dir/brindlemoor.out")"
    curl -s -o /dev/null --max-time 2 -x http://127.0.0.1:8080 "http://127.0.0.1:$nginx_port/small.bin" && break
    sleep 0.1
done
[[ -n $(ss -Hltn 'sport = :8080') ]] || die "brindlemoor did not start listening on port 8080"

origin=http://127.0.0.1:$nginx_port
declare -A proxy_of=([nginx]="" [tinyproxy]=127.0.0.1:$tiny_port [privoxy]=127.0.0.1:$privoxy_port
    [privoxy_plain]=127.0.0.1:$plain_port [brindlemoor]=127.0.0.1:8080)
declare -A result

peak_kib() { awk '/^VmHWM:/ {print $2}' "/proc/$1/status" 2>/dev/null || echo 0; }

# Every response body must arrive whole and unchanged.
fetch() {  # name path -> curl's -w output
    local via=${proxy_of[$1]} args=(-s -S --max-time 120 -o "$dir/out" -w "$3")
    [[ -n $via ]] && args+=(-x "http://$via")
    curl "${args[@]}" "$origin/$2" || die "$1: fetching /$2 failed"
    cmp -s "$dir/out" "$dir/www/$2" || die "$1: /$2 arrived damaged or incomplete"
    # Gone before the next fetch: cutting a 256 MiB file short would be
    # counted as that fetch's time.
    rm -f "$dir/out"
}

tinyproxy_names=""
[[ $compare == *" tinyproxy "* ]] && tinyproxy_names="nginx tinyproxy brindlemoor"
for name in $tinyproxy_names; do
    echo "== $name" >&2
    # Streaming: the best of two downloads of the 256 MiB file.
    best=0
    for _ in 1 2; do
        speed=$(fetch "$name" big.bin '%{speed_download}')
        best=$(python3 -c "print(max($best, $speed / 1e6))")
    done
    result[$name,stream]=$best
done
# 1 KiB, 50 clients, one request per connection. The requests go in rounds
# through each in turn, as the HTML fetches below do: over the minutes of a
# run this machine's pace drifts by 15 % and more, and one block per proxy
# would compare them at different paces.
per_round=$((requests / ab_rounds))
declare -A ab_seconds=([nginx]=0 [tinyproxy]=0 [brindlemoor]=0)
for round in $(seq "$ab_rounds"); do
    for name in $tinyproxy_names; do
        # -g: one line per request, for the percentile and the longest connect over all rounds.
        args=(-q -n "$per_round" -c "$concurrency" -s 30 -g "$dir/ab-$name-$round.tsv")
        [[ -n ${proxy_of[$name]} ]] && args+=(-X "${proxy_of[$name]}")
        timeout 300 ab "${args[@]}" "$origin/small.bin" >"$dir/ab-$name.txt" 2>&1 ||
            die "$name: ab failed: $(tail -3 "$dir/ab-$name.txt")"
        failed=$(awk '/^Failed requests:/ {print $3}' "$dir/ab-$name.txt")
        non2xx=$(awk '/^Non-2xx responses:/ {print $3}' "$dir/ab-$name.txt")
        [[ $failed == 0 && -z $non2xx ]] || die "$name: ab saw $failed failed and ${non2xx:-0} non-2xx answers"
        seconds=$(awk '/^Time taken for tests:/ {print $5}' "$dir/ab-$name.txt")
        ab_seconds[$name]=$(python3 -c "print(${ab_seconds[$name]} + $seconds)")
    done
done
for name in $tinyproxy_names; do
    # Columns: start time, seconds, connect, processing, total, waiting (ms).
    # A connect that took a second or more is a dropped SYN (full listen queue).
    read -r "result[$name,rps]" "result[$name,p99]" "result[$name,connect]" < <(python3 - "$dir/ab-$name-"*.tsv <<PY
import sys
connect, total = [], []
for path in sys.argv[1:]:
    for line in open(path).readlines()[1:]:
        fields = line.rstrip("\n").split("\t")
        connect.append(int(fields[2]))
        total.append(int(fields[4]))
total.sort()
print($per_round * $ab_rounds / ${ab_seconds[$name]}, total[int(len(total) * 0.99)], max(connect))
PY
    )
    case $name in
        tinyproxy) result[$name,rss]=$(peak_kib "$tiny_pid") ;;
        brindlemoor) result[$name,rss]=$(peak_kib "$ours_pid") ;;
        *) result[$name,rss]=- ;;
    esac
done
# The 1 MiB HTML page, mean time of several fetches, through each in turn so
# that all three see the same machine.
declare -A html_times=([nginx]="" [tinyproxy]="" [brindlemoor]="")
for _ in $(seq "$html_rounds"); do
    for name in $tinyproxy_names; do
        html_times[$name]+="$(fetch "$name" page.html '%{time_total}'),"
    done
done
# The mean is the figure; the first fetch (a proxy's first page after the ab
# load, with memory the system has to map afresh) and the median show how
# much of it a cold start carries.
for name in $tinyproxy_names; do
    read -r "result[$name,html]" "result[$name,html_first]" "result[$name,html_median]" < <(python3 -c "
import statistics; t = [1000 * x for x in (${html_times[$name]})]
print(statistics.mean(t), t[0], statistics.median(t))")
done
result[brindlemoor,rss_all]=$(peak_kib "$ours_pid")
kill -0 "$ours_pid" 2>/dev/null || die "brindlemoor ended during the run"

[[ -z $tinyproxy_names ]] || python3 - "$((per_round * ab_rounds))" "$concurrency" <<PY
import sys
r = {
    "stream": (${result[nginx,stream]}, ${result[tinyproxy,stream]}, ${result[brindlemoor,stream]}),
    "rps": (${result[nginx,rps]}, ${result[tinyproxy,rps]}, ${result[brindlemoor,rps]}),
    "p99": (${result[nginx,p99]}, ${result[tinyproxy,p99]}, ${result[brindlemoor,p99]}),
    "html": (${result[nginx,html]}, ${result[tinyproxy,html]}, ${result[brindlemoor,html]}),
    "html_first": (${result[nginx,html_first]}, ${result[tinyproxy,html_first]}, ${result[brindlemoor,html_first]}),
    "html_median": (${result[nginx,html_median]}, ${result[tinyproxy,html_median]}, ${result[brindlemoor,html_median]}),
    "connect": (${result[nginx,connect]}, ${result[tinyproxy,connect]}, ${result[brindlemoor,connect]}),
}
rss_tiny, rss_ours, rss_all = ${result[tinyproxy,rss]} / 1024, ${result[brindlemoor,rss]} / 1024, ${result[brindlemoor,rss_all]} / 1024
# (label, key, what the goal bounds, bound): "min"/"max" bound the ratio, "max_ms" Brindlemoor's own figure.
rows = [
    ("streaming 256 MiB (MB/s)", "stream", "min", 2.0),
    ("1 KiB, %s x %s clients (req/s)" % (sys.argv[1], sys.argv[2]), "rps", "min", 1.5),
    ("1 KiB p99 latency (ms)", "p99", "max", 1.0),
    ("1 KiB longest connect (ms)", "connect", "max_ms", 50),
    ("1 MiB HTML, identity rules (ms)", "html", "max", 0.8),
    ("  the first of those fetches (ms)", "html_first", "info", None),
    ("  their median (ms)", "html_median", "info", None),
]
print("%-34s %10s %10s %12s %8s  %s" % ("", "nginx", "tinyproxy", "brindlemoor", "ratio", "goal"))
for label, key, kind, bound in rows:
    direct, tiny, ours = r[key]
    ratio = ours / tiny if tiny else float("nan")
    if kind == "min":
        goal, ok = "ratio >= %g" % bound, ratio >= bound
    elif kind == "max":
        goal, ok = "ratio <= %g" % bound, ratio <= bound
    elif kind == "max_ms":
        goal, ok = "<= %g ms" % bound, ours <= bound
    else:
        print("%-34s %10.1f %10.1f %12.1f %8.2f" % (label, direct, tiny, ours, ratio))
        continue
    print("%-34s %10.1f %10.1f %12.1f %8.2f  %s %s" % (label, direct, tiny, ours, ratio, goal,
                                                      "met" if ok else "NOT met"))
print("%-34s %10s %10.1f %12.1f %8s  %s %s" % ("peak RSS after the ab load (MiB)", "-", rss_tiny, rss_ours, "",
      "<= 16 MiB", "met" if rss_ours <= 16 else "NOT met"))
print("%-34s %10s %10s %12.1f" % ("peak RSS over the whole run (MiB)", "-", "", rss_all))
print("(ratio = brindlemoor / tinyproxy; nginx = direct, no proxy)")
PY

if [[ $compare == *" privoxy "* ]]; then
    # Clients started by the shell begin milliseconds apart, and each curl's
    # start-up (~20 ms of processor time) competes with the other's fetch. So
    # every curl first asks start_together.py, which answers the n of a round
    # at once, and only then fetches the page: the fetches start together.
    "$here/start_together.py" >"$dir/start_together.port" 2>"$dir/start_together.err" &
    pids+=($!)
    for _ in $(seq 100); do [[ -s $dir/start_together.port ]] && break; sleep 0.1; done
    together=http://127.0.0.1:$(cat "$dir/start_together.port")
    [[ $together != *: ]] || die "start_together.py did not start: $(cat "$dir/start_together.err")"

    # Seconds until `n` fetches of the page started together (through a proxy,
    # or straight from nginx) have all ended (curl's own times of the page
    # alone); every page is checked against the reference.
    at_once() {  # name n expected-page
        local via=${proxy_of[$1]} i expected=$3 proxy=() started=() key=$BASHPID.$RANDOM
        [[ -n $via ]] && proxy=(-x "http://$via")
        for i in $(seq "$2"); do
            curl -s --max-time 10 -o /dev/null "$together/$key/$2" --next \
                -s --max-time 60 "${proxy[@]}" -o "$dir/at-once-$i.html" -w '%{time_total}\n' \
                "$origin/page.html" >"$dir/at-once-$i.time" &
            started+=($!)
        done
        wait "${started[@]}" || die "$1: a fetch of the page failed"
        for i in $(seq "$2"); do cmp -s "$dir/at-once-$i.html" "$expected" || die "$1: a page came out different"; done
        sort -g "$dir"/at-once-*.time | tail -1
        rm -f "$dir"/at-once-*
    }
    # Relaying alone: Privoxy without filters, Brindlemoor with its identity
    # rules; one page and two at once, as the filtered pages are below. Two
    # at once here is what moving two pages through a proxy costs the machine.
    declare -A relay=([privoxy,1]=0 [privoxy,2]=0 [brindlemoor,1]=0 [brindlemoor,2]=0)
    for _ in $(seq "$filter_rounds"); do
        for name in privoxy_plain brindlemoor; do
            for n in 1 2; do
                t=$(at_once "$name" "$n" "$dir/www/page.html")
                relay[${name%_plain},$n]=$(python3 -c "print(${relay[${name%_plain},$n]} + $t)")
            done
        done
    done

    # Brindlemoor takes the same ten filters by a reload.
    cp "$repo/bench/filters/setting.yaml" "$dir/brindlemoor/setting.yaml"
    kill -HUP "$ours_pid"
    for _ in $(seq 100); do
        curl -s --max-time 10 -x http://127.0.0.1:8080 -o "$dir/ours.html" "$origin/page.html" &&
            ! cmp -s "$dir/ours.html" "$dir/www/page.html" && break
        sleep 0.1
    done
    curl -s -S --max-time 30 -x "http://${proxy_of[privoxy]}" -o "$dir/privoxy.html" "$origin/page.html" ||
        die "privoxy: fetching /page.html failed"
    cmp -s "$dir/ours.html" "$dir/www/page.html" && die "brindlemoor did not filter the page after the reload"
    cmp -s "$dir/privoxy.html" "$dir/www/page.html" && die "privoxy did not filter the page"
    cmp -s "$dir/ours.html" "$dir/privoxy.html" ||
        die "the filtered pages differ: compare $dir/ours.html and $dir/privoxy.html ($(cmp "$dir/ours.html" "$dir/privoxy.html" 2>&1 || true))"
    echo "== filters: both pages byte-identical ($(stat -c %s "$dir/ours.html") bytes)" >&2

    declare -A filtered=([privoxy,1]=0 [privoxy,2]=0 [brindlemoor,1]=0 [brindlemoor,2]=0 [nginx,1]=0 [nginx,2]=0)
    # In turn, so that all see the same machine. nginx alone (no proxy) shows
    # what two fetches at once cost the machine itself: origin and clients
    # share the same two cores.
    for _ in $(seq "$filter_rounds"); do
        for name in privoxy brindlemoor nginx; do
            expected=$dir/ours.html
            [[ $name == nginx ]] && expected=$dir/www/page.html
            for n in 1 2; do
                t=$(at_once "$name" "$n" "$expected")
                filtered[$name,$n]=$(python3 -c "print(${filtered[$name,$n]} + $t)")
            done
        done
    done
    python3 - "$filter_rounds" "${filtered[privoxy,1]}" "${filtered[privoxy,2]}" "${filtered[brindlemoor,1]}" \
        "${filtered[brindlemoor,2]}" "${relay[privoxy,1]}" "${relay[brindlemoor,1]}" "${filtered[nginx,1]}" \
        "${filtered[nginx,2]}" "${relay[privoxy,2]}" "${relay[brindlemoor,2]}" <<'PY'
import sys
rounds = int(sys.argv[1])
p1, p2, b1, b2, p0, b0, n1, n2, p0_2, b0_2 = (float(x) / rounds * 1000 for x in sys.argv[2:])
print()
print("%-34s %10s %12s %8s  %s" % ("ten filters, ~1 MiB page", "privoxy", "brindlemoor", "ratio", "goal"))
print("%-34s %10.1f %12.1f %8.2f" % ("no filters: relaying alone (ms)", p0, b0, b0 / p0))
print("%-34s %10.2f %12.2f" % ("  two at once / one", p0_2 / p0, b0_2 / b0))
print("%-34s %10.1f %12.1f %8.2f  %s %s" % ("one page (ms)", p1, b1, b1 / p1, "ratio <= 0.5",
                                            "met" if b1 / p1 <= 0.5 else "NOT met"))
print("%-34s %10.1f %12.1f %8.2f" % ("two pages at once (ms)", p2, b2, b2 / p2))
print("%-34s %10.2f %12.2f %8s  %s %s" % ("two at once / one", p2 / p1, b2 / b1, "", "brindlemoor <= 1.3",
                                          "met" if b2 / b1 <= 1.3 else "NOT met"))
# Relaying two pages at once as measured, each page's filtering on a core of
# its own: what two at once would take if filtering added no cost for the
# other page. The closer the figure above comes to it, the less the two
# pages' filtering slows each other.
print("%-34s %10.2f %12.2f  (relaying at once as measured, filtering fully parallel)" %
      ("  bound by the relaying", (p0_2 + p1 - p0) / p1, (b0_2 + b1 - b0) / b1))
print("%-34s %10.2f  (no proxy: the machine's own cost of two at once)" % ("  two at once / one, nginx alone", n2 / n1))
print("%-34s %10.1f %12.1f %8.2f" % ("filtering: one page - relaying (ms)", p1 - p0, b1 - b0, (b1 - b0) / (p1 - p0)))
print("(ratio = brindlemoor / privoxy; each time is a whole fetch with curl, relay included, two at once started")
print(" together; %d rounds)" % rounds)
PY
fi
errors=$(tail -c +4 "$dir/brindlemoor/error.log" 2>/dev/null | grep -c . || true)
if [[ $errors -gt 0 ]]; then
    echo "brindlemoor wrote $errors error lines during the run; the first ones:" >&2
    tail -c +4 "$dir/brindlemoor/error.log" | sed -n 1,5p >&2
fi
