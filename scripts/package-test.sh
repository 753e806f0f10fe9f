#!/usr/bin/env bash
# Builds the Debian package from a build tree, installs it and uses it from its installed
# paths the way a chain's staff and a host developer would:
#   - velvip-report runs a report on the demo chain it generates in the user's data folder,
#   - velvip-host --screenshot saves a picture of every report,
#   - every installed header compiles on its own, and examples/minimal-host builds against the
#     package through find_package(VelVipRpt), loads the plug-in and prints the same rows as
#     velvip-report,
#   - each manual page names every option of its program's --help; the desktop entry's program
#     and icon exist; the service's settings are a conffile and `cmake --install --prefix` stays
#     inside its prefix,
#   - the README's newcomer path (build, add a user, start the service) runs as written on a
#     fresh clone, and a branch manager reads a report through the portal's address.
#
#   scripts/package-test.sh [BUILD_DIR]           unpacks the package into a scratch root
#                                                 (dpkg -x): needs no root, changes nothing
#   scripts/package-test.sh --system [BUILD_DIR]  installs it for real with apt-get (root, a
#                                                 machine of its own such as CI), tests it under
#                                                 /usr and removes it again
# BUILD_DIR defaults to build/test and must be configured; the run works in BUILD_DIR/package-test.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

mode=scratch
if [ "${1:-}" = "--system" ]; then
  mode=system
  shift
fi
build=$(cd "${1:-$root/build/test}" && pwd)
# A fixed folder, so that ccache recognises the compilations of the last run; kept after the
# run for a look at its logs, screenshots and outputs.
work=$build/package-test
rm -rf "$work"
mkdir -p "$work"
installed=0

step() { printf 'package-test: [%3d s] %s\n' "$SECONDS" "$*" >&2; }
fail() { printf 'package-test: 失败：%s\n' "$*" >&2; exit 1; }
cleanup() {
  if [ "$installed" = 1 ]; then
    step "removing the package"
    DEBIAN_FRONTEND=noninteractive apt-get remove -y -qq --purge velvip >/dev/null || true
  fi
  rm -rf "$work/root" "$work/cpack/_CPack_Packages"
}
trap cleanup EXIT
SECONDS=0

step "building the package"
cmake --build "$build" -j"$(nproc)" >/dev/null
cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work/cpack" >"$work/cpack.log" 2>&1 \
  || { cat "$work/cpack.log" >&2; fail "cpack"; }
deb=$(ls "$work"/cpack/velvip_*.deb)
step "$(basename "$deb"): $(du -k "$deb" | cut -f1) KiB"
depends=$(dpkg-deb -f "$deb" Depends)
for needed in libqt6core6 libqt6widgets6 libqt6charts6 libqt6sql6-sqlite libsqlite3-0; do
  [[ "$depends" == *"$needed"* ]] || fail "Depends lacks $needed: $depends"
done

# The service's settings and the reverse proxy's site are conffiles: dpkg keeps an
# administrator's edits on upgrade.
for conffile in /etc/default/velvip-server /etc/nginx/sites-available/velvip; do
  dpkg-deb --ctrl-tarfile "$deb" | tar -xO ./conffiles 2>/dev/null | grep -qx "$conffile" \
    || fail "$conffile is not marked a conffile"
done

step "cmake --install into a prefix of the user's own"
# Everything lands inside the prefix (a non-root user installing to ~/.local cannot write /etc).
cmake --install "$build" --prefix "$work/prefix" >"$work/install.log" 2>&1 \
  || { cat "$work/install.log" >&2; fail "cmake --install --prefix"; }
outside=$(grep -v "^$work/prefix/" "$build/install_manifest.txt" || true)
[ -z "$outside" ] || fail "cmake --install --prefix wrote outside the prefix: $outside"
[ -f "$work/prefix/etc/default/velvip-server" ] || fail "cmake --install --prefix: no etc/default/velvip-server"
rm -rf "$work/prefix"

