#!/bin/sh
# The serial tests on pseudo-terminal lines, two test programs at a time, niced, while a
# busy loop keeps every processor busy; then brackwater-bell while another user's FIFO and
# file swap at the old lock path of its line.
#
#   bench/serial-side-by-side.sh [BUILD_DIR [ROUNDS [FIFO_RUNS]]]
#
# BUILD_DIR (default build) holds test_bell, test_link, test_tools, brackwater-bell and
# brackwater-sim.
# Each round runs the link's simulator tests (test_link) beside the real-port tests of
# test_bell, then the tool's simulator tests (test_tools) beside the link's again; a failed
# test is a lost reply (each of them waits for its terminal's answer). Prints the
# lost replies per round and in all, and the runs of the FIFO trial that hung (killed after
# 20 s). Exits 1 when anything was lost or hung.
set -u
build=${1:-build}
rounds=${2:-20}
fifoRuns=${3:-50}
out=$(mktemp -d /tmp/bw-side-by-side.XXXXXX)
export QT_QPA_PLATFORM=offscreen

hogs=""
for _ in $(seq "$(nproc)"); do
    sh -c 'while :; do :; done' &
    hogs="$hogs $!"
done
trap 'kill $hogs 2>/dev/null' EXIT INT TERM

# One program of the pair, niced; its failed tests are counted as lost replies.
run() {
    name=$1
    shift
    nice -n 10 "$build/tests/$name" "$@" >"$out/$name-$round.txt" 2>&1
}
lost=0
for round in $(seq "$rounds"); do
    run test_link --gtest_filter='LinkSim.*PseudoTerminal*:LinkSetPort.*' &
    a=$!
    run test_bell --gtest_filter='RealPortTest.*' &
    b=$!
    wait $a $b
    run test_tools --gtest_filter='BellToolOnSimulator.*' &
    a=$!
    run test_link --gtest_filter='LinkSim.*PseudoTerminal*:LinkSetPort.*' &
    b=$!
    wait $a $b
    n=$(cat "$out"/*-"$round".txt | grep -c '^\[  FAILED  \] [A-Za-z]*\.[A-Za-z]* (')
    lost=$((lost + n))
    echo "round $round: $n lost $(cat "$out"/*-"$round".txt | sed -n 's/^\[  FAILED  \] \([A-Za-z]*\.[A-Za-z]*\).*/\1/p' | sort -u | tr '\n' ' ')"
done
echo "side by side: $rounds rounds, $lost lost replies"

# Another user's FIFO and file swapping at the lock path the line had under Qt's port.
sim=$(mktemp /tmp/bw-fifo-sim.XXXXXX)
"$build/brackwater-sim" --addr 9 >"$sim" 2>&1 &
simPid=$!
for _ in $(seq 50); do
    grep -q '^pty ' "$sim" && break
    sleep 0.1
done
pty=$(sed -n 's/^pty //p' "$sim" | head -1)
lock=/var/lock/LCK..$(echo "${pty#/dev/}" | tr / _)
(
    while :; do
        rm -f "$lock"; mkfifo "$lock" 2>/dev/null
        rm -f "$lock"; : >"$lock"
    done
) &
swapper=$!
hung=0
failed=0
for _ in $(seq "$fifoRuns"); do
    timeout 20 "$build/brackwater-bell" --port "$pty" --line-wait 0 test 9 >/dev/null 2>&1
    rc=$?
    [ $rc -eq 124 ] && hung=$((hung + 1))
    [ $rc -ne 0 ] && [ $rc -ne 124 ] && failed=$((failed + 1))
done
kill $swapper $simPid 2>/dev/null
wait $swapper $simPid 2>/dev/null
rm -f "$lock" "$sim"
echo "racing FIFO at $lock: $fifoRuns runs, $hung hung, $failed without an answer"
[ $lost -eq 0 ] && [ $hung -eq 0 ] && [ $failed -eq 0 ]
