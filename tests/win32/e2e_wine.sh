#!/usr/bin/env bash
# End-to-end runs of the Windows program (build-win32/vorbex.exe) under Wine,
# against a fresh 32-bit prefix (with VORBEX_WINE64=1: build-win64/vorbex.exe
# in a fresh 64-bit prefix) with the agent installed at C:\Agent\ and the
# Windows stand-in runner registered as ATCMD. Status records go to the Linux
# webpost receiver on loopback through the stand-in COM server kWbPost.dll.
#
# Needs: scripts/build-windows [--64] KGnMD5 kWbPost atcmd-standin (build-win32/)
#        and the Linux receiver (build/webpost-receiver, or $VORBEX_LINUX_BUILD).
# Prints one line per scenario and "N passed, N failed"; exits 1 on a failure,
# 2 when something it needs is missing, 75 when its Wine prefix did not start.
# Lines starting with "note:" say where Wine is not Windows.
set -uo pipefail

repo="$(cd "$(dirname "$0")/../.." && pwd)"
# With VORBEX_WINE64=1 the x86_64 build (build-win64/) under 64-bit Wine.
bits=32
[ "${VORBEX_WINE64:-0}" = 1 ] && bits=64
win_build="${VORBEX_WIN_BUILD:-$repo/build-win$bits}"
linux_build="${VORBEX_LINUX_BUILD:-$repo/build}"
receiver_bin="$linux_build/webpost-receiver"

for f in "$win_build/vorbex.exe" "$win_build/atcmd-standin.exe" "$win_build/KGnMD5.dll" \
         "$win_build/kWbPost.dll" "$receiver_bin"; do
  if [ ! -f "$f" ]; then
    echo "e2e_wine: missing $f (scripts/build-windows KGnMD5 kWbPost atcmd-standin; build webpost-receiver on Linux)" >&2
    exit 2
  fi
done

work="$(mktemp -d /tmp/vorbex-e2e-wine.XXXXXX)"
. "$repo/tests/win32/wine_prefix.sh"
choose_wine
export WINEPREFIX="$work/prefix" WINEDEBUG=-all
# No Mono or Gecko installer dialogs in a fresh prefix.
export WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY

receiver_pid=""
stop_receiver() {
  if [ -n "$receiver_pid" ]; then
    kill "$receiver_pid" 2>/dev/null
    wait "$receiver_pid" 2>/dev/null
  fi
  receiver_pid=""
}
cleanup() {
  stop_receiver
  wineserver -k >/dev/null 2>&1
  wineserver -w >/dev/null 2>&1
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# One server for the whole script, so every wine call does not pay for a new
# one; a prefix that does not start ends the script with 75.
start_wine_prefix || exit $?

c="$WINEPREFIX/drive_c"
agent="$c/Agent"
action="Action_27_KRN"
processed="$agent/kHVR/Tellix/$action/ProcessedScripts"
# The agent's folders and keys where a 32-bit program finds them, as the
# program looks for them: on the 64-bit path "Program Files (x86)" and the
# registry's 32-bit view.
program_folder='Program Files' software='SOFTWARE'
if [ "$WINEARCH" = win64 ]; then
  program_folder='Program Files (x86)' software='SOFTWARE\WOW6432Node'
fi
program_files="$c/$program_folder"
exmon="$program_files/KOVAExMonScripts"
runner="$program_files/VSoft/Automise/ATCMD.exe"
mkdir -p "$(dirname "$runner")"
cp "$win_build/atcmd-standin.exe" "$runner"

# ---- the machine ---------------------------------------------------------------

crlf() { sed 's/$/\r/'; }

# Seeds the registry; with "bare" the agent key has no installation path; a
# second argument is the registration id (42 by default).
seed_registry() {
  local install='"InstallationPath"="C:\\Agent"' regid="${2:-42}"
  [ "${1:-}" = bare ] && install=''
  {
    echo 'Windows Registry Editor Version 5.00'
    echo
    echo "[-HKEY_LOCAL_MACHINE\\$software\\KOVAOD]"
    echo
    echo "[HKEY_LOCAL_MACHINE\\$software\\KOVAOD]"
    [ -n "$install" ] && echo "$install"
    echo "\"RegID\"=\"$regid\""
    echo '"MEMBERID"="7"'
    echo '"SITEID"="9"'
    echo '"TYPE"="DPMA"'
    echo
    echo "[HKEY_LOCAL_MACHINE\\$software\\VSoft\\Automise\\3.0]"
    echo "\"ATCMDLocation\"=\"C:\\\\$program_folder\\\\VSoft\\\\Automise\\\\ATCMD.exe\""
  } | crlf > "$work/seed.reg"
  wine regedit /S 'Z:'"$(echo "$work/seed.reg" | tr / '\\')" </dev/null >/dev/null 2>&1
}

# A fresh installation at C:\Agent\ whose records go to $1 (a closed port by default).
install_agent() {
  local base="${1:-http://127.0.0.1:9/}"
  rm -rf "$agent" "$exmon"
  mkdir -p "$agent/kScripts" "$agent/Configuration" "$processed"
  cp "$win_build/vorbex.exe" "$win_build/KGnMD5.dll" "$win_build/kWbPost.dll" "$agent/"
  printf '[wpdcmatztempexecst]\r\nURL=%s\r\n[wpdcmatztempexecfail]\r\nURL=%s\r\n' "$base" "$base" \
    > "$agent/Configuration/kScriptDNS.ini"
}

md5_of() { md5sum "$1" | cut -d' ' -f1; }

# add_script NAME CONTENT [FOLDER] -> writes the project, prints its script entry.
add_script() {
  local folder="${3:-$processed}" mode=HTTP
  [ "$folder" = "$exmon" ] && mode=LOCAL-SYNC
  mkdir -p "$folder"
  printf '%s' "$2" > "$folder/$1"
  echo "$mode@#@$1@#@$(md5_of "$folder/$1")"
}

# job ID ENTRY [MINUTES] [CONTEXT] [PARAMS]
job() { echo "11%@%3%@%$1%@%1%@%$2%@%%@%${3:-1}%@%1%@%${4:-0}%@%${5:-}"; }

write_jobs() {
  {
    echo '<?xml version="1.0"?>'
    echo '<root>'
    local j
    for j in "$@"; do echo "<item>$j</item>"; done
    echo '</root>'
  } | crlf > "$agent/kHVR/Tellix/$action/KRNScripts.xml"
}

start_receiver() {
  stop_receiver
  : > "$work/posts.txt"
  coproc RECEIVER { exec "$receiver_bin" --port 0 "$@" "$work/posts.txt"; }
  receiver_pid=$RECEIVER_PID
  read -r receiver_port <&"${RECEIVER[0]}"
}

# Runs vorbex.exe from C:\Agent\ and waits for it (a GUI program: start /wait).
# Every run ends with exit code 0, whatever happened in it.
run_vorbex() {
  timeout 180 wine start /wait /unix "$agent/vorbex.exe" "5,2,$action" </dev/null >/dev/null 2>&1
  local rc=$?
  [ "$rc" -eq 0 ] || fail "vorbex.exe ended with $rc"
  save_messages
}

run_log_file() { ls -1 "$agent/ApplicationLog/kHVRLog/"*.txt 2>/dev/null | sort | tail -1; }

# The run log's messages: CR and the time stamp before the tab removed. Kept
# in a file after each run, so that checks read it whole (no early-closed pipes).
save_messages() {
  local f
  f="$(run_log_file)"
  : > "$work/messages.txt"
  [ -n "$f" ] && tr -d '\r' < "$f" | sed 's/^[^\t]*\t//' > "$work/messages.txt"
}
messages() { cat "$work/messages.txt"; }

drops() { ls -1 "$agent/HVRPostLogs" 2>/dev/null | grep "^$1" ; }
drop_count() { drops "$1" | grep -c . ; }
read_drop() { tr -d '\r' < "$agent/HVRPostLogs/$1"; }

# ---- checks ----------------------------------------------------------------------

failures=()
fail() { failures+=("$*"); }
has_line() { grep -qxF -- "$1" "$work/messages.txt" || fail "no log line: $1"; }
has_prefix() { grep -q "^$(printf '%s' "$1" | sed 's/[][\.*^$/]/\\&/g')" "$work/messages.txt"; }
lacks_prefix() { ! has_prefix "$1" || fail "unexpected log line: $1..."; }
count_lines() {
  local n
  n="$(grep -cxF -- "$2" "$work/messages.txt")"
  [ "$n" -eq "$1" ] || fail "log line $n times, not $1: $2"
}
contains() { case "$1" in *"$2"*) ;; *) fail "${3:-text} lacks: $2" ;; esac; }
equals() { [ "$1" = "$2" ] || fail "${3:-value} is '$1', not '$2'"; }

