#!/usr/bin/env bash
# The run command: installs what is missing, builds Ostrim and starts its demo, a run against a
# simulated GPS receiver and base station. With a display the dialog opens (press Start); without
# one (DISPLAY and WAYLAND_DISPLAY unset) the demo runs headless, drives two laps, prints a
# summary and ends. Arguments go to ostrim, e.g. --headless, --laps 1, --folder DIR.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/deps.sh

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$(nproc)" --target ostrim

exec build/ostrim --demo "$@"