if [ "$mode" = system ]; then
  [ "$(id -u)" -eq 0 ] || fail "--system needs root"
  dpkg-query -W velvip >/dev/null 2>&1 && fail "velvip is already installed; remove it first"
  step "apt-get install $(basename "$deb")"
  installed=1
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "$deb" >/dev/null
  prefix=/usr
else
  # Every dependency must be installable here even though nothing is installed.
  apt-get install -s -qq "$deb" >"$work/apt-simulate.log" 2>&1 \
    || { cat "$work/apt-simulate.log" >&2; fail "the package's dependencies cannot be met"; }
  dpkg -x "$deb" "$work/root"
  prefix=$work/root/usr
fi
bin=$prefix/bin
plugin=$(find "$prefix/lib" -path '*/velvip/plugins/libVelVipRpt.so')
[ -n "$plugin" ] || fail "the plug-in is not in <libdir>/velvip/plugins"

step "checking the installed files"
for f in bin/velvip-report bin/velvip-host bin/velvip-server lib/systemd/system/velvip-server.service \
         include/VelVipRpt/HostKit.h include/VelVipRpt/facade/ComponentLibrary.h \
         share/applications/velvip-host.desktop share/icons/hicolor/scalable/apps/velvip-host.svg \
         share/man/man1/velvip-report.1.gz share/man/man1/velvip-server.1.gz share/man/man1/velvip-host.1.gz \
         share/velvip-server/portal/index.html; do
  [ -e "$prefix/$f" ] || fail "missing $f"
done
# Every program and library finds its libraries from where it is, never from the build tree.
while IFS= read -r elf; do
  runpath=$(readelf -d "$elf" | sed -n 's/.*R\(UN\)\?PATH.*\[\(.*\)\]/\2/p')
  [[ -n "$runpath" && "$runpath" != *"$build"* && "$runpath" != *"$root"* ]] || fail "$elf: RUNPATH \"$runpath\""
  if ldd "$elf" | grep -q 'not found'; then ldd "$elf" >&2; fail "$elf: unresolved library"; fi
done < <(find "$bin" "$prefix/lib" -type f \( -name 'velvip-*' -o -name '*.so' \) ! -name '*.service' -path '*velvip*')

