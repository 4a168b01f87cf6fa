#!/bin/sh
# Prints the product's size as built and stripped of debug information, and fails when the
# stripped executable outgrows its budget.
#   check_product_size.sh STRIP EXE BUDGET_BYTES
strip=$1 exe=$2 budget=$3
stripped=$(mktemp)
trap 'rm -f "$stripped"' EXIT
"$strip" -o "$stripped" "$exe" || exit 1
built=$(wc -c <"$exe")
size=$(wc -c <"$stripped")
echo "product size: $built bytes as built, $size bytes stripped (budget $budget)"
[ "$size" -le "$budget" ]
