#!/usr/bin/env bash
# The main job: builds everything into dist/, packages the example service and
# takes it through its whole life under Wine's service control manager: install,
# start, status, what the Java runtime received, stop, clean-up, uninstall; then
# the same service from its MSI package, installed and removed with msiexec.
# There is no Windows Java runtime under Wine: the Java runtime the service finds
# is the project's stand-in (tests/fixtures), which records what it was given
# instead of running Java code.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
say() { printf '\n\033[1m== %s\033[0m\n' "$*"; }
explain() { printf '   %s\n' "$@"; }

say "Building launchers (x86, x64), packager and Java runtime into dist/"
scripts/build.sh
cmake --build --preset win64 --target standins >/dev/null

work=$root/build/demo
# A wine server of an earlier run would outlive its removed prefix: stop it first.
[ -d "$work/wineprefix" ] && tests/wine-prefix.sh stop "$work/wineprefix"
rm -rf "$work"
mkdir -p "$work"
cp -r dist/examples/hello "$work/hello"

say "Packaging the example service (examples/hello/hello.toml) into hello-service.exe"
dist/zanto-pack build "$work/hello/hello.toml" -o "$work/hello-service.exe"
ls -l "$work/hello-service.exe"

say "What the packaged executable carries (zanto-pack inspect)"
dist/zanto-pack inspect "$work/hello-service.exe"

say "Starting a wine prefix for the demo"
prefix=$work/wineprefix
tests/wine-prefix.sh init "$prefix"
trap 'tests/wine-prefix.sh stop "$prefix"' EXIT
export WINEPREFIX=$prefix WINEDEBUG=-all DISPLAY=
c=$prefix/drive_c
temp_dir=$c/users/$(whoami)/Temp
# reg.exe would write the 32-bit view by default; the x64 launcher reads the 64-bit one.
reg() { wine reg "$@" /reg:64 </dev/null >/dev/null; }
run() {
  printf '\n$ %s\n' "$*"
  set +e
  (cd "$c/Program Files/HelloService" && wine "$@" </dev/null | tr -d '\r')
  local code=${PIPESTATUS[0]}
  set -e
  echo "(exit code $code)"
}
service_state() {
  printf '\n$ sc query HelloService\n'
  local out
  if out=$(wine sc query HelloService </dev/null | tr -d '\r'); then
    grep -E 'STATE|EXIT_CODE' <<<"$out"
  else
    echo "   (no such service)"
  fi
}
show_temp() {
  echo "Extraction directories in C:\\users\\$(whoami)\\Temp:"
  ls -d "$temp_dir"/zto*_dir* 2>/dev/null | sed 's|.*/|   |' || echo "   (none)"
}

say "Installing the stand-in Java runtime at C:\\Java\\jre1.8"
explain "The stand-in is not Java: java.exe answers -version with" \
  "'java version \"1.8.0_202\"', jvm.dll records JNI_CreateJavaVM and the call of main," \
  "whose main then blocks as a server's does." \
  "It is registered the way a Java 8 installer does, under" \
  "HKLM\\SOFTWARE\\JavaSoft\\Java Runtime Environment, which the search entry Y reads."
mkdir -p "$c/Java/jre1.8/bin/server"
cp build/win64/standins/java.exe "$c/Java/jre1.8/bin/"
cp build/win64/standins/jvm.dll "$c/Java/jre1.8/bin/server/"
# Its main prints three lines and blocks, as a server's main does (the example's
# heartbeat loop).
printf 'print_lines=3\r\nmain=block\r\nmain_delay_ms=600000\r\n' >"$c/Java/jre1.8/bin/server/standin-jvm.ini"
reg add 'HKLM\SOFTWARE\JavaSoft\Java Runtime Environment' /v CurrentVersion /d 1.8 /f
reg add 'HKLM\SOFTWARE\JavaSoft\Java Runtime Environment\1.8' /v JavaHome /d 'C:\Java\jre1.8' /f
# Services get their environment from the registry, read when the control manager
# starts: switch the launcher's log on there, then restart the wine server.
wine reg add 'HKCU\Environment' /v ZANTO_LOG /d yes /f </dev/null >/dev/null
tests/service/restart-wine-server.sh "$prefix"
mkdir -p "$c/Program Files/HelloService"
cp "$work/hello-service.exe" "$c/Program Files/HelloService/"

say "1. Install: the executable registers itself as the service HelloService"
explain "ExecutableType 4 makes /install create an automatically started service," \
  "with the recovery settings of hello.toml (Wine 8 accepts the restart actions but" \
  "keeps none, and refuses the non-crash flag: the install says so and stands)." \
  "The binary path is registered in its short form; without short names it is" \
  "registered in quotes, so that Windows cannot start C:\\Program.exe instead."
