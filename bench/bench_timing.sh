# Timing helpers shared by the benchmarks (sourced, not run).

# calc EXPRESSION: the value, six decimals.
calc() { awk "BEGIN { printf \"%.6f\", $1 }"; }
# The median of the numbers on stdin, one per line.
median() { sort -g | awk '{a[NR]=$1} END {print (NR % 2) ? a[(NR + 1) / 2] : (a[NR / 2] + a[NR / 2 + 1]) / 2}'; }
timed() {  # timed COMMAND... -> seconds on stdout, output discarded
  local start end
  start=$(date +%s.%N)
  "$@" >/dev/null
  end=$(date +%s.%N)
  calc "$end - $start"
}
