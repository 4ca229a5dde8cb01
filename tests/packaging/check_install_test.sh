#!/usr/bin/env bash
# scripts/check-install, which both macOS workflows run on an installed and signed tessary, here
# against stand-ins of otool, codesign and plutil that answer as macOS's do (their answers are
# files of a fixture) and an installed tree whose executables are small scripts that answer
# --version and the usage error:
#   check_install_test.sh SOURCE_DIR PROJECT_VERSION TESSARY_IDENTIFIER
# A sound tree passes, signed ad-hoc and with Developer ID; each fault of a table (one thing
# changed in a sound tree) must fail the check, naming what is wrong.
set -euo pipefail
source_dir=$1
version=$2
identifier=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
check() {  # <description> <command...>
  local what=$1; shift
  if "$@"; then echo "ok: $what"; else echo "FAIL: $what"; failures=$((failures + 1)); fi
}

# The stand-ins read their answers from $FIXTURE, per executable name (a link answers for its
# target, as codesign does).
mkdir -p "$work/stand-in"
cat >"$work/stand-in/codesign" <<'STANDIN'
#!/bin/sh
for file; do :; done
name=$(basename "$file"); [ -L "$file" ] && name=$(basename "$(readlink "$file")")
case "$1" in
  --verify) [ ! -e "$FIXTURE/verify-fails-$name" ] ;;
  -dv) cat "$FIXTURE/codesign-$name" >&2 ;;
  -d) cat "$FIXTURE/entitlements-$name" 2>/dev/null; exit 0 ;;
  *) exit 64 ;;
esac
STANDIN
cat >"$work/stand-in/otool" <<'STANDIN'
#!/bin/sh
name=$(basename "$2")
printf '%s:\n' "$2"
case "$1" in
  -L) cat "$FIXTURE/libraries-$name" ;;
  -P) printf '(__TEXT,__info_plist) section\n'; cat "$FIXTURE/plist-$name" ;;
  *) exit 64 ;;
esac
STANDIN
cat >"$work/stand-in/plutil" <<'STANDIN'
#!/bin/sh
# plutil -p FILE | plutil -extract KEY raw -o - FILE, for a plist of string values, one a line;
# a file with no <plist> is no property list.
for file; do :; done
grep -q '<plist' "$file" || { echo "$file: not a property list" >&2; exit 1; }
case "$1" in
  -p) sed -n 's/^[[:space:]]*<\(key\|string\)>\(.*\)<\/\(key\|string\)>$/\2/p' "$file" ;;
  -extract)
    [ "$3 $4 $5" = "raw -o -" ] || exit 64
    awk -v key="<key>$2</key>" '
      found { sub(/^[ \t]*<string>/, ""); sub(/<\/string>$/, ""); print; done = 1; exit }
      { line = $0; sub(/^[ \t]*/, "", line) } line == key { found = 1 }
      END { exit done ? 0 : 1 }' "$file" ;;
  *) exit 64 ;;
esac
STANDIN
chmod +x "$work/stand-in/"*
export PATH="$work/stand-in:$PATH"

# A sound installed tree and the stand-ins' answers for it, signed ad-hoc or with Developer ID.
sound() {  # <name> <adhoc|developer-id>
  prefix="$work/$1/prefix"
  export FIXTURE="$work/$1/fixture"
  mkdir -p "$prefix/bin" "$prefix/share/man/man1" "$FIXTURE"
  cat >"$prefix/bin/tessary" <<SCRIPT
#!/bin/sh
if [ "\$(basename "\$0")" = tessary-doctor ] && [ "\$1" = --version ]; then echo "tessary-doctor $version (0123abc)"; exit 0; fi
echo "TESSARY: usage: tessary <command-id> <absolute-result-path>" >&2
exit 1
SCRIPT
  cat >"$prefix/bin/tessary-replay" <<SCRIPT
#!/bin/sh
[ "\$1" = --version ] && echo "tessary-replay $version (0123abc)"
SCRIPT
  chmod +x "$prefix/bin/tessary" "$prefix/bin/tessary-replay"
  ln -s tessary "$prefix/bin/tessary-doctor"
  for page in tessary tessary-doctor tessary-replay; do echo .TH >"$prefix/share/man/man1/$page.1"; done
  for name in tessary tessary-replay; do
    local id=$identifier
    [ "$name" = tessary ] || id=$identifier-replay
    printf '\t/usr/lib/libc++.1.dylib (compatibility version 1.0.0, current version 1800.105.0)\n\t/usr/lib/libSystem.B.dylib (compatibility version 1.0.0, current version 1351.0.0)\n' >"$FIXTURE/libraries-$name"
    cat >"$FIXTURE/plist-$name" <<PLIST
<?xml version="1.0" encoding="UTF-8"?>
<!DOCTYPE plist PUBLIC "-//Apple//DTD PLIST 1.0//EN" "http://www.apple.com/DTDs/PropertyList-1.0.dtd">
<plist version="1.0">
<dict>
	<key>CFBundleIdentifier</key>
	<string>$id</string>
	<key>CFBundleName</key>
	<string>$name</string>
	<key>CFBundleShortVersionString</key>
	<string>$version</string>
</dict>
</plist>
PLIST
    if [ "$2" = adhoc ]; then
      cat >"$FIXTURE/codesign-$name" <<DETAILS
Executable=$prefix/bin/$name
Identifier=$id
Format=Mach-O thin (arm64)
CodeDirectory v=20500 size=1234 flags=0x10002(adhoc,runtime) hashes=28+7 location=embedded
Hash type=sha256 size=32
CDHash=0123456789abcdef0123456789abcdef01234567
Signature=adhoc
Info.plist entries=3
TeamIdentifier=not set
Runtime Version=15.0.0
Sealed Resources=none
Internal requirements count=0 size=12
DETAILS
    else
      cat >"$FIXTURE/codesign-$name" <<DETAILS
Executable=$prefix/bin/$name
Identifier=$id
Format=Mach-O thin (arm64)
CodeDirectory v=20500 size=1234 flags=0x10000(runtime) hashes=28+7 location=embedded
Hash type=sha256 size=32
CDHash=0123456789abcdef0123456789abcdef01234567
Signature size=8972
Authority=Developer ID Application: Tessary Test (ABCDE12345)
Authority=Developer ID Certification Authority
Authority=Apple Root CA
Timestamp=11 Dec 2026 at 13:00:00
Info.plist entries=3
TeamIdentifier=ABCDE12345
Runtime Version=15.0.0
Sealed Resources=none
Internal requirements count=1 size=200
DETAILS
    fi
  done
}
run_check() {  # <kind>: the script's status in $status, its lines in $work/out
  status=0
  bash "$source_dir/scripts/check-install" "$prefix" "$1" >"$work/out" 2>&1 || status=$?
}

