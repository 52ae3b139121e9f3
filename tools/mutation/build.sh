#!/bin/bash
# tools/mutation/build.sh DIR: marks the time, then builds; tools/mutation/test.py DIR then runs
# the tests whose programs this build relinked. For mutants.py:
#   --build "tools/mutation/build.sh build/mut" --test "python3 tools/mutation/test.py build/mut"
# with build/mut configured -DCMAKE_BUILD_TYPE=Release (and -fuse-ld=lld: links are most of a rebuild).
touch "$1/.mut-stamp" && exec ninja -C "$1"