passed=0 failed=0
scenario() { failures=(); scenario_name="$1"; scenario_start=$SECONDS; }
verdict() {
  local secs=$((SECONDS - scenario_start))
  if [ ${#failures[@]} -eq 0 ]; then
    passed=$((passed + 1))
    echo "PASS $scenario_name (${secs}s)"
  else
    failed=$((failed + 1))
    echo "FAIL $scenario_name (${secs}s)"
    printf '     %s\n' "${failures[@]}"
    if [ -n "${VORBEX_E2E_VERBOSE:-}" ]; then messages | sed 's/^/     | /'; fi
  fi
}
note() { echo "note: $*"; }

clean_project=$'console Project File: ${PROJECT}\nconsole [Read registry]\nconsole Success\nconsole Build Completed\n'
# A project that fails: an XML export with one failed action, a variables
# file, the runner's failure lines and exit code 1. $1 names the export's
# file; $2, if given, is one more line of the project after its first.
failing_project() {
  printf '%s\n' 'console Project File: ${PROJECT}' ${2:+"$2"} 'export xml inline' '<?xml version="1.0"?>' \
    "<FB6LOG filename=\"$1\">" \
    '<ACTION actionname="Copy" name="Copy patch" starttime="20261207101530" endtime="20261207101531" runtime="00000000000001" status="Error">' \
    '<MESSAGE><![CDATA[Access denied' ']]></MESSAGE>' '</ACTION>' '</FB6LOG>' 'end' \
    "vars <wpatcmdscrvardata><var name='Disk'>42</var></wpatcmdscrvardata>" \
    'console Build Failed' 'console Exit with return code: 1' 'exit 1'
}

# The stand-in COM server, registered for the machine as the agent's installer would.
install_agent
wine regsvr32 /s 'C:\Agent\kWbPost.dll' </dev/null >/dev/null 2>&1
class_registered() { wine reg query 'HKCR\kWbPost.WebPost' </dev/null >/dev/null 2>&1; }
class_registered || echo "e2e_wine: regsvr32 did not register kWbPost.WebPost" >&2

# ---- scenarios -----------------------------------------------------------------

scenario "identity: no installation path writes nothing, a bad RegId stops the run"
install_agent
seed_registry bare
write_jobs "$(job 101 "$(add_script A.atz "$clean_project")")"
run_vorbex
[ -e "$agent/ApplicationLog" ] && fail "C:\\Agent\\ApplicationLog was created"
[ -e "$agent/HVRPostLogs" ] && fail "C:\\Agent\\HVRPostLogs was created"
# A registration id that is no number stops the run after its first lines.
seed_registry full abc
run_vorbex
has_line 'MSG : Preprocessing: RegId : abc'
has_line 'MSG : Preprocessing: Invalid RegId'
has_line 'MSG : Preprocessing: Application stopped'
lacks_prefix 'MSG : Preprocessing: in procedure subPreChecks'
equals "$(ls "$agent/HVRPostLogs" 2>/dev/null | grep -c .)" 0 "records dropped"
verdict

scenario "identity and pre-check failure: KGnMD5.dll missing runs no job"
install_agent
seed_registry
rm -f "$agent/KGnMD5.dll"
write_jobs "$(job 102 "$(add_script A.atz "$clean_project")")"
run_vorbex
has_line 'MSG : Preprocessing: KOVA installation path : C:\Agent\'
has_line 'MSG : Preprocessing: RegId : 42'
has_line 'MSG : Exe Version :: 1.0.0.1'
has_line 'ERR : Preprocessing: C:\Agent\KGnMD5.dll file not found'
lacks_prefix 'MSG : In fncExecuteKRNScript'
has_line 'MSG : Preprocessing: Application Ended'
equals "$(drop_count wpdcmtkvrmenuactionst_N_42_)" 1 "action records"
f="$(drops wpdcmtkvrmenuactionst_N_42_ | head -1)"
[ -n "$f" ] && contains "$(read_drop "$f")" '<status>0</status><faildesc>Preprocessing:C:\Agent\KGnMD5.dll file not found</faildesc>' "action record"
verdict

scenario "a KGnMD5.dll that is there but cannot be loaded: 53 File not found, then the system's reason"
install_agent
seed_registry
# The 32-bit build's library on the 64-bit path, as a 32-bit agent would
# leave it; otherwise a file that is no library at all.
if [ "$bits" = 64 ] && [ -f "$repo/build-win32/KGnMD5.dll" ]; then
  cp "$repo/build-win32/KGnMD5.dll" "$agent/KGnMD5.dll"
else
  printf 'MZ but no library' > "$agent/KGnMD5.dll"
fi
write_jobs "$(job 103 "$(add_script A.atz "$clean_project")")"
run_vorbex
has_line 'ERR : fncGenerateChecksum. 53 File not found: KGnMD5.dll'
has_prefix 'ERR : fncGenerateChecksum. KGnMD5.dll could not be loaded: 193-' || fail "no line with the system's reason (193)"
lacks_prefix 'MSG : Preprocessing: Executing'
verdict

scenario "job list with checksums: HTTP, LOCAL-SYNC and a mismatch"
install_agent
seed_registry
http_entry="$(add_script Http.atz "$clean_project")"
local_entry="$(add_script Local.atz "$clean_project" "$exmon")"
bad_entry="$(add_script Bad.atz $'console never runs\n')"
bad_entry="${bad_entry%@#@*}@#@00000000000000000000000000000000"
write_jobs "$(job 201 "$http_entry")" "$(job 202 "$local_entry")" "$(job 203 "$bad_entry")"
run_vorbex
has_line 'MSG : Preprocessing: KOVA Processed Scripts :: C:\Agent\kHVR\Tellix\Action_27_KRN\ProcessedScripts'
has_line 'MSG : Preprocessing: Primary Script :: C:\Agent\kHVR\Tellix\Action_27_KRN\ProcessedScripts\Http.atz'
# The short form of C:\Program Files is the system's to choose: Windows says
# PROGRA~1, Wine a hashed PROG~XXX. Take it from the pre-checks and hold the
# later lines to it, letter for letter.
short="$(sed -n 's/^MSG : Preprocessing: Checking for folder \(.*\)\\KOVAExMonScripts$/\1/p' "$work/messages.txt" | head -1)"
if printf '%s' "$short" | grep -qE '^C:\\[A-Z0-9]{1,6}~[A-Z0-9]{1,3}$'; then
  [ "$short" != 'C:\PROGRA~1' ] && note "the short form of C:\\$program_folder is $short under Wine (C:\\PROGRA~1 on Windows)"
else
  fail "no 8.3 short form of C:\\$program_folder in the pre-checks: '$short'"
fi
has_line "MSG : Preprocessing: System directory :: $short"
has_line "MSG : Preprocessing: Primary Script :: $short\\KOVAExmonScripts\\Local.atz"
has_line "MSG : Preprocessing: Executing $short\\KOVAExmonScripts\\Local.atz"
count_lines 2 'MSG : Postprocessing: Successfully Executed the script'
has_line 'ERR : Preprocessing:MD5 signature of local file C:\Agent\kHVR\Tellix\Action_27_KRN\ProcessedScripts\Bad.atz does not tally with the template information. Template MD5:00000000000000000000000000000000 and local file MD5:adc85301f8fce7c0477cb5789aafc6fe'
lacks_prefix 'MSG : Preprocessing: Executing C:\Agent\kHVR\Tellix\Action_27_KRN\ProcessedScripts\Bad.atz'
equals "$(drop_count wpdcmatztempexecst_N_42_)" 3 "status records dropped (closed port)"
equals "$(drop_count wpdcmatztempexecfail_N_42_)" 1 "failure records"
f="$(drops wpdcmtkvrmenuactionst_N_42_ | head -1)"
[ -n "$f" ] && contains "$(read_drop "$f")" '<status>0</status><faildesc>File Not found/Failed to calculate the checksum</faildesc>' "action record"
verdict

wine_pids() {  # processes of this prefix whose command line holds $1
  local p
  for p in $(pgrep -f -- "$1"); do
    tr '\0' '\n' < "/proc/$p/environ" 2>/dev/null | grep -qxF "WINEPREFIX=$WINEPREFIX" && echo "$p"
  done
}

scenario "direct launch: the runner gets its arguments, an overrun ends it with its child"
install_agent
seed_registry
direct_entry="$(add_script Direct.atz $'console Project File: ${PROJECT}\nargs\nconsole Build Completed\n')"
slow_entry="$(add_script Slow.atz $'console Project File: ${PROJECT}\nchild 61234\nsleep 60000\nconsole Build Completed\n')"
# 0.05 minutes: three seconds for the slow one.
write_jobs "$(job 301 "$direct_entry" 1 0 'first "two words"')" "$(job 302 "$slow_entry" 0.05)"
run_vorbex
grep -qE '^MSG : Preprocessing: Executing fncExecuteUsingCreateProcess With parameter, Exe path :C:\\[^ ]+\\VSoft\\Automise\\ATCMD\.exe,Parameter : /B /L"C:\\Agent\\AutomiseLogs\\Direct_[0-9]{14}_301_[0-9]+\.txt" /B /P"C:\\Agent\\kHVR\\Tellix\\Action_27_KRN\\ProcessedScripts\\Direct\.atz" /Vfirst "two words",Working Directory :C:\\Agent\\kHVR\\Tellix\\Action_27_KRN\\ProcessedScripts$' "$work/messages.txt" \
  || fail "no direct launch line for Direct.atz with its parameters"
count_lines 1 'MSG : Postprocessing: Successfully Executed the script'
has_prefix 'MSG : Postprocessing: Successfully Terminated Process ' || fail "the overrunning runner was not terminated"
# The console logs are the runner's own record of what it was given.
console="$(cat "$agent/AutomiseLogs/"Direct_*.txt 2>/dev/null | tr -d '\r')"
if [ -n "$console" ]; then
  contains "$console" 'Argument 5: /Vfirst' "console log"
  contains "$console" 'Argument 6: two words' "console log"
  contains "$console" 'Parameters: first two words' "console log"
else
  note "the console log of Direct.atz is gone after the run; its arguments are checked from the run log only"
fi
contains "$(cat "$agent/AutomiseLogs/"Slow_*.txt 2>/dev/null)" 'Child process id: ' "console log of Slow.atz"
# Both are known by their command lines: the runner by its project, the child
# by its unusual sleep.
left=""
for i in $(seq 1 50); do
  left="$(pgrep -f 'ATCMD\.exe.*(Slow\.atz|--sleep 61234)')"
  [ -z "$left" ] && break
  sleep 0.1
done
[ -n "$left" ] && fail "runner or its child still running after the overrun: $(ps -o args= -p $left | tr '\n' ';')"
verdict

scenario "interactive launch: the runner starts as the shell's user"
install_agent
seed_registry
inter_entry="$(add_script Inter.atz $'console Project File: ${PROJECT}\nargs\nenv USERNAME\nconsole Build Completed\n')"
write_jobs "$(job 401 "$inter_entry" 1 1)"
# A fresh prefix without a display runs no shell of its own; start one, as a
# logged-on user's session would have.
if [ -z "$(wine_pids 'explorer.exe$')" ]; then
  note "a fresh prefix runs no explorer.exe of its own without a display; the script starts one (wine explorer)"
  wine explorer </dev/null >/dev/null 2>&1 &
  for i in $(seq 1 50); do [ -n "$(wine_pids 'explorer.exe$')" ] && break; sleep 0.1; done
fi
[ -n "$(wine_pids 'explorer.exe$')" ] || fail "no explorer.exe could be started"
run_vorbex
has_prefix 'MSG : Preprocessing: Executing Function fncExecuteUsingToken With parameter Process Handle : ' \
  || fail "the interactive launcher did not find the shell"
has_line 'MSG : Preprocessing : Getting the environment variables'
has_prefix 'MSG : Environmental variables value ' || fail "no environment block of the shell's user"
count_lines 1 'MSG : Postprocessing: Successfully Executed the script'
lacks_prefix 'ERR : In fncExecuteUsingToken'
console="$(cat "$agent/AutomiseLogs/"Inter_*.txt 2>/dev/null | tr -d '\r')"
contains "$console" $'Argument 3: /B\nArgument 4: /A\nArgument 5: /PC:\\Agent\\kHVR\\Tellix\\Action_27_KRN\\ProcessedScripts\\Inter.atz' "console log"
contains "$console" 'Environment USERNAME=' "console log"
note "Wine has one user: the shell's token is this program's own, so the launch as another user is not tested here"
verdict

scenario "exports: text and HTML are parsed and deleted"
install_agent
seed_registry
rule="---------------|--------------------------|$(printf '%081d' 0 | tr 0 -)|------------|----------|----------|"
text_entry="$(add_script Zip.atz "console Project File: \${PROJECT}
export text inline
************************************************************************
Automise LogFile : C:\\p.atl
Log Title    : Zip
$rule
Completed      |10:00:00                  |Zip folder|00:00:01    |          |          |
$rule
all fine
$rule
Copyright (c) 2026
end
console Build Completed
")"
html_entry="$(add_script Install.atz 'console Project File: ${PROJECT}
export html inline
<html><body>
<table><tr><td>Header</td></tr></table>
<table><tr class="ErrorRow">
<td>Error</td><td>10:00:00</td><td>Install "agent"</td><td>00:01</td><td>x</td><td>y</td>
</tr><tr class="ActionOutput"><td><div><span><pre>setup &lt;exit 2&gt;</pre></span></div></td></tr></table>
</body></html>
end
console Build Failed
console Exit with return code: 2
exit 2
')"
write_jobs "$(job 501 "$text_entry")" "$(job 502 "$html_entry")"
run_vorbex
has_line 'MSG : Preprocessing: Proceeding with TEXT Parsing'
has_line 'MSG : Preprocessing: Proceeding with HTML Parsing'
ls "$agent/AutomiseLogs" | grep -q KOVAExportLog_ && fail "an export was left in C:\\Agent\\AutomiseLogs"
equals "$(drop_count wpdcmatztempexecfail_N_42_)" 1 "failure records"
f="$(drops wpdcmatztempexecfail_N_42_ | head -1)"
[ -n "$f" ] && contains "$(read_drop "$f")" "<scrid>502</scrid>" "failure record"
[ -n "$f" ] && contains "$(read_drop "$f")" "<![CDATA[Postprocessing:ACTION-DESC:Install 'agent'@#@setup <exit 2>]]>" "failure record"
contains "$(tr -d '\r' < "$agent/Configuration/ATZThreshold.ini" 2>/dev/null)" $'[FailureDesc_Install.atz]\nInstall \'agent\'=1' "ATZThreshold.ini"
verdict

scenario "export: XML is parsed and deleted, the next job is skipped"
install_agent
seed_registry
patch_entry="$(add_script Patch.atz "$(failing_project Patch.atz)")"
later_entry="$(add_script Later.atz "$clean_project")"
write_jobs "$(job 601 "$patch_entry")" "$(job 602 "$later_entry")"
run_vorbex
has_line 'MSG : Preprocessing: Proceeding with XML Parsing'
ls "$agent/AutomiseLogs" | grep -q KOVAExportLog_ && fail "an export was left in C:\\Agent\\AutomiseLogs"
lacks_prefix 'MSG : Preprocessing: Executing C:\Agent\kHVR\Tellix\Action_27_KRN\ProcessedScripts\Later.atz'
equals "$(drop_count wpdcmatztempexecfail_N_42_)" 2 "failure records"
first="$(drops wpdcmatztempexecfail_N_42_ | head -1)"; second="$(drops wpdcmatztempexecfail_N_42_ | sed -n 2p)"
[ -n "$first" ] && contains "$(read_drop "$first")" '<scrid>601</scrid>' "first failure record"
[ -n "$first" ] && contains "$(read_drop "$first")" '<faildesc><![CDATA[Postprocessing:ACTION-DESC:Copy patch@#@Access denied]]></faildesc>' "first failure record"
[ -n "$second" ] && contains "$(read_drop "$second")" '<scrid>602</scrid>' "second failure record"
[ -n "$second" ] && contains "$(read_drop "$second")" 'Failed to execute the script / Build failed' "second failure record"
verdict

scenario "variables record: dropped under the variables file's name"
vars_drop="$(drops VTXVariables_ | head -1)"
if [ -z "$vars_drop" ]; then
  fail "no VTXVariables_ record in C:\\Agent\\HVRPostLogs"
else
  contains "$(read_drop "$vars_drop")" '<regid>42</regid>' "variables record"
  contains "$(read_drop "$vars_drop")" "<scriptid>601</scriptid><var name='Disk'><![CDATA[42]]></var>" "variables record"
fi
verdict

# Wine shows a Unix link as the folder or file it leads to, so only the real
# path of the opened handle can tell: the program must refuse both.
scenario "confinement: links out of AutomiseLogs are refused, nothing outside changes"
install_agent
seed_registry
rm -rf "$c/Outside"
mkdir -p "$agent/AutomiseLogs" "$c/Outside"
printf '%s\r\n' '<?xml version="1.0"?>' '<FB6LOG filename="o">' '<ACTION name="Outside" status="Error">' \
  '<MESSAGE><![CDATA[OUTSIDE TEXT]]></MESSAGE>' '</ACTION>' '</FB6LOG>' > "$c/Outside/victim.xml"
printf 'root:x:0:0\n' > "$c/Outside/passwd"
victim_sum="$(md5_of "$c/Outside/victim.xml")"
ln -s ../../Outside "$agent/AutomiseLogs/d"
ln -s ../../Outside/passwd "$agent/AutomiseLogs/vars.xml"
write_jobs "$(job 901 "$(add_script Link.atz 'console Project File: ${PROJECT}
console [Export log as XML to file: C:\Agent\AutomiseLogs\d\victim.xml]
console MSG : ***** Creating VTXVariables XML file C:\Agent\AutomiseLogs\vars.xml
console Build Failed
console Exit with return code: 1
exit 1
')")"
run_vorbex
outside=" lies outside C:\\Agent\\AutomiseLogs (through '..' or a link) and is not read"
has_line "ERR : Preprocessing:Exported Log :: C:\\Agent\\AutomiseLogs\\d\\victim.xml$outside"
has_line "ERR : Preprocessing: VTX variables file C:\\Agent\\AutomiseLogs\\vars.xml$outside"
lacks_prefix 'MSG : Preprocessing:Export Action not used'
equals "$(md5_of "$c/Outside/victim.xml")" "$victim_sum" "outside export"
equals "$(cat "$c/Outside/passwd")" "root:x:0:0" "outside file"
[ -L "$agent/AutomiseLogs/d" ] && [ -L "$agent/AutomiseLogs/vars.xml" ] || fail "a link in AutomiseLogs was removed"
grep -rq -e OUTSIDE -e 'root:' "$agent/HVRPostLogs" && fail "outside text reached a record"
f="$(drops wpdcmatztempexecfail_N_42_ | head -1)"
[ -n "$f" ] && contains "$(read_drop "$f")" '<faildesc><![CDATA[Postprocessing:Exit with return code: 1]]>' "failure record"
verdict

posting_jobs() {
  write_jobs "$(job 701 "$(add_script Ok.atz "$clean_project")")" \
             "$(job 702 "$(add_script Four.atz $'console Project File: ${PROJECT}\nconsole Build Failed\nconsole Exit with return code: 4\nexit 4\n')")"
}
query='.asp?mmid=7&sid=9&rid=42&rty=DPMA'

scenario "posting: records reach the loopback receiver through kWbPost"
start_receiver
install_agent "http://127.0.0.1:$receiver_port/"
seed_registry
posting_jobs
run_vorbex
stop_receiver
equals "$(grep -c . "$work/posts.txt")" 3 "posts received"
post1="$(sed -n 1p "$work/posts.txt")"; post2="$(sed -n 2p "$work/posts.txt")"; post3="$(sed -n 3p "$work/posts.txt")"
case "$post1" in "/tfr_wpdcmatztempexecst$query"$'\t'*'<scrid>701</scrid><scrver>1</scrver>'*'<status>1</status>'*) ;; *) fail "first post: $post1" ;; esac
case "$post2" in "/tfr_wpdcmatztempexecst$query"$'\t'*'<scrid>702</scrid>'*'<status>0</status>'*) ;; *) fail "second post: $post2" ;; esac
case "$post3" in "/tfr_wpdcmatztempexecfail$query"$'\t'*'<![CDATA[Postprocessing:Exit with return code: 4]]>'*) ;; *) fail "third post: $post3" ;; esac
count_lines 3 'MSG : Preprocessing: WebPost Return Status: OK'
equals "$(drop_count wpdcmatztempexec)" 0 "status records dropped"
equals "$(drop_count wpdcmtkvrmenuactionst_N_42_)" 1 "action records"
verdict