sound adhoc adhoc
run_check adhoc
check "a sound tree signed ad-hoc passes" test "$status" -eq 0
check "  with no failed check" grep -qx "0 failed" "$work/out"
grep -q '^ok: ' "$work/out" || cat "$work/out"
sound developer-id developer-id
run_check developer-id
check "a sound tree signed with Developer ID passes" test "$status" -eq 0
grep -q "^FAIL" "$work/out" && cat "$work/out"

# fault <description> <kind> <the FAIL line's beginning> <shell code that changes a sound tree>
fault() {
  local what=$1 kind=$2 expected=$3 change=$4
  rm -rf "$work/fault"
  sound fault "$kind"
  (cd "$work/fault" && eval "$change")
  run_check "$kind"
  check "$what: status 1, \"FAIL: $expected\"" test "$status" -eq 1
  if ! grep -q "^FAIL: $expected" "$work/out"; then
    echo "  no line \"FAIL: $expected\" in:"; sed 's/^/    /' "$work/out"; failures=$((failures + 1))
  fi
}
fault "tessary-doctor a copy of tessary" adhoc "bin/tessary-doctor is a symbolic link" \
  'rm prefix/bin/tessary-doctor; cp prefix/bin/tessary prefix/bin/tessary-doctor'
fault "a manual page missing" adhoc "the installed tree" 'rm prefix/share/man/man1/tessary-replay.1'
fault "a file too many" adhoc "the installed tree" 'touch prefix/bin/tessary-standin'
fault "a library of Homebrew's" adhoc "tessary links only the system's libraries" \
  'printf "\t/opt/homebrew/opt/utf8proc/lib/libutf8proc.3.dylib (compatibility version 3.0.0)\n" >>fixture/libraries-tessary'
fault "the signature does not verify" adhoc "tessary-replay: codesign --verify --strict" 'touch fixture/verify-fails-tessary-replay'
fault "another identifier" adhoc "tessary-replay: Identifier=$identifier-replay" \
  "sed -i 's/^Identifier=.*/Identifier=tessary-replay/' fixture/codesign-tessary-replay"
fault "no hardened runtime" adhoc "tessary: ad-hoc with the hardened runtime" \
  "sed -i 's/flags=0x10002(adhoc,runtime)/flags=0x20002(adhoc,linker-signed)/' fixture/codesign-tessary"
fault "entitlements" adhoc "tessary: no entitlements" \
  'printf "<plist><dict><key>com.apple.security.get-task-allow</key><true/></dict></plist>\n" >fixture/entitlements-tessary'
fault "the embedded plist names another identifier" adhoc "tessary: the embedded Info.plist names $identifier" \
  "sed -i 's|<string>$identifier</string>|<string>com.example.other</string>|' fixture/plist-tessary"
fault "no embedded plist" adhoc "tessary-replay: the embedded Info.plist names" ': >fixture/plist-tessary-replay'
fault "the embedded plist holds another version" adhoc "tessary: the embedded Info.plist holds the version" \
  "sed -i 's|<string>$version</string>|<string>9.9.9</string>|' fixture/plist-tessary"
fault "--version without the commit" adhoc "tessary-doctor --version" \
  "sed -i 's/ (0123abc)//' prefix/bin/tessary"
fault "--version of another version" adhoc "tessary-replay --version" \
  "sed -i 's/$version/9.9.9/' prefix/bin/tessary-replay"
fault "another usage line" adhoc "tessary without arguments" \
  "sed -i 's/<absolute-result-path>/<result-path>/' prefix/bin/tessary"
fault "an ad-hoc signature where Developer ID is wanted" developer-id "tessary: signed by a Developer ID Application certificate" \
  "sed -i '/^Authority=/d' fixture/codesign-tessary"
fault "Developer ID without a timestamp" developer-id "tessary-replay: with a secure timestamp" \
  "sed -i '/^Timestamp=/d' fixture/codesign-tessary-replay"
fault "Developer ID without a team" developer-id "tessary: with a team" \
  "sed -i 's/^TeamIdentifier=.*/TeamIdentifier=not set/' fixture/codesign-tessary"

echo "$failures failed"
[ "$failures" -eq 0 ]
