#!/usr/bin/env bash
# The main job: build, then run the quen demo on the built-in picture, writing into demo/.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/build.sh
build/bin/quen demo demo