scenario "posting: a receiver that answers 500 has the records dropped"
start_receiver --status 500
install_agent "http://127.0.0.1:$receiver_port/"
seed_registry
posting_jobs
run_vorbex
stop_receiver
equals "$(grep -c . "$work/posts.txt")" 3 "posts received"
has_line "ERR : WebPost Failed : The server did not accept the record-500 - http://127.0.0.1:$receiver_port/tfr_wpdcmatztempexecst$query"
has_line "ERR : WebPost Failed : The server did not accept the record-500 - http://127.0.0.1:$receiver_port/tfr_wpdcmatztempexecfail$query"
count_lines 3 'MSG : Preprocessing: WebPost Return Status: Refused'
equals "$(drop_count wpdcmatztempexecst_N_42_)" 2 "status records dropped"
equals "$(drop_count wpdcmatztempexecfail_N_42_)" 1 "failure records dropped"
f="$(drops wpdcmatztempexecfail_N_42_ | head -1)"
[ -n "$f" ] && contains "$(read_drop "$f")" '<scrid>702</scrid>' "dropped failure record"
verdict

scenario "clean-up: old working files go, new ones stay"
install_agent
seed_registry
write_jobs
mkdir -p "$agent/AutomiseLogs"
echo old > "$agent/AutomiseLogs/old.txt"
echo new > "$agent/AutomiseLogs/new.txt"
touch -d '4 days ago' "$agent/AutomiseLogs/old.txt"
run_vorbex
has_line 'MSG : Preprocessing : in subdeletepreviousfiles'
[ -e "$agent/AutomiseLogs/new.txt" ] || fail "new.txt was deleted"
if [ -e "$agent/AutomiseLogs/old.txt" ]; then
  # Wine takes a file's creation time from the Linux birth time where the
  # file system keeps one, and that cannot be set back.
  birth="$(stat -c %W "$agent/AutomiseLogs/old.txt")"
  if [ "$birth" != 0 ] && [ "$birth" != '-' ]; then
    note "old.txt stays: Wine reports its Linux birth time (now) as its creation date; the age rule is not checkable here"
  else
    fail "old.txt (4 days old) was not deleted"
  fi