step "SONAMEs and exported symbols"
# Each library a host links carries a SONAME and exports its installed API only; the plug-in is
# a module and exports its plug-in entry points only.
while IFS= read -r lib; do
  soname=$(objdump -p "$lib" | sed -n 's/^ *SONAME *//p')
  symbols=$(nm -D --defined-only "$lib" | wc -l)
  # A class's private implementation (its pimpl) stays hidden even when the class is exported.
  if nm -D --defined-only -C "$lib" | grep -q -E '::(Data|Private)::'; then
    nm -D --defined-only -C "$lib" | grep -E '::(Data|Private)::' | head -5 >&2
    fail "$lib: exports its private implementation"
  fi
  case $lib in
    */plugins/*) [ -z "$soname" ] || fail "$lib: a module with SONAME $soname" ;;
    *) [[ "$soname" == lib*.so.[0-9]* ]] || fail "$lib: no versioned SONAME" ;;
  esac
  printf 'package-test:        %-24s %-24s %5d symbols\n' "$(basename "$lib")" "${soname:-(module)}" "$symbols" >&2
done < <(find "$prefix/lib" -path '*velvip*' -name 'lib*.so*' -type f | sort)
# (Besides the entry points the plug-in holds only weak copies of inline library code.)
[ "$(nm -D --defined-only "$plugin" | awk '$2 == "T" && $3 !~ /^(qt_plugin_|Dll)/' | wc -l)" -eq 0 ] \
  || fail "the plug-in exports functions other than its entry points"

# A user of our own: an empty home, no display.
export HOME=$work/home XDG_DATA_HOME=$work/home/.local/share XDG_CONFIG_HOME=$work/home/.config
export XDG_RUNTIME_DIR=$work/runtime QT_QPA_PLATFORM=offscreen
mkdir -p "$HOME" "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"
unset DISPLAY WAYLAND_DISPLAY

step "velvip-report on the default demo chain (generated on first use)"
"$bin/velvip-report" run 10906 --set BItemNumber= --format csv --out "$work/10906-default.csv" 2>"$work/report.log" \
  || { cat "$work/report.log" >&2; fail "velvip-report run 10906"; }
[ -f "$XDG_DATA_HOME/VelVipRpt/VelVipRpt/demo-chain.sqlite" ] || fail "no demo chain in the user's data folder"
[ "$(wc -l <"$work/10906-default.csv")" -gt 100 ] || fail "report 10906 printed too few rows"
"$bin/velvip-report" run 10902 --set GroupBy=1 --set SumOnly=1 \
  --set "BDate=2024-05-01 00:00:00" --set "EDate=2024-05-31 23:59:59" >"$work/10902.txt" 2>>"$work/report.log" \
  || { cat "$work/report.log" >&2; fail "velvip-report run 10902"; }
grep -q '合计' "$work/10902.txt" || fail "report 10902 has no grand total"

step "velvip-server answers its health page"
[ -f "$(dirname "$prefix")/etc/default/velvip-server" ] || fail "missing etc/default/velvip-server"
port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
"$bin/velvip-server" --db "$XDG_DATA_HOME/VelVipRpt/VelVipRpt/demo-chain.sqlite" --store "$work/service.sqlite" \
  --listen "127.0.0.1:$port" >"$work/server.log" 2>&1 &
server_pid=$!
health=
for _ in $(seq 1 60); do
  health=$(curl -fsS "http://127.0.0.1:$port/api/v1/health" 2>/dev/null) && break
  sleep 0.5
done
kill -TERM "$server_pid"
wait "$server_pid" || true
[[ "$health" == *'"status":"ok"'* ]] || { cat "$work/server.log" >&2; fail "velvip-server did not answer /api/v1/health"; }

step "a missing plug-in"
mv "$plugin" "$plugin.away"
for host in velvip-report velvip-server; do
  args=(run 10906 --set BItemNumber=)
  [ "$host" = velvip-report ] || args=(--db "$XDG_DATA_HOME/VelVipRpt/VelVipRpt/demo-chain.sqlite" --store "$work/missing.sqlite" --listen 127.0.0.1:0)
  if timeout 60 "$bin/$host" "${args[@]}" >/dev/null 2>"$work/missing-plugin.log"; then
    mv "$plugin.away" "$plugin"; fail "$host ran without its plug-in"
  fi
  [ "$(wc -l <"$work/missing-plugin.log")" -eq 1 ] && grep -q '找不到报表插件' "$work/missing-plugin.log" \
    || { mv "$plugin.away" "$plugin"; cat "$work/missing-plugin.log" >&2; fail "$host: no one-sentence error for a missing plug-in"; }
done
mv "$plugin.away" "$plugin"

step "velvip-host --screenshot"
"$bin/velvip-host" --screenshot "$work/shots" 2>"$work/host.log" || { cat "$work/host.log" >&2; fail "velvip-host --screenshot"; }
for id in 10901 10902 10903 10904 10905 10906; do
  [ "$(stat -c %s "$work/shots/host-$id.png" 2>/dev/null || echo 0)" -gt 10000 ] || fail "no screenshot of report $id"
done
for id in 10901 10902 10904 10905; do
  [ "$(stat -c %s "$work/shots/host-chart-$id.png" 2>/dev/null || echo 0)" -gt 10000 ] || fail "no chart of report $id"
done

step "manual pages and desktop entry"
for program in velvip-report velvip-host velvip-server; do
  "$root/scripts/check-manpage.sh" "$prefix/share/man/man1/$program.1.gz" "$bin/$program" \
    || fail "the manual page lags behind $program --help"
done
desktop=$prefix/share/applications/velvip-host.desktop
exec_name=$(sed -n 's/^Exec=\([^ ]*\).*/\1/p' "$desktop")
icon_name=$(sed -n 's/^Icon=//p' "$desktop")
[ -x "$bin/$exec_name" ] || fail "the desktop entry runs $exec_name, which is not installed"
[ -f "$prefix/share/icons/hicolor/scalable/apps/$icon_name.svg" ] || fail "the desktop entry's icon $icon_name is not installed"
if command -v desktop-file-validate >/dev/null; then desktop-file-validate "$desktop"; fi

launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)

step "every installed header compiles on its own"
mkdir -p "$work/headers"
{
  echo 'cmake_minimum_required(VERSION 3.25)'
  echo 'project(velvip_headers LANGUAGES CXX)'
  echo 'set(CMAKE_CXX_STANDARD 20)'
  echo 'find_package(VelVipRpt REQUIRED)'
  echo 'add_library(headers OBJECT)'
  echo 'target_link_libraries(headers PRIVATE VelVipRpt::Plugin VelVipRpt::HostKit VelVipRpt::Server VelVipRpt::FilterPanel)'
} >"$work/headers/CMakeLists.txt"
(cd "$prefix/include/VelVipRpt" && find . -name '*.h' | sed 's|^\./||') | while read -r header; do
  tu=$work/headers/$(echo "$header" | tr '/.' '__').cpp
  printf '#include "%s"\n#include "%s"\n' "$header" "$header" >"$tu"
  echo "target_sources(headers PRIVATE $tu)" >>"$work/headers/CMakeLists.txt"
done
cmake -S "$work/headers" -B "$work/headers/build" -G Ninja -DCMAKE_PREFIX_PATH="$prefix" "${launcher[@]}" >/dev/null
cmake --build "$work/headers/build" -j2 >"$work/headers.log" 2>&1 || { cat "$work/headers.log" >&2; fail "a header does not compile alone"; }

step "examples/minimal-host against the package"
cmake -S "$root/examples/minimal-host" -B "$work/minimal-host" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_PREFIX_PATH="$prefix" "${launcher[@]}" >/dev/null
cmake --build "$work/minimal-host" >"$work/minimal-host.log" 2>&1 || { cat "$work/minimal-host.log" >&2; fail "minimal-host does not build"; }
"$bin/velvip-report" make-demo --out "$work/chain.sqlite" --start 2024-01-01 --members 300 --items 200 --days 60 --lines-per-day 40 2>/dev/null
"$work/minimal-host/minimal-host" 10906 "$work/chain.sqlite" BItemNumber= >"$work/minimal-10906.tsv"
"$bin/velvip-report" run 10906 --db "$work/chain.sqlite" --set BItemNumber= --format csv >"$work/10906.csv" 2>/dev/null
rows=$(($(wc -l <"$work/10906.csv") - 1))
[ "$(head -1 "$work/minimal-10906.tsv" | tr '\t' ',')" = "$(head -1 "$work/10906.csv" | sed 's/^\xEF\xBB\xBF//; s/\r$//')" ] \
  || fail "minimal-host and velvip-report show different captions"
[ "$rows" -gt 0 ] && [ "$(($(wc -l <"$work/minimal-10906.tsv") - 1))" -eq "$rows" ] \
  || fail "minimal-host and velvip-report disagree on the rows of report 10906"
"$work/minimal-host/minimal-host" 10903 "$work/chain.sqlite" "BDate=2024-01-01 00:00:00" "EDate=2024-01-31 23:59:59" \
  >"$work/minimal-10903.tsv"
[ "$(wc -l <"$work/minimal-10903.tsv")" -gt 10 ] || fail "minimal-host printed too few rows of report 10903"
if "$work/minimal-host/minimal-host" 10906 "$work/missing.sqlite" >/dev/null 2>"$work/minimal-error.log"; then
  fail "minimal-host succeeded on a missing database"
