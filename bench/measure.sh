# Timing helpers shared by the benchmark scripts (sourced, not run).
#
# Expects: $bench (zw_bench, whose `run` prints "wall peak-KiB written-B ... cpu"),
# $runs (repetitions). PREPARE, when set, is evaluated before each repetition.
# measure sets m_time, m_cpu (medians), m_written (median), m_mem (the largest peak);
# reference takes the last measure as the base of the ratios row prints.

# The build to measure ($1; default build/ beside the sources) and what every benchmark
# uses: sets build, zipwriter, bench (zw_bench), runs and python. Further arguments name
# more programs of the build (bin/NAME) that must be there.
find_tools() {
  build="$(cd "${1:-$(dirname "${BASH_SOURCE[0]}")/../build}" && pwd)"
  zipwriter="$build/bin/zipwriter"
  bench="$build/bin/zw_bench"
  runs="${RUNS:-3}"
  python="$(command -v /usr/bin/python3 || command -v python3)"
  local tool
  for tool in zipwriter zw_bench "${@:2}"; do
    [[ -x "$build/bin/$tool" ]] || { echo "missing $build/bin/$tool (build that target)" >&2; exit 2; }
  done
}
# Peer tools that must be installed.
need_commands() {
  local tool
  for tool in "$@"; do
    command -v "$tool" >/dev/null || { echo "$tool is needed (scripts/setup.sh installs it)" >&2; exit 2; }
  done
}

median() { sort -g | sed -n "$(((runs + 1) / 2))p"; }
measure() {
  local times=() cpus=() mems=() writes=() line t m w c
  for ((r = 0; r < runs; r++)); do
    [[ -n "${PREPARE:-}" ]] && eval "$PREPARE"
    line="$("$bench" run "$@" 2>&1 >/dev/null | tail -n 1)"
    read -r t m w _ c <<<"$line"
    times+=("$t"); mems+=("$m"); writes+=("$w"); cpus+=("$c")
  done
  m_time="$(printf '%s\n' "${times[@]}" | median)"
  m_cpu="$(printf '%s\n' "${cpus[@]}" | median)"
  m_written="$(printf '%s\n' "${writes[@]}" | median)"
  m_mem="$(printf '%s\n' "${mems[@]}" | sort -g | tail -n 1)"
}
reference() { ref_time="$m_time"; ref_cpu="$m_cpu"; }
row() {
  local ratio cratio
  ratio="$(awk -v a="$m_time" -v b="$ref_time" 'BEGIN { if (b > 0) printf "%.2f", a / b; else print "-" }')"
  cratio="$(awk -v a="$m_cpu" -v b="$ref_cpu" 'BEGIN { if (b > 0) printf "%.2f", a / b; else print "-" }')"
  printf '%-34s %8.3f s %6sx %8.3f s %6sx %9d KiB %12d B\n' "$1" "$m_time" "$ratio" "$m_cpu" \
    "$cratio" "$m_mem" "$m_written"
}
header() {
  echo
  echo "## $1"
  printf '%-34s %10s %7s %10s %7s %13s %14s\n' tool wall ratio cpu ratio "peak memory" written
}
