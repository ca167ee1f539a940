#!/usr/bin/env bash
# Sets up, builds the tool (Release, in build/) and starts it.
# The tool works on the network the machine is on: see docs/user-guide.md before pressing "Search all".
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh run
# Every setting it needs, given each time: another script may have left others in the cache.
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF -DSANITIZE=
cmake --build build -j2 --target callpanel-tool
exec build/app/callpanel-tool
