#!/usr/bin/env bash
# The demonstration behind "./build.sh run": shows the parts that exist at work
# in a scratch registry, so that nothing on the machine is touched.
set -euo pipefail
BUILD=${1:-build}
BIN=$BUILD/bin
export NORV_REGISTRY_DIR=$(mktemp -d)
trap 'rm -rf "$NORV_REGISTRY_DIR"' EXIT
echo "Scratch registry in $NORV_REGISTRY_DIR"
ls "$BIN"
