#!/usr/bin/env bash
# Packs the Windows build (build-windows/Orbitale) as the two files a user
# downloads: the installer, Orbitale-VERSION-x64.msi, and the portable zip,
# Orbitale-VERSION-x64.zip (unzip anywhere, run Orbitale.exe). The same
# commit gives the same files: every date in them is the last commit's
# (or SOURCE_DATE_EPOCH), every code is made from the version.
#   scripts/windows-package.sh BUILD_DIR
set -euo pipefail
build=$(realpath "${1:-build-windows}")
root=$(cd "$(dirname "$0")/.." && pwd)
files=$build/Orbitale
version=$(sed -n 's/^project(Orbitale VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")
export SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(git -C "$root" log -1 --format=%ct 2>/dev/null || echo 0)}
name=Orbitale-$version-x64

# Codes of this version: the same for every build of it, another for the next.
code() { python3 -c "import uuid,sys; print(str(uuid.uuid5(uuid.NAMESPACE_URL, sys.argv[1])).upper())" "$1"; }

# wixl takes its files by paths relative to the package's description.
stage=$build/msi
rm -rf "$stage"
mkdir -p "$stage"
cp "$root/data/windows/orbitale.wxs" "$root/data/windows/orbitale.ico" "$stage/"
cp -r "$files" "$stage/files"
# The cabinet keeps each file's date.
find "$stage" -exec touch -h -d "@$SOURCE_DATE_EPOCH" {} +
# msitools 0.101 takes the text's code page from the language it is told,
# not from the package's own Codepage, and stamps the package with the
# clock: both are given here. The database then says its code page itself,
# so that every Windows reads the Chinese names as Chinese.
export WINDOWS_LANGUAGE=zh_CN
at=(faketime -f "@$(date -u -d "@$SOURCE_DATE_EPOCH" '+%Y-%m-%d %H:%M:%S')")
(cd "$stage" && "${at[@]}" wixl --arch x64 -o "$build/$name.msi" \
    -D Version="$version.0" -D ProductCode="$(code "orbitale:product:$version")" \
    -D PackageCode="$(code "orbitale:package:$version:$SOURCE_DATE_EPOCH")" \
    -D Files=files -D Icon=orbitale.ico orbitale.wxs)
printf '\r\n\r\n936\t_ForceCodepage\r\n' >"$stage/_ForceCodepage.idt"
"${at[@]}" msibuild "$build/$name.msi" -i "$stage/_ForceCodepage.idt" \
    -s "Orbitale 地球公转 $version" Orbitale "x64;2052" \
    "{$(code "orbitale:package:$version:$SOURCE_DATE_EPOCH")}"

# The zip: one folder, its files in name order, dated from the commit.
python3 - "$files" "$build/$name.zip" "$SOURCE_DATE_EPOCH" <<'PY'
import os, sys, time, zipfile
folder, out, epoch = sys.argv[1], sys.argv[2], int(sys.argv[3])
stamp = time.gmtime(max(epoch, 315532800))[:6]  # a zip's dates start in 1980
wanted = []
for top, dirs, names in os.walk(folder):
    dirs.sort()
    for n in sorted(names):
        if not n.startswith('.'):
            wanted.append(os.path.join(top, n))
with zipfile.ZipFile(out, 'w', zipfile.ZIP_DEFLATED, compresslevel=9) as z:
    for path in wanted:
        info = zipfile.ZipInfo('Orbitale/' + os.path.relpath(path, folder).replace(os.sep, '/'), stamp)
        info.compress_type = zipfile.ZIP_DEFLATED
        info.external_attr = 0o644 << 16
        with open(path, 'rb') as f:
            z.writestr(info, f.read())
PY
ls -l "$build/$name.msi" "$build/$name.zip" | awk '{print $5, $9}'