run hello-service.exe /install
wine reg query 'HKLM\System\CurrentControlSet\Services\HelloService' </dev/null | tr -d '\r' |
  grep -E 'ImagePath|Start|Description|ObjectName'
service_state

say "2. Start: the control manager starts the executable, which finds Java and calls main"
run hello-service.exe /start
sleep 2
service_state
run hello-service.exe /status
explain "What the stand-in Java runtime received (its record file):"
sed 's/^/   /' "$c/Java/jre1.8/bin/server/standin-jvm-record.txt" | tr -d '\r'
explain "Arguments 0-4 are for the runtime's WinLauncher (redirection, main class);" \
  "then the service name and the configured argument."
show_temp

say "3. Stop: main still runs; the JVM is ended, the service reports stopped with exit code 0"
run hello-service.exe /stop
run hello-service.exe /status
explain "The extraction directory was in use, so it is queued for deletion in" \
  "HKCU\\SOFTWARE\\harnwick\\zanto\\temp:"
wine reg query 'HKCU\SOFTWARE\harnwick\zanto\temp' </dev/null | tr -d '\r' | grep -v '^$' | sed 's/^/   /'
show_temp
explain "What the process wrote (OutputLog of hello.toml, beside the executable):"
tr -d '\r' <"$c/Program Files/HelloService/logs/HelloService.log" | sed 's/^/   /' || echo "   (no output log)"

say "4. Start again: the queued directory is removed before the new start"
rm -f "$c/Java/jre1.8/bin/server/standin-jvm-record.txt"
run hello-service.exe /start
sleep 2
service_state
show_temp
run hello-service.exe /stop

say "The launcher's log of the last run (ZANTO_LOG=yes)"
log=$(ls -t "$temp_dir"/vmr* 2>/dev/null | head -n 1 || true)
if [ -n "$log" ]; then tr -d '\r' <"$log" | sed 's/^/   /'; else echo "no log found in $temp_dir"; fi

say "5. Uninstall: the service is removed"
run hello-service.exe /uninstall
run hello-service.exe /status
explain "A second uninstall finds nothing and says so, with exit code 1:"
run hello-service.exe /uninstall

say "6. The MSI package: zanto-pack msi builds the executable and a Windows Installer package"
explain "hello.toml's [msi] table gives the upgrade code; [version] the version the" \
  "package carries. wixl (Debian's msitools) builds it from the WiX source zanto-pack writes."
dist/zanto-pack msi "$work/hello/hello.toml" -o "$work/hello-service.msi"
ls -l "$work/hello-service.msi"

say "7. msiexec installs it quietly: files in Program Files, the service registered and started"
explain "The package runs the installed executable's own install, so the service is the one" \
  "install makes; SERVICE_ACCOUNT (and SERVICE_PASSWORD for a user) choose its account."
msi_log=$work/msi-install.log
printf '\n$ msiexec /i hello-service.msi /qn /l*v msi-install.log SERVICE_ACCOUNT=LocalService\n'
code=0
wine msiexec /i "$(winepath -w "$work/hello-service.msi")" /qn /l*v "$(winepath -w "$msi_log")" \
  SERVICE_ACCOUNT=LocalService </dev/null || code=$?
echo "(exit code $code)"
installed="$c/Program Files/zanto examples/Hello Service"
echo "Installed in C:\\Program Files\\zanto examples\\Hello Service:"
ls "$installed" | sed 's/^/   /'
echo "What the package's custom actions logged (msiexec /l*v):"
tr -d '\r' <"$msi_log" | grep 'zanto:' | sed 's/^/   /'
sleep 2
service_state
wine reg query 'HKLM\System\CurrentControlSet\Services\HelloService' </dev/null | tr -d '\r' |
  grep -E 'ImagePath|Start|ObjectName'

say "8. msiexec removes it: the service, its event source, the files and the folder go"
printf '\n$ msiexec /x hello-service.msi /qn\n'
code=0
wine msiexec /x "$(winepath -w "$work/hello-service.msi")" /qn </dev/null || code=$?
echo "(exit code $code)"
service_state
if [ -e "$c/Program Files/zanto examples" ]; then echo "   left behind: $(ls -R "$c/Program Files/zanto examples")"; else
  echo "   C:\\Program Files\\zanto examples is gone"; fi

say "Done: the service was installed, run, stopped, cleaned up and removed under Wine, by itself and from its MSI"
