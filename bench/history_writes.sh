#!/usr/bin/env bash
# The history's writes before and after the journal, in one run (docs/performance.md, "History
# writes"):
#
#   bench/history_writes.sh BASELINE_BUILD [BUILD]
#
# BASELINE_BUILD is a build folder of the commit before the journal with its HistoryBench built
# (`cmake --build BASELINE_BUILD --target HistoryBench`); BUILD defaults to build/dev.
set -euo pipefail
cd "$(dirname "$0")/.."
baseline="$1"
build="${2:-build/dev}"

echo "== before (${baseline}): one provider's record and whole save; loading"
"${baseline}/bench/HistoryBench" --benchmark_filter='BM_RecordAndSave$|BM_LoadStore$' \
    --benchmark_repetitions=3 --benchmark_report_aggregates_only=true
echo "== after (${build})"
"${build}/bench/HistoryBench" --benchmark_filter='BM_LoadStore$' \
    --benchmark_repetitions=3 --benchmark_report_aggregates_only=true
"${build}/bench/HistoryBench" \
    --benchmark_filter='BM_RefreshSavedWhole|BM_Refresh/|BM_LoadStoreWithFullJournal'
