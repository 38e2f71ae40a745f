#!/bin/sh
# A short, repeatable run of one harness for the test suite:
#   run-short.sh HARNESS SEEDS [LIBFUZZER OPTIONS...]
# libFuzzer writes what it finds into the first corpus directory it is
# given, so that is a scratch directory; the committed seeds stay as they
# are.
set -eu
harness=$1
seeds=$2
shift 2
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
"$harness" "$@" "$scratch" "$seeds"
