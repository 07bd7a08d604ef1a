#!/usr/bin/env bash
# Line and branch coverage of the product folders over every CTest entry
# (fuzz-corpus replays included) of a Debug build with gcov counters.
# Usage: scripts/coverage.sh [build folder, default build-cov]
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/common.sh
qor_install_deps
command -v gcovr >/dev/null || qor_as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq gcovr
dir="${1:-build-cov}"
cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DQOR_COVERAGE=ON -DQOR_BENCH=OFF >/dev/null
cmake --build "$dir" -- -k 0
find "$dir" -name '*.gcda' -delete
(cd "$dir" && QT_QPA_PLATFORM=offscreen ctest -j "$(qor_jobs)" --timeout 900 >/dev/null) || true
# Product code only: tests, fuzz targets, benchmarks, tools and generated
# files are not measured.
filters=()
for folder in kernel host graphics widgets markup browser layout net security content services player; do
  filters+=(--filter "$PWD/$folder/")
done
gcovr -r . "${filters[@]}" --exclude "$PWD/$dir/" --exclude '.*/tests/.*' \
  --gcov-ignore-parse-errors -j "$(qor_jobs)" --object-directory "$dir" \
  --txt "$dir/coverage.txt" --json-summary "$dir/coverage-summary.json" "$dir"
python3 - "$dir/coverage-summary.json" <<'PY'
import json, sys, collections
data = json.load(open(sys.argv[1]))
totals = collections.defaultdict(lambda: [0, 0, 0, 0])
for f in data["files"]:
    folder = f["filename"].split("/")[0]
    t = totals[folder]
    t[0] += f["line_covered"]; t[1] += f["line_total"]
    t[2] += f["branch_covered"]; t[3] += f["branch_total"]
print(f"{'folder':10} {'lines':>16} {'branches':>18}")
for folder, (lc, lt, bc, bt) in sorted(totals.items()):
    print(f"{folder:10} {100*lc/max(lt,1):6.1f}% {lc:5}/{lt:<5} {100*bc/max(bt,1):6.1f}% {bc:6}/{bt:<6}")
lc = sum(t[0] for t in totals.values()); lt = sum(t[1] for t in totals.values())
bc = sum(t[2] for t in totals.values()); bt = sum(t[3] for t in totals.values())
print(f"{'all':10} {100*lc/max(lt,1):6.1f}% {lc:5}/{lt:<5} {100*bc/max(bt,1):6.1f}% {bc:6}/{bt:<6}")
PY
