# Sourced by the station benchmarks. spread [printf format, default %.3f]: min, median and max of the numbers on
# standard input, on one line without its end.
spread() {
    sort -g | awk -v f="${1:-%.3f}" '{v[NR] = $1} END {m = NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2;
                                                      printf "min " f "  median " f "  max " f, v[1], m, v[NR]}'
}
