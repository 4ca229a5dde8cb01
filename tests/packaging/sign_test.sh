#!/usr/bin/env bash
# scripts/sign against a codesign stand-in that records each call's arguments, one call a line,
# each argument in brackets (an identity holds spaces):
#   sign_test.sh SOURCE_DIR TESSARY_IDENTIFIER
# The expected calls are written out in full and compared line by line: ad-hoc without an
# identity (no --timestamp, and the warning that the grant will be asked for again), the
# identity's calls with one, the link tessary-doctor never signed, and a tessary-doctor that is a
# file of its own, a missing executable, a library of Homebrew's linked (as an otool stand-in
# lists it) and a failing codesign each refused.
set -euo pipefail
source_dir=$1
identifier=$2
sign="$source_dir/scripts/sign"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
check() {  # <description> <command...>: counts a failure when the command fails
  local what=$1; shift
  if "$@"; then echo "ok: $what"; else echo "FAIL: $what"; failures=$((failures + 1)); fi
}

mkdir -p "$work/stand-in"
cat >"$work/stand-in/codesign" <<'STANDIN'
#!/bin/sh
# codesign stand-in: records its arguments; fails for a file named in CODESIGN_FAIL_FOR.
line="codesign"
for argument in "$@"; do line="$line [$argument]"; done
echo "$line" >>"$CODESIGN_LOG"
for argument in "$@"; do
  if [ -n "${CODESIGN_FAIL_FOR:-}" ] && [ "$argument" = "$CODESIGN_FAIL_FOR" ]; then exit 1; fi
done
exit 0
STANDIN
chmod +x "$work/stand-in/codesign"
# otool stand-in: `otool -L FILE` lists the system's libraries, and OTOOL_HOMEBREW_FOR's file
# also Homebrew's utf8proc.
cat >"$work/stand-in/otool" <<'STANDIN'
#!/bin/sh
[ "$1" = -L ] || exit 64
printf '%s:\n' "$2"
printf '\t/usr/lib/libc++.1.dylib (compatibility version 1.0.0, current version 1800.105.0)\n'
if [ -n "${OTOOL_HOMEBREW_FOR:-}" ] && [ "$2" = "$OTOOL_HOMEBREW_FOR" ]; then
  printf '\t/opt/homebrew/opt/utf8proc/lib/libutf8proc.3.dylib (compatibility version 3.0.0, current version 3.0.0)\n'
fi
printf '\t/System/Library/Frameworks/AppKit.framework/Versions/C/AppKit (compatibility version 45.0.0, current version 2575.20.19)\n'
printf '\t/usr/lib/libSystem.B.dylib (compatibility version 1.0.0, current version 1351.0.0)\n'
STANDIN
chmod +x "$work/stand-in/otool"
export PATH="$work/stand-in:$PATH"

# An installed tree as cmake --install lays it out.
prefix() {
  local p="$work/$1"
  rm -rf "$p"
  mkdir -p "$p/bin" "$p/share/man/man1"
  printf 'tessary\n' >"$p/bin/tessary"
  printf 'replay\n' >"$p/bin/tessary-replay"
  chmod +x "$p/bin/tessary" "$p/bin/tessary-replay"
  ln -s tessary "$p/bin/tessary-doctor"
  for page in tessary tessary-doctor tessary-replay; do printf '.TH\n' >"$p/share/man/man1/$page.1"; done
  printf '%s\n' "$p"
}

# run <prefix>: runs scripts/sign (TESSARY_SIGNING_IDENTITY as set) on a fresh log; status in $status, streams in files.
run() {
  local p=$1
  export CODESIGN_LOG="$work/codesign.log"
  rm -f "$CODESIGN_LOG"; touch "$CODESIGN_LOG"
  status=0
  "$sign" "$p" >"$work/stdout" 2>"$work/stderr" || status=$?
}

