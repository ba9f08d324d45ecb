#!/usr/bin/env bash
# Encoder test report: runs a matrix of clips and settings through the bench's console
# program and writes results.json, results.csv and report.html (build/report by default).
#   bash scripts/report.sh [MATRIX] [--out DIR] [--jobs N] [--baseline OLD/results.json]
#                          [--scheduler tcp://HOST:PORT] [--isolation prefix|shared]
set -uo pipefail
source "$(dirname "$0")/common.sh"
bash "$QUORLIN_ROOT/scripts/setup.sh" >&2 || exit 2
export PYTHONPATH="$QUORLIN_ROOT${PYTHONPATH:+:$PYTHONPATH}"
exec /usr/bin/python3 -m benchreport "$@"