fi
f="$(drops wpdcmtkvrmenuactionst_N_42_ | head -1)"
[ -n "$f" ] && contains "$(read_drop "$f")" '<faildesc>No Scripts found to execute</faildesc>' "action record"
[ -n "$f" ] || fail "no action record"
verdict

# Runs that overlap: each its own action and template, all failing the same
# action of the same script and leaving a variables file of the same name,
# with a receiver that refuses every post.
scenario "overlap: four runs at once lose no record, log line or count"
start_receiver --status 500
install_agent "http://127.0.0.1:$receiver_port/"
seed_registry
overlap_project="$(failing_project Fail.atz 'varsfile vars.xml')"
for i in 1 2 3 4; do
  entry="$(add_script Fail.atz "$overlap_project" "$agent/kHVR/Tellix/Action_3${i}_KRN/ProcessedScripts")"
  { echo '<?xml version="1.0"?>'; echo '<root>'
    echo "<item>7$i%@%3%@%100$i%@%1%@%$entry%@%%@%1%@%1%@%0%@%</item>"; echo '</root>'
  } | crlf > "$agent/kHVR/Tellix/Action_3${i}_KRN/KRNScripts.xml"
done
overlap_pids=()
for i in 1 2 3 4; do
  timeout 180 wine start /wait /unix "$agent/vorbex.exe" "5$i,2,Action_3${i}_KRN" </dev/null >/dev/null 2>&1 &
  overlap_pids+=($!)
