# shellcheck shell=bash
# The starting stores of the process benchmarks and what each row must meet: the one list that
# bench/run.sh, bench/instructions.sh and (through the table make_stores writes) bench/report.py
# read. Sourced, not run.
#
# One store a line: name, unrelated values, baskets, their layout (old, current), encoding
# (regedit4, utf16), timed runs a round, CPU goals against floor (b) for the registration and the
# removal, the memory goal (twice: the empty store's registration plus twice the larger store;
# a number: that many times the larger store), and the label the tables show. The current list of
# 333 baskets is the reference for what converting the old one costs: the same work but the
# conversion. The 1,000,000-value UTF-16 store (152 MB) takes a few runs a round, not ten.
bench_server_path='C:\Program Files\Larkspan\band.dll'
bench_stores=(
  "empty 0 0 old regedit4 10 1.1 1.1 twice empty store"
  "baskets333 0 333 old regedit4 10 1.3 1.2 twice old list of 333 baskets"
  "current333 0 333 current regedit4 10 1.2 1.2 twice current list of 333 baskets"
  "values1000 1000 0 old regedit4 10 1.1 1.1 twice 1,000 unrelated values"
  "values10000 10000 0 old regedit4 10 1.2 1.2 twice 10,000 unrelated values"
  "values100000 100000 0 old regedit4 10 1.2 1.2 twice 100,000 unrelated values"
  "values1000000 1000000 0 old regedit4 10 1.2 1.2 1.3 1,000,000 unrelated values"
  "utf16_100000 100000 0 old utf16 10 1.0 1.0 twice 100,000 unrelated values, UTF-16"
  "utf16_1000000 1000000 0 old utf16 3 1.2 1.2 1.3 1,000,000 unrelated values, UTF-16"
)

# make_stores FOLDER TOOL MAKER: writes FOLDER/NAME.reg for each store but the empty one, which
# is no file, and FOLDER/NAME.registered.reg, the same store with the band registered by TOOL
# (where the removal starts), and FOLDER/stores.tsv: name, runs, goals and label, tab-separated.
# Uses FOLDER/work.reg as the store while it registers.
make_stores() {
  local folder=$1 tool=$2 maker=$3 entry name values baskets layout encoding runs register
  local remove memory label
  : >"$folder/stores.tsv"
  for entry in "${bench_stores[@]}"; do
    read -r name values baskets layout encoding runs register remove memory label <<<"$entry"
    if [ "$name" != empty ]; then
      if [ "$layout" = current ]; then set -- current; else set --; fi
      "$maker" "$values" "$baskets" "$folder/$name.reg" "$@"
    fi
    if [ "$encoding" = utf16 ]; then
      # As regedit /e writes it: a byte order mark, then the text in UTF-16LE under its header.
      { printf '\377\376'
        sed '1s/^REGEDIT4/Windows Registry Editor Version 5.00/' "$folder/$name.reg" |
          iconv -f latin1 -t UTF-16LE; } >"$folder/$name.utf16"
      mv "$folder/$name.utf16" "$folder/$name.reg"
    fi
    rm -f "$folder/work.reg"
    if [ -f "$folder/$name.reg" ]; then cp "$folder/$name.reg" "$folder/work.reg"; fi
    LARKSPAN_REGISTRY=$folder/work.reg "$tool" "$bench_server_path"
    # A store the program refused would time a run that does nothing.
    if [ -f "$folder/$name.reg" ] && cmp -s "$folder/$name.reg" "$folder/work.reg"; then
      echo "the registration changed nothing in the store $name" >&2
      return 1
    fi
    mv "$folder/work.reg" "$folder/$name.registered.reg"
    printf '%s\t%s\t%s\t%s\t%s\t%s\n' "$name" "$runs" "$register" "$remove" "$memory" "$label" \
      >>"$folder/stores.tsv"
  done
}

# place_store FOLDER NAME STORE: the command that puts the starting store NAME (or
# NAME.registered) of FOLDER at STORE, or removes STORE where NAME is no file.
place_store() {
  if [ -f "$1/$2.reg" ]; then echo "cp $1/$2.reg $3"; else echo "rm -f $3"; fi
}
