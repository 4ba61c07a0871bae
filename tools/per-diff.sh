#!/bin/sh
# Differential check of our aligned PER coder against Erlang's asn1
# (asn1ct, "per" = aligned PER) over every schema module: random values of
# either side through the other side's decoder and encoder, and mutated
# images that both decode (tools/per-diff/per_diff.escript says how).
# Needs erl (Debian: erlang-base erlang-asn1); nothing of the server needs it.
#
#   tools/per-diff.sh [--count N] [--seed S] [--driver PATH] [--work DIR]
#
# Without --driver the driver is built into build/test. Exit status 0 when
# nothing disagrees; the disagreements are listed in WORK/disagreements.txt.
set -e
cd "$(dirname "$0")/.."
count=200
seed=$(date +%s)
driver=
work=build/per-diff
while [ $# -gt 0 ]; do
  case "$1" in
    --count) count=$2; shift 2 ;;
    --seed) seed=$2; shift 2 ;;
    --driver) driver=$2; shift 2 ;;
    --work) work=$2; shift 2 ;;
    *) echo "usage: $0 [--count N] [--seed S] [--driver PATH] [--work DIR]" >&2; exit 2 ;;
  esac
done
command -v erl >/dev/null || { echo "per-diff: erl not found (erlang-base erlang-asn1)" >&2; exit 2; }
if [ -z "$driver" ]; then
  cmake -S . -B build/test -DGW_SANITIZE=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  cmake --build build/test -j3 --target per_diff_driver >/dev/null
  driver=build/test/tools/per-diff/per_diff_driver
fi

# Two Erlang copies of the modules: "code" codes the images, "values" (the
# extensible enumerations without their marker) feeds asn1ct:value.
modules="BASE TERM ACP HSP MON ZARNGW MEDIA CCP LGCP"
rm -rf "$work"
mkdir -p "$work"
python3 tools/per-diff/adapt.py "$work/code" schema/*/*.asn
python3 tools/per-diff/adapt.py --root-only "$work/values" schema/*/*.asn
for d in code values; do
  (cd "$work/$d" && timeout 600 erl -noshell -eval "
     Ms = string:lexemes(\"$modules\", \" \"),
     Bad = [{M, R} || M <- Ms, (R = asn1ct:compile(M, [per, undec_rest])) =/= ok],
     Bad =:= [] orelse io:format(\"~p~n\", [Bad]),
     halt(length(Bad))." </dev/null 2>&1 | grep -v 'is used more than once' || true)
done
ls "$work/code/LGCP.beam" >/dev/null
echo "per-diff: seed $seed, $count values per type and direction"
escript tools/per-diff/per_diff.escript "$work/code" "$work/values" "$driver" "$count" "$seed" "$work"
