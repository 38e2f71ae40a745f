#!/bin/sh
# Runs each command line given, in turn, so that one guest boot serves
# several suites; every one runs, and the status says whether all passed.
status=0
for line in "$@"; do
  echo "== $line"
  sh -c "$line" || status=1
done
exit $status
