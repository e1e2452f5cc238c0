#!/usr/bin/env bash
# Builds the release package and checks it as a user would receive it: the DLL, the host, the
# README and every page and picture of docs/ it links to, nothing else; and the DLL in it loads in
# the host from the package and reports the project's version (from CMakeLists.txt, where it is
# written once).
# Prints "package: ok" or the first thing that is wrong; exits non-zero then.
set -euo pipefail
source "$(dirname "$0")/common.sh"

version=$(sed -n 's/^project(Quintara VERSION \([0-9.]*\).*/\1/p' "$ROOT/CMakeLists.txt")
package="Quintara-$version-win32"
cmake --build "$WIN_BUILD" --target package_zip >/dev/null
zip="$WIN_BUILD/$package.zip"
expected=$(cd "$ROOT" && { printf '%s\n' "$package/Quintara.dll" "$package/README.md" "$package/quintara-host.exe";
                          for f in docs/*.md docs/*.png; do echo "$package/$f"; done; } | LC_ALL=C sort)
listed=$(python3 -c 'import sys, zipfile; print("\n".join(sorted(n for n in zipfile.ZipFile(sys.argv[1]).namelist() if not n.endswith("/"))))' "$zip")
if [ "$listed" != "$expected" ]; then
  say "package: the zip holds"; say "$listed"; exit 1
fi

unpacked=$(mktemp -d)
trap 'rm -rf "$unpacked"' EXIT
python3 -c 'import sys, zipfile; zipfile.ZipFile(sys.argv[1]).extractall(sys.argv[2])' "$zip" "$unpacked"
info=$(cd "$unpacked/$package" && wine quintara-host.exe info 2>&1) || { say "package: info failed: $info"; exit 1; }
for want in "title:     Quintara $version" "file:      version $version (Halvaron)" "action 1: ae_resize" "action 2: AE_Image_Get_Metrics"; do
  grep -qF "$want" <<<"$info" || { say "package: info lacks \"$want\""; say "$info"; exit 1; }
done
echo "package: ok ($(stat -c %s "$zip") bytes)"
