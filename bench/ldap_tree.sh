#!/usr/bin/env bash
# Measures the switch to a live LDAP tree that carries every schema Debian's OpenLDAP
# ships (/etc/ldap/schema, all but one, below): slapd is started on a free loopback port with its own
# configuration in a temporary folder, and corvanexml-ldap-bench switches to it ten times
# from a fresh client. Target: under 0.5 s per switch on loopback.
#
#   bench/ldap_tree.sh [RUNS]
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
bench=$root/build/release/bin/corvanexml-ldap-bench
[[ -f $root/build/release/CMakeCache.txt ]] || (cd "$root" && cmake --preset release) >&2
(cd "$root" && cmake --build --preset release --target corvanexml-ldap-bench) >&2

work=$(mktemp -d "${TMPDIR:-/tmp}/corvane-ldap-bench.XXXXXX")
pid=
cleanup() {
  [[ -n $pid ]] && kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

# Dependencies first; the rest in name order. dyngroup is left out: dsee defines the same
# dynamic groups, and slapd 2.5 crashes at start with both.
schemas=(core cosine inetorgperson nis)
for file in /etc/ldap/schema/*.schema; do
  name=$(basename "$file" .schema)
  [[ $name == dyngroup || " ${schemas[*]} " == *" $name "* ]] || schemas+=("$name")
done
for name in "${schemas[@]}"; do echo "include /etc/ldap/schema/$name.schema"; done > "$work/slapd.conf"
echo "pidfile $work/slapd.pid" >> "$work/slapd.conf"

port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
url=ldap://127.0.0.1:$port/
/usr/sbin/slapd -f "$work/slapd.conf" -h "$url" -d 0 >/dev/null 2>&1 &
pid=$!
for ((try = 0; try < 500; ++try)); do
  (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null && break
  kill -0 "$pid" 2>/dev/null || { echo "ldap_tree.sh: slapd did not start" >&2; exit 2; }
  sleep 0.02
done

mkdir -p "$work/config/corvane-client"
printf '[LIVE]\nurl = %s\n' "$url" > "$work/config/corvane-client/connections.ini"
echo "schemas: ${schemas[*]}"
XDG_CONFIG_HOME=$work/config "$bench" LIVE "${1:-10}"
