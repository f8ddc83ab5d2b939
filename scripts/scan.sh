#!/usr/bin/env bash
# The main job: builds Tq3480P.ds and drives it under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
bash scripts/build.sh win
echo "Tq3480P.ds built: build/win/Tq3480P.ds"