fi
grep -q '报表运行失败' "$work/minimal-error.log" || fail "minimal-host gave no reason for a failed run"

step "the README's newcomer path on a fresh clone"
# The three commands between the README's markers, as written, in a clone of what is committed
# and a home of its own; only the address differs (a free port instead of 8080, which may be in
# use here). The build reuses the compiler cache.
clone=$work/clone
git clone -q "$root" "$clone"
mapfile -t newcomer < <(sed -n '/<!-- newcomer path: begin -->/,/<!-- newcomer path: end -->/p' "$clone/README.md" \
  | grep -v '^<!--\|^```')
[ "${#newcomer[@]}" -eq 3 ] || fail "the README's newcomer path is not three commands: ${newcomer[*]}"
port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
(
  cd "$clone"
  export HOME=$work/newcomer-home XDG_DATA_HOME=$work/newcomer-home/.local/share XDG_CONFIG_HOME=$work/newcomer-home/.config
  if command -v ccache >/dev/null; then export CMAKE_CXX_COMPILER_LAUNCHER=ccache; fi
  mkdir -p "$HOME"
  bash -eo pipefail -c "${newcomer[0]}" >"$work/newcomer-build.log" 2>&1 || { tail -40 "$work/newcomer-build.log" >&2; exit 1; }
  bash -eo pipefail -c "${newcomer[1]}" >"$work/newcomer-user.log" 2>&1 || { cat "$work/newcomer-user.log" >&2; exit 1; }
  exec bash -c "exec ${newcomer[2]} --listen 127.0.0.1:$port" >"$work/newcomer-server.log" 2>&1
) &
newcomer_pid=$!
answer=
for _ in $(seq 1 1200); do   # the build comes first
  kill -0 "$newcomer_pid" 2>/dev/null || break
  curl -fsS "http://127.0.0.1:$port/api/v1/health" >/dev/null 2>&1 && break
  sleep 1
done
python3 - "$port" "${newcomer[1]}" >"$work/newcomer-check.log" 2>&1 <<'PY' && answer=ok
import http.client, json, re, sys
port, command = int(sys.argv[1]), sys.argv[2]
user = re.search(r"user add (\S+)", command).group(1)
password = re.search(r"echo '([^']+)'", command).group(1)
branch = re.search(r"--branch (\S+)", command).group(1)
def call(method, path, body=None, headers={}):
    c = http.client.HTTPConnection("127.0.0.1", port, timeout=120)
    c.request(method, path, body=None if body is None else json.dumps(body), headers=headers)
    r = c.getresponse()
    return r, r.read()
r, page = call("GET", "/")
assert r.status == 200 and b"<script" in page, "the portal's page"
r, body = call("POST", "/api/v1/session", {"user": user, "password": password})
assert r.status == 200, body
auth = {"Cookie": r.getheader("Set-Cookie").split(";")[0], "X-CSRF-Token": json.loads(body)["csrf"]}
r, body = call("POST", "/api/v1/reports/10902/run", {"period": "2024-05", "GroupBy": 0}, auth)
report = json.loads(body)
assert r.status == 200 and report["Result"]["OK"] and report["Rows"], body[:300]
other = "001" if branch != "001" else "002"   # the branch's own data only
r, body = call("POST", "/api/v1/reports/10902/run", {"period": "2024-05", "GroupBy": 0, "BBranchNum": other, "EBranchNum": other}, auth)
assert r.status == 403, (r.status, body[:300])
print(len(report["Rows"]), "rows for the manager of branch", branch)
PY
kill -TERM "$newcomer_pid" 2>/dev/null; wait "$newcomer_pid" 2>/dev/null || true
[ "$answer" = ok ] || { cat "$work/newcomer-check.log" "$work/newcomer-server.log" >&2; fail "the README's newcomer path"; }
rm -rf "$clone"

step "passed ($mode install)"