done
for p in "${overlap_pids[@]}"; do wait "$p" || fail "a run ended with $?"; done
stop_receiver
ids_of() {  # RECORD ELEMENT -> the element's values in those drops, sorted, one line
  local f
  for f in $(drops "$1"); do echo "$(read_drop "$f" | sed -n "s/.*<$2>\([^<]*\)<\/$2>.*/\1/p")"; done | sort | tr '\n' ' '
}
equals "$(ids_of wpdcmatztempexecst_N_42_ scrid)" "1001 1002 1003 1004 " "status records"
equals "$(ids_of wpdcmatztempexecfail_N_42_ scrid)" "1001 1002 1003 1004 " "failure records"
equals "$(ids_of wpdcmtkvrmenuactionst_N_42_ tempid)" "51 52 53 54 " "action records"
equals "$(ids_of vars scriptid)" "1001 1002 1003 1004 " "variables records"
for f in $(ls "$agent/HVRPostLogs"); do
  case "$f" in *.xml) ;; *) fail "left in C:\\Agent\\HVRPostLogs: $f" ;; esac
  equals "$(grep -c . "$agent/HVRPostLogs/$f")" 1 "lines of $f"
  case "$(read_drop "$f")" in *'</wpdcmatztempexecst>'|*'</wpdcmatztempexecfail>'|*'</wpdcmtkvrmenuactionst>'|*'</wpatcmdscrvardata>') ;;
    *) fail "$f is not whole" ;; esac
