#!/usr/bin/env bash
# Installs what the benchmarks need (tools/install-deps bench) and builds what they measure.
#   bench/setup.sh native              build/native/brindlemoor, the program the proxy benchmark runs
#   bench/setup.sh bench [TARGET...]   build/bench (Release) with the named benchmark programs (default: all)
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
cd "$repo"
tools/install-deps bench
what=${1:-native}
[ $# -gt 0 ] && shift
case $what in
    native)
        cmake -G Ninja -S . -B build/native -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
        ninja -C build/native brindlemoor
        ;;
    bench)
        cmake -G Ninja -S . -B build/bench -DCMAKE_BUILD_TYPE=Release -DBRINDLEMOOR_BENCH=ON \
            -DBRINDLEMOOR_TESTS=OFF >/dev/null
        ninja -C build/bench "$@"
        ;;
    *) echo "bench/setup.sh: unknown build '$what' (native, bench)" >&2; exit 2 ;;
esac
