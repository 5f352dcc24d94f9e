#!/usr/bin/env bash
# Runs the ctest suite of a build folder: run-unit.sh <build> [ctest args...]
# (CTEST_TIMEOUT sets each case's limit in seconds, 300 unless set.)
#
# As root it runs in a network namespace of its own (loopback only) in which
# the server's fixed ports, and the first ports virtual servers are given,
# are kept out of the ephemeral range: tests that hold thousands of client
# connections then never take 34347, 34348 or 35001 to 35010 as a local port
# from under the tests that serve on them, and nothing else on the machine
# meets the suite's servers. Elsewhere it runs as it is.
set -euo pipefail
build=$(realpath "$1")
shift
jobs=${JOBS:-$(nproc)}
timeout=${CTEST_TIMEOUT:-300}
cd "$build"
if [[ $(id -u) -eq 0 ]] && command -v ip >/dev/null && unshare -n true 2>/dev/null; then
  exec unshare -n bash -c '
    ip link set lo up
    echo 34347-34348,35001-35010 > /proc/sys/net/ipv4/ip_local_reserved_ports
    exec "$@"' bash ctest --output-on-failure -j "$jobs" --timeout "$timeout" "$@"
fi
exec ctest --output-on-failure -j "$jobs" --timeout "$timeout" "$@"
