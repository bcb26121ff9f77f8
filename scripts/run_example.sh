#!/usr/bin/env bash
# Builds tri2stl and runs it on examples/input.txt in build/example/.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install_dependencies.sh
cmake --preset release >/dev/null
cmake --build --preset release --target tri2stl
mkdir -p build/example
cp examples/input.txt build/example/input.txt
(cd build/example && ../release/converter/tri2stl) && status=0 || status=$?
echo "exit status $status; output: $(pwd)/build/example/output.stl"
exit "$status"