done
cat "$agent/ApplicationLog/kHVRLog/"*.txt | tr -d '\r' | sed 's/^[^\t]*\t//' > "$work/messages.txt"
count_lines 4 'MSG : Preprocessing: Application started'
count_lines 4 'MSG : Preprocessing: Application Ended'
thresholds="$(tr -d '\r' < "$agent/Configuration/ATZThreshold.ini" 2>/dev/null)"
contains "$thresholds" $'[FailureDesc_Fail.atz]\nCopy patch=4' "ATZThreshold.ini"
contains "$thresholds" $'\nDisk=4' "ATZThreshold.ini"
equals "$(grep -c . "$work/posts.txt")" 8 "posts refused"
verdict

# The registration is started, not waited for: the retry right after it fails
# while regsvr32 is still starting, and the record is dropped. On a machine
# where regsvr32 won that race the first record would be posted instead.
scenario "registration: an unregistered kWbPost is registered once per run"
wine regsvr32 /u /s 'C:\Agent\kWbPost.dll' </dev/null >/dev/null 2>&1
class_registered && fail "kWbPost.WebPost is still registered before the run"
start_receiver
install_agent "http://127.0.0.1:$receiver_port/"
seed_registry
write_jobs "$(job 801 "$(add_script One.atz "$clean_project")")" "$(job 802 "$(add_script Two.atz "$clean_project")")"
run_vorbex
stop_receiver
count_lines 1 'MSG : Preprocessing: Registered Dll : C:\Agent\kWbPost.dll'
# The retry follows the start of regsvr32 at once, so it normally finds the
# class still missing and the record is dropped; should regsvr32 ever win
# that race, the record is posted instead, which is no fault.
first="$(drops wpdcmatztempexecst_N_42_ | head -1)"
expected_posts=1
if [ -n "$first" ]; then
  has_line 'ERR : Function WebPost :: 429-ActiveX component can'"'"'t create object'
  contains "$(read_drop "$first")" '<scrid>801</scrid>' "dropped status record"
else
  note "regsvr32 registered the class before the retry: the first record was posted"
  expected_posts=2
