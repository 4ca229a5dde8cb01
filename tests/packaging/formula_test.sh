#!/usr/bin/env bash
# The release archive and the Homebrew formula made for it:
#   formula_test.sh SOURCE_DIR PROJECT_VERSION
# scripts/package makes the archive from an installed tree; its name must be the one the issue's
# users download (tessary-PROJECT_VERSION-macos-arm64.tar.gz, the version as CMake reads it), and
# it must hold the tree as cmake --install lays it out, with tessary-doctor a link to tessary.
# The formula rendered for that archive's address and SHA-256 must pass `ruby -c`, name that
# archive and hash, install every executable and page the archive holds (and the link as a
# link), and never sign or build a release. A wrong address or hash is refused. The release
# workflow must make its archive and formula with these same scripts, never spell the name.
set -euo pipefail
source_dir=$1
version=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
check() {  # <description> <command...>
  local what=$1; shift
  if "$@"; then echo "ok: $what"; else echo "FAIL: $what"; failures=$((failures + 1)); fi
}

p="$work/prefix"
mkdir -p "$p/bin" "$p/share/man/man1"
printf 'tessary\n' >"$p/bin/tessary"
printf 'replay\n' >"$p/bin/tessary-replay"
chmod 755 "$p/bin/tessary" "$p/bin/tessary-replay"
ln -s tessary "$p/bin/tessary-doctor"
for page in tessary tessary-doctor tessary-replay; do printf '.TH %s 1\n' "$page" >"$p/share/man/man1/$page.1"; done

# The archive.
name="tessary-$version-macos-arm64.tar.gz"
archive=$("$source_dir/scripts/package" "$p" "$work/out")
check "the archive is $name" test "$archive" = "$work/out/$name"
check "  and it exists" test -s "$archive"
tar -tvzf "$archive" | awk '{ print substr($1, 1, 1), $6, $7, $8 }' | sed 's/ *$//' | sort >"$work/listing"
sort >"$work/expected-listing" <<EXPECTED
- tessary-$version/bin/tessary
- tessary-$version/bin/tessary-replay
- tessary-$version/share/man/man1/tessary-doctor.1
- tessary-$version/share/man/man1/tessary-replay.1
- tessary-$version/share/man/man1/tessary.1
d tessary-$version/
d tessary-$version/bin/
d tessary-$version/share/
d tessary-$version/share/man/
d tessary-$version/share/man/man1/
l tessary-$version/bin/tessary-doctor -> tessary
EXPECTED
check "the archive holds the installed tree and nothing else, tessary-doctor a link to tessary" \
  diff "$work/expected-listing" "$work/listing"
mkdir "$work/unpacked"
tar -xzf "$archive" -C "$work/unpacked"
check "the executables keep their mode" test -x "$work/unpacked/tessary-$version/bin/tessary" -a -x "$work/unpacked/tessary-$version/bin/tessary-replay"
check "the files are the installed ones, byte for byte" cmp "$p/bin/tessary" "$work/unpacked/tessary-$version/bin/tessary"

# The formula for it.
sha256=$(sha256sum "$archive" | cut -d' ' -f1)
url="https://github.com/example/tessary/releases/download/v$version/$name"
"$source_dir/scripts/render-formula" "$url" "$sha256" https://github.com/example/tessary >"$work/tessary.rb"
check "the rendered formula passes ruby -c" ruby -c "$work/tessary.rb"
check "  it downloads the archive that scripts/package made" grep -qx "  url \"$url\"" "$work/tessary.rb"
check "  with its SHA-256" grep -qx "  sha256 \"$sha256\"" "$work/tessary.rb"
check "  and the version" grep -qx "  version \"$version\"" "$work/tessary.rb"
check "  no placeholder is left" bash -c "! grep -n '@[A-Z0-9_]*@' '$work/tessary.rb'"
check "  it neither signs nor builds a release (codesign only in comments)" \
  bash -c "! grep -v '^ *#' '$work/tessary.rb' | grep -n codesign"

# What the release branch of install puts in place, against what the archive holds.
sed -n '/^    else$/,/^    end$/p' "$work/tessary.rb" >"$work/release-install"
check "  the release install builds nothing" bash -c "! grep -n 'system' '$work/release-install'"
installed=$(grep -o '"[^"]*"' "$work/release-install" | tr -d '"' | sort | tr '\n' ' ')
check "  it installs each file of the archive: $installed" \
  test "$installed" = "bin/tessary bin/tessary-replay share/man/man1/tessary-doctor.1 share/man/man1/tessary-replay.1 share/man/man1/tessary.1 tessary tessary-doctor "
check "  and makes tessary-doctor a link to tessary" grep -q 'bin.install_symlink "tessary" => "tessary-doctor"' "$work/release-install"
for file in $(grep -o '"\(bin\|share\)/[^"]*"' "$work/release-install" | tr -d '"'); do
  check "  $file is in the archive as a file" grep -qx -- "- tessary-$version/$file" "$work/listing"
done

# Refusals.
refused() { ! "$@" >/dev/null 2>&1; }
render="$source_dir/scripts/render-formula"
home=https://github.com/example/tessary
check "an address naming another archive is refused" \
  refused "$render" "${url%/*}/tessary-$version-macos-x86_64.tar.gz" "$sha256" "$home"
check "a short hash is refused" refused "$render" "$url" "${sha256:1}" "$home"
check "an address with a quote is refused" refused "$render" "https://x/\"/$name" "$sha256" "$home"
check "a plain http address is refused" refused "$render" "http://example.com/$name" "$sha256" "$home"
rm "$p/bin/tessary-doctor"; cp "$p/bin/tessary" "$p/bin/tessary-doctor"
check "a tree whose tessary-doctor is a file of its own is not packaged" refused "$source_dir/scripts/package" "$p" "$work/out2"

# The release workflow makes its archive and formula with these scripts and spells no name.
workflow="$source_dir/.github/workflows/release.yml"
check "release.yml exists" test -f "$workflow"
check "release.yml packages with scripts/package" grep -q 'scripts/package ' "$workflow"
check "release.yml renders with scripts/render-formula" grep -q 'scripts/render-formula ' "$workflow"
check "release.yml spells no archive name of its own" bash -c "test -f '$workflow' && ! grep -n 'macos-arm64' '$workflow'"

echo "$failures failed"
[ "$failures" -eq 0 ]
