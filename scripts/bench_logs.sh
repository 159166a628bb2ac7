# Sourced by the log benchmarks: the corpus, the DBC (first argument, default the Prius
# file), the line count (second argument, default 1,000,000) and the corpus's random log
# generator, each checked; makeLog FILE SEED writes a log of that many lines drawn from
# the DBC's frames, unless FILE is there from an earlier run.
corpus=${VEXO_CORPUS_DIR:-../shared/corpus}
dbc=${1:-$corpus/dbc/opendbc__toyota_prius_2010_pt.dbc}
lines=${2:-1000000}
generator=$corpus/../tools/gen_random_log.py
[ -f "$dbc" ] || { echo "bench: no DBC file $dbc (is the corpus at $corpus?)" >&2; exit 1; }
[ -f "$generator" ] || { echo "bench: the log generator $generator is missing" >&2; exit 1; }

makeLog() {
    [ -f "$1" ] || /usr/bin/python3 "$generator" "$dbc" -n "$lines" --seed "$2" -o "$1" 2> /dev/null
}