fi
# regsvr32 ran on its own meanwhile: the class is there after the run, and the
# second record, two seconds later, went out through it.
for i in $(seq 1 30); do class_registered && break; sleep 0.2; done
class_registered || fail "regsvr32 -s did not register kWbPost.WebPost"
contains "$(cat "$work/posts.txt")" '<scrid>802</scrid>' "receiver"
equals "$(grep -c . "$work/posts.txt")" "$expected_posts" "posts received"
verdict

# A script can foresee the names a drop once staged in AutomiseLogs (record,
# registration id, the second, the program's process id). They are planted
# there, as folders and read-only files, while the job runs: every record is
# still placed, and nothing is made in AutomiseLogs for one.
scenario "drops: names planted in AutomiseLogs keep no record out"
install_agent
seed_registry
mkdir -p "$agent/AutomiseLogs"
write_jobs "$(job 951 "$(add_script Plant.atz 'console Project File: ${PROJECT}
sleep 8000
varsfile vars.xml
vars <wpatcmdscrvardata><var name='"'Disk'"'>42</var></wpatcmdscrvardata>
console Build Failed
console Exit with return code: 1
exit 1
')")"
timeout 180 wine start /wait /unix "$agent/vorbex.exe" "5,2,$action" </dev/null >/dev/null 2>&1 &
plant_run=$!
# Wine's tasklist is a stub; its debugger lists the processes (ids in hex).
win_pid=""
for i in $(seq 1 20); do
  hex="$(wine winedbg --command "info proc" </dev/null 2>/dev/null | tr -d '\r' |
         sed -n "s/^[ =]*\([0-9a-fA-F]\{8\}\) .*'vorbex\.exe'.*/\1/p" | head -1)"
  [ -n "$hex" ] && { win_pid=$((16#$hex)); break; }
  sleep 0.2
done
planted=0
if [ -z "$win_pid" ]; then
  fail "winedbg did not show vorbex.exe: its process id, which the names carry, is unknown"
else
  now="$(date +%s)"
  for t in $(seq $((now - 2)) $((now + 90))); do
    stamp="$(date -d "@$t" +%m%d%Y%H%M%S)"
    stamp="$stamp$((10#${stamp: -2}))"
    for r in wpdcmatztempexecst wpdcmatztempexecfail wpdcmtkvrmenuactionst; do
      name="$agent/AutomiseLogs/${r}_N_42_$stamp.xml"
      if [ $((planted % 2)) -eq 0 ]; then
        mkdir "$name.vx$win_pid.tmp"
      else
        : > "$name.vx$win_pid.tmp"
        chmod a-w "$name.vx$win_pid.tmp"
      fi
      mkdir "$name"
      planted=$((planted + 2))
    done
  done
  for v in vars.xml vars_1.xml vars_2.xml; do mkdir "$agent/AutomiseLogs/$v.vx$win_pid.tmp"; planted=$((planted + 1)); done
  [ -z "$(ls "$agent/HVRPostLogs" 2>/dev/null)" ] || fail "the names were planted only after the first drop"
fi
wait "$plant_run" || fail "vorbex.exe ended with $?"
save_messages
grep -q 'could not be dropped' "$work/messages.txt" && fail "a record was lost: $(grep 'could not be dropped' "$work/messages.txt" | head -1)"
lacks_prefix 'ERR : function fncPostKRNExecStatus'
equals "$(drop_count wpdcmatztempexecst_N_42_)" 1 "status records"
equals "$(drop_count wpdcmatztempexecfail_N_42_)" 1 "failure records"
equals "$(drop_count wpdcmtkvrmenuactionst_N_42_)" 1 "action records"
[ -f "$agent/HVRPostLogs/vars.xml" ] && contains "$(read_drop vars.xml)" "<scriptid>951</scriptid><var name='Disk'><![CDATA[42]]></var>" "variables record"
[ -f "$agent/HVRPostLogs/vars.xml" ] || fail "no variables record"
for f in $(ls "$agent/HVRPostLogs"); do case "$f" in *.xml) ;; *) fail "left in C:\\Agent\\HVRPostLogs: $f" ;; esac; done
equals "$(ls "$agent/AutomiseLogs" | grep -c -e '^wpdc' -e '^vars')" "$planted" "record-like names in AutomiseLogs"
verdict

# A scanner on the machine, as virus scanners and indexers are: it opens each
# new file of HVRPostLogs and AutomiseLogs the moment it sees it, without
# FILE_SHARE_DELETE, and holds it for 200 ms. The program's claims, copies and
# deletes meet those handles and must wait them out: no record is lost.
scenario "scanner: files held for 200 ms as they appear lose no record"
scanner="$win_build/test_win32.exe"
if [ ! -f "$scanner" ]; then
  fail "missing $scanner (its helper plays the scanner): scripts/build-windows test_win32"
else
  start_receiver --status 500
  install_agent "http://127.0.0.1:$receiver_port/"
  seed_registry
  mkdir -p "$agent/HVRPostLogs" "$agent/AutomiseLogs"
  rm -f "$agent/scan.stop"
  scan_vars="$(failing_project Vars.atz)"
  # A failed job ends the list: the one with an export and variables comes last.
  write_jobs "$(job 1101 "$(add_script Ok.atz "$clean_project")")" "$(job 1102 "$(add_script Vars.atz "$scan_vars")")"
  scanner_pids=()
  for folder in HVRPostLogs AutomiseLogs; do
    rm -f "$agent/held-$folder.txt"
    wine "$scanner" --helper scan "C:\\Agent\\$folder" 200 'C:\Agent\scan.stop' "C:\\Agent\\held-$folder.txt" \
      </dev/null >/dev/null 2>&1 &
    scanner_pids+=($!)
  done
  for i in $(seq 1 100); do
    [ -f "$agent/held-HVRPostLogs.txt" ] && [ -f "$agent/held-AutomiseLogs.txt" ] && break
    sleep 0.1
  done
  run_vorbex
  touch "$agent/scan.stop"
  for p in "${scanner_pids[@]}"; do wait "$p" || fail "a scanner ended with $?"; done
  stop_receiver
  equals "$(drop_count wpdcmatztempexecst_N_42_)" 2 "status records dropped"
  equals "$(drop_count wpdcmatztempexecfail_N_42_)" 1 "failure records dropped"
  equals "$(drop_count wpdcmtkvrmenuactionst_N_42_)" 1 "action records"
  equals "$(drop_count VTXVariables_)" 1 "variables records"
  for f in $(ls "$agent/HVRPostLogs"); do
    case "$f" in *.xml) ;; *) fail "left in C:\\Agent\\HVRPostLogs: $f" ;; esac
    grep -qxF "$f" "$agent/held-HVRPostLogs.txt" || fail "the scanner never held $f"
  done
  f="$(drops wpdcmatztempexecfail_N_42_ | head -1)"
  [ -n "$f" ] && contains "$(read_drop "$f")" '<faildesc><![CDATA[Postprocessing:ACTION-DESC:Copy patch@#@Access denied]]></faildesc>' "failure record of Vars.atz"
  lacks_prefix 'ERR : in Main'
  grep -q 'Permission denied' "$work/messages.txt" && fail "a refusal reached the log: $(grep -m1 'Permission denied' "$work/messages.txt")"
  ls "$agent/AutomiseLogs" | grep -q KOVAExportLog_ && fail "an export was left in C:\\Agent\\AutomiseLogs"
  note "the scanner held $(grep -c . "$agent/held-HVRPostLogs.txt") files in HVRPostLogs and $(grep -c . "$agent/held-AutomiseLogs.txt") in AutomiseLogs"