# Without an identity: ad-hoc, with the identifier, the hardened runtime, no timestamp.
p=$(prefix adhoc)
unset TESSARY_SIGNING_IDENTITY
run "$p"
cat >"$work/expected" <<EXPECTED
codesign [--force] [--options] [runtime] [--identifier] [$identifier] [--sign] [-] [$p/bin/tessary]
codesign [--force] [--options] [runtime] [--identifier] [${identifier}-replay] [--sign] [-] [$p/bin/tessary-replay]
EXPECTED
check "ad-hoc: status 0" test "$status" -eq 0
check "ad-hoc: the codesign calls, line by line" diff "$work/expected" "$work/codesign.log"
check "ad-hoc: says that macOS will ask for the grant again after each update" \
  grep -q "ask for the grant again after each update" "$work/stderr"
check "ad-hoc: the link tessary-doctor is left a link to tessary" test "$(readlink "$p/bin/tessary-doctor")" = tessary

# An empty identity is no identity.
TESSARY_SIGNING_IDENTITY="" run "$p"
check "empty identity: signs ad-hoc" diff "$work/expected" "$work/codesign.log"

# With an identity: the same files, with --timestamp and the identity as one argument.
identity="Developer ID Application: Tessary Test (ABCDE12345)"
TESSARY_SIGNING_IDENTITY=$identity run "$p"
cat >"$work/expected" <<EXPECTED
codesign [--force] [--options] [runtime] [--timestamp] [--identifier] [$identifier] [--sign] [$identity] [$p/bin/tessary]
codesign [--force] [--options] [runtime] [--timestamp] [--identifier] [${identifier}-replay] [--sign] [$identity] [$p/bin/tessary-replay]
EXPECTED
check "identity: status 0" test "$status" -eq 0
check "identity: the codesign calls, line by line" diff "$work/expected" "$work/codesign.log"
check "identity: no ad-hoc warning" test ! -s "$work/stderr"

# Refusals, each before any call to codesign.
p=$(prefix separate-doctor)
rm "$p/bin/tessary-doctor"; printf 'doctor\n' >"$p/bin/tessary-doctor"
TESSARY_SIGNING_IDENTITY=$identity run "$p"
check "a tessary-doctor that is a file of its own: status 1, nothing signed" \
  test "$status" -eq 1 -a ! -s "$work/codesign.log"
check "  and it says why" grep -q "tessary-doctor is not a symbolic link to tessary" "$work/stderr"

p=$(prefix other-link)
ln -sf tessary-replay "$p/bin/tessary-doctor"
run "$p"
check "a tessary-doctor linked elsewhere: status 1, nothing signed" test "$status" -eq 1 -a ! -s "$work/codesign.log"

p=$(prefix no-replay)
rm "$p/bin/tessary-replay"
run "$p"
check "tessary-replay missing: status 1, nothing signed" test "$status" -eq 1 -a ! -s "$work/codesign.log"

run "$work/nowhere"
check "no installed tree: status 1, nothing signed" test "$status" -eq 1 -a ! -s "$work/codesign.log"

status=0; "$sign" >/dev/null 2>&1 || status=$?
check "no prefix: usage, status 2" test "$status" -eq 2

# An executable that links a library of Homebrew's, which a signed tessary with the hardened
# runtime may not load.
p=$(prefix homebrew-library)
OTOOL_HOMEBREW_FOR="$p/bin/tessary-replay" run "$p"
check "a library of Homebrew's linked: status 1, nothing signed" test "$status" -eq 1 -a ! -s "$work/codesign.log"
check "  and it names the library and the remedy" \
  grep -q "tessary-replay links /opt/homebrew/opt/utf8proc/lib/libutf8proc.3.dylib .*scripts/static-utf8proc" "$work/stderr"

# A failing codesign fails the script.
p=$(prefix failing)
CODESIGN_FAIL_FOR="$p/bin/tessary" run "$p"
check "codesign fails: status 1" test "$status" -eq 1
check "  and it names the file" grep -q "codesign failed for $p/bin/tessary" "$work/stderr"

echo "$failures failed"
[ "$failures" -eq 0 ]
