#!/usr/bin/env bash
# Sets up, builds both programs (Release, in build/): the window callpanel-tool and the command line
# callpanel; says where they are and starts the window.
# The tool works on the network the machine is on: see docs/user-guide.md before pressing "Search all".
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh run
# Every setting it needs, given each time: another script may have left others in the cache.
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF -DSANITIZE=
cmake --build build -j2 --target callpanel-tool callpanel
here=$(pwd)
echo "run.sh: the window is $here/build/app/callpanel-tool (starting it now)"
echo "run.sh: the command line is $here/build/cli/callpanel (try: build/cli/callpanel --help)"
exec build/app/callpanel-tool