fi
verdict

# A script that rewrites another file of its own job once it was verified:
# every verified file is held, sharing reading only, until the runner has
# ended, so the rewrite is refused and the job runs what was verified.
scenario "held scripts: a verified file cannot be rewritten while its job runs"
install_agent
seed_registry
extra_entry="$(add_script Extra.atz $'console verified\n')"
extra_sum="$(md5_of "$processed/Extra.atz")"
main_entry="$(add_script Main.atz $'console Project File: ${PROJECT}\nwrite Extra.atz console swapped\nconsole Build Completed\n')"
write_jobs "11%@%3%@%311%@%1%@%$main_entry%@%$extra_entry%@%1%@%1%@%0%@%"
run_vorbex
console="$(cat "$agent/AutomiseLogs/"Main_*.txt 2>/dev/null | tr -d '\r')"
contains "$console" 'Cannot write C:\Agent\kHVR\Tellix\Action_27_KRN\ProcessedScripts\Extra.atz' "console log of Main.atz"
equals "$(md5_of "$processed/Extra.atz")" "$extra_sum" "MD5 of Extra.atz after the run"
count_lines 1 'MSG : Postprocessing: Successfully Executed the script'
lacks_prefix 'ERR : Postprocessing:Script file '
lacks_prefix 'ERR : Preprocessing: Script file '
verdict

# A user who takes the job mutex's name first (here with an event of that
# name) cannot make the runs go on without the lock unsaid.
scenario "names: a UTF-8 job list naming café.atz runs the file of that name"
install_agent
seed_registry
# The job list and the file's name on disk are UTF-8; the program holds the
# name in its code page, where the accented letter is the one byte E9.
accented="$(add_script 'café.atz' "$clean_project")"
write_jobs "$(job 331 "$accented")"
run_vorbex
count_lines 1 'MSG : Postprocessing: Successfully Executed the script'
LC_ALL=C grep -qaxF -- $'MSG : Preprocessing: Primary Script :: C:\\Agent\\kHVR\\Tellix\\Action_27_KRN\\ProcessedScripts\\caf\xe9.atz' \
  "$work/messages.txt" || fail "no Primary Script line naming caf\xe9.atz in the code page"
equals "$(drop_count wpdcmatztempexecfail_N_42_)" 0 "failure records"
verdict

scenario "job lock: a squatted mutex name is said, and the job goes on"
install_agent
seed_registry
write_jobs "$(job 321 "$(add_script Squat.atz "$clean_project")")"
coproc SQUAT { exec wine "$runner" --squat 'C:\Agent\kScripts\KOVAVariables.lock' 60000 </dev/null 2>/dev/null; }
squatter_pid=$SQUAT_PID
held=""
read -r -t 60 held <&"${SQUAT[0]}"
equals "$(printf '%s' "$held" | tr -d '\r')" held "the squatter"
run_vorbex
has_prefix 'ERR : Preprocessing: The job lock C:\Agent\kScripts\KOVAVariables.lock cannot be taken (the name Global\VorbexJobs.' \
  || fail "no ERR line for the squatted job lock"
count_lines 1 'MSG : Postprocessing: Successfully Executed the script'
kill "$squatter_pid" 2>/dev/null
wait "$squatter_pid" 2>/dev/null
verdict

# The console log names the variables file through "/..": the system folds it
# to AutomiseLogs\q\v.xml, which is read. The record is dropped under the
# plain name after the last separator, in HVRPostLogs itself, and nothing of
# it lands where the path would lead from there.
scenario "drop name: a variables path with /.. places nothing outside HVRPostLogs"
install_agent
seed_registry
mkdir -p "$agent/AutomiseLogs/q" "$agent/HVRPostLogs"
write_jobs "$(job 341 "$(add_script Climb.atz $'console Project File: ${PROJECT}\nvarsfile ../../Agent/AutomiseLogs/q/v.xml\nvars <wpatcmdscrvardata><var name=\'Disk\'>42</var></wpatcmdscrvardata>\nconsole Build Completed\n')")"
run_vorbex
has_line 'MSG : Preprocessing: Deleting C:\Agent\AutomiseLogs\../../Agent/AutomiseLogs/q/v.xml'
has_prefix 'MSG : Preprocessing: Copying C:\Agent\HVRPostLogs\v.xml.vx' || fail "no Copying line into C:\Agent\HVRPostLogs\v.xml"
equals "$(drop_count v)" 1 "variables records in HVRPostLogs"
[ -f "$agent/HVRPostLogs/v.xml" ] && contains "$(read_drop v.xml)" "<var name='Disk'><![CDATA[42]]></var>" "v.xml"
equals "$(ls -A "$agent/AutomiseLogs/q")" "" "C:\Agent\AutomiseLogs\q"
equals "$(find "$agent/HVRPostLogs" -mindepth 1 -type d | wc -l)" 0 "folders in HVRPostLogs"
equals "$(ls -A "$agent/Configuration" | grep -v '^ATZThreshold\.ini')" kScriptDNS.ini "C:\Agent\Configuration"
verdict

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
