#!/usr/bin/env bash
# The release files of one Windows build, used as a Windows user would use
# them, under Wine: the zip unpacked and run on real PNGs, the installer and
# the uninstaller run silently, a second installation, and a user's own file
# in the program's folder. Copies must keep every pixel, and be
# byte-identical to those of our optimizer's Linux build, and of Debian's
# pngcrush wherever Debian's copy keeps every pixel. win32 runs through the
# 32-bit runner, as in wine.sh.
# Usage: release.sh win32|win64 source-folder
set -u
arch=$1
source=$(realpath "$2")
build=$source/build/$arch
. "$source/tests/lib.sh"
version=$(project_version "$source")
zip=$(ls "$build"/talvek-"$version"-win*.zip 2>/dev/null)
setup=${zip%.zip}-setup.exe spdx=${zip%.zip}.spdx.json
# Release files older than the programs they should hold are another build's.
for file in "$zip" "$setup" "$spdx"; do
  [ "$file" -nt "$build/pngcrush.bin" ] && [ "$file" -nt "$build/talvek.exe" ] ||
    { echo "FAIL: ${file:-the zip} is missing or older than pngcrush.bin or talvek.exe; build the package target first"; exit 1; }
done
corpus=$(bash "$source/tests/corpus.sh" "$source") || exit 1
work=$(mktemp -d)
wine_session "$arch" "$work"
# pngcrush -brute on the whole corpus takes minutes where it is emulated.
run_limit=900
uninstall_key='HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\Talvek'

# The optimizer's trials run side by side in 3 workers, as on a computer
# with 3 cores or more, whatever this one has and however small the image
# (Debian's pngcrush does not know the setting). The emulated win32 build
# takes seconds to start a process, so there only the run of the samples
# below does.
[ "$arch" = win32 ] || export PNGCRUSH_WORKERS=3

# A folder of the sample images, the corpus and the chunk-rich, hostile and
# transparent images of chunks.py, and beside it what Debian's pngcrush and
# the Linux build of our optimizer make of each. Where Debian's pngcrush
# loses pixels, its copy is no yardstick: those are named.
ours=$source/build/linux/pngcrush.bin
[ -x "$ours" ] || { echo "FAIL: no $ours; build the linux preset first"; exit 1; }
test_images "$work/pictures"
# Emulated, the win32 build takes seconds to start each optimizer, and
# minutes for an image that its workers share out. It runs what only the
# 32-bit file can show: the samples, every colour type and bit depth of the
# PNG test suite (basn*), the images that pngcrush 1.8.13 lost pixels of,
# one for each reduction, and compressed chunks that inflate to 64 MiB or
# stop short; win64 runs every image, with 3 processes.
if [ "$arch" = win32 ]; then
  for image in "$work"/pictures/*; do
    case ${image##*/} in
      trns-lost-palette-large.png) rm "$image" ;;
      basn* | trns-lost-* | reduce-* | bomb-zTXt-before.png | bomb-iCCP-after.png | cut-iTXt-after.png) ;;
      optimized-16-bit.png | invalid-optimized-16-bit-damaged-checksum.png) ;;
      *) [ -e "$source/examples/${image##*/}" ] || rm "$image" ;;
    esac
  done
fi
crush_all "$work/pictures" "$work/pictures.debian"
PNGCRUSH_WORKERS=1 crush_all "$work/pictures" "$work/pictures.ours" "$ours"
debian_loses=$(lost_by "$work/pictures" "$work/pictures.debian")
yardstick "$work/pictures" "$work/pictures.debian"
echo "Debian's pngcrush loses pixels of, or makes no copy of: ${debian_loses//$'\n'/ }"
mkdir "$work/samples"
cp "$source"/examples/*.[pP][nN][gG] "$work/samples"

# Runs the talvek.exe of the folder $1 on a fresh copy of the folder $2 (all
# the pictures unless named), as a drop of the folder would, and checks the
# box, the inputs and every copy.
optimize_with() {
  local pics="$work/run $RANDOM" name before
  cp -r "${2:-$work/pictures}" "$pics"
  before=$(fingerprint "$pics")
  start "$1" "$(dos "$pics")"
  if await_box; then dismiss; else fail "no box"; fi
  ended || fail "exit status $?"
  check_copies "$pics"
  # shellcheck disable=SC2086 # names, one a word
  same_bytes "$pics" "$work/pictures.debian" "Debian's pngcrush or the input's own data" $debian_loses
  same_bytes "$pics" "$work/pictures.ours" "our optimizer's Linux build"
  [ "$(fingerprint "$pics")" = "$before" ] || fail "inputs changed"
}

# Wine's value of a variable such as %LOCALAPPDATA%, as a Unix path.
windows_folder() {
  wine winepath -u "$(wine cmd /c "echo %$1%" | tr -d '\r')" 2>/dev/null | sed 's|/$||'
}
# The target of a shell link: LinkInfo's local base path and common suffix.
link_target() {
  /usr/bin/python3 - "$1" <<'PYTHON'
import struct, sys
data = open(sys.argv[1], "rb").read()
flags, = struct.unpack_from("<I", data, 0x14)
at = 0x4C + (2 + struct.unpack_from("<H", data, 0x4C)[0] if flags & 1 else 0)
assert flags & 2, "no LinkInfo"
base, = struct.unpack_from("<I", data, at + 16)
suffix, = struct.unpack_from("<I", data, at + 24)
text = lambda offset: data[at + offset:data.index(b"\0", at + offset)].decode("cp1252")
print(text(base) + text(suffix))
PYTHON
}
# Every file and folder of the user's profile, for a before-and-after look.
profile() { (cd "$WINEPREFIX/drive_c/users" && find . | sort); }
# Runs the uninstaller silently and waits for it: it copies itself to the
# temporary folder, starts the copy and returns at once. The copy's command
# line names that folder (~nsuN.tmp). The session's wineserver outlives its
# programs, so waiting for the server would take minutes.
uninstall() {
  timeout 300 wine "$program/uninstall.exe" /S || fail "uninstaller status $?"
  for _ in $(seq 3000); do pgrep -f '~nsu[0-9]*\.tmp' >/dev/null || return 0; sleep 0.1; done
  fail "the uninstaller's copy still runs"
}

group "The zip: four files, unpacked into a folder with a blank, copies like Linux's, all in the bill"
unpacked="$work/Talvek files"
unzip -q "$zip" -d "$unpacked" || fail "unzip"
[ "$(ls "$unpacked" | tr '\n' ' ')" = "LICENSE.txt README.txt pngcrush.bin talvek.exe " ] ||
  fail "zip holds: $(ls "$unpacked")"
[ "$(grep -c $'\r$' "$unpacked/README.txt")" = "$(wc -l < "$unpacked/README.txt")" ] ||
  fail "README.txt has lines without CRLF"
# Read in Notepad: no Markdown, no line over 79 columns; its own build's
# files and home page.
readme=$(tr -d '\r' < "$unpacked/README.txt")
markup=$(grep -n -e '^#' -e '`' -e '\*\*' -e '^.\{80\}' <<<"$readme")
[ -z "$markup" ] || fail "README.txt has Markdown or a line over 79 columns: $markup"
# It speaks to Windows users, of Windows: nothing of how the tests run it.
! grep -n -E 'Wine|emulat' <<<"$readme" || fail "README.txt speaks of Wine or emulation"
other=$([ "$arch" = win32 ] && echo win64 || echo win32)
for name in "talvek-$version-$arch.zip" "talvek-$version-$arch-setup.exe" "$(home_page "$build")"; do
  grep -qF "$name" <<<"$readme" || fail "README.txt does not name $name"
done
grep -qF "talvek-$version-$other" <<<"$readme" && fail "README.txt names the $other files"
for licence in "Copyright (C) 2026 Talvek's developers" "Glenn Randers-Pehrson" \
    "PNG Reference Library License" "Jean-loup Gailly"; do
  grep -q "$licence" "$unpacked/LICENSE.txt" || fail "LICENSE.txt lacks: $licence"
done
optimize_with "$unpacked"
for name in "$zip" "$setup" "$unpacked"/*; do
  grep -q "\"$(sha256sum < "$name" | cut -d' ' -f1)\"" "$spdx" 2>/dev/null ||
    fail "${spdx##*/} lacks the SHA-256 of ${name##*/}"
done
# The bill whole: each SHA-256 against the file it names, the source files'
# against their pins (each pin once), each relationship between elements of
# the document, and the advisory gate's line on this machine's CVEs.
cves=$(zcat /usr/share/doc/libpng16-16/changelog.Debian.gz | grep -oE 'CVE[- ][0-9]{4}-[0-9]+' | tr ' ' - | sort -u | wc -l)
wrong=$(/usr/bin/python3 - "$spdx" "$source/optimizer" "$build/pngcrush-build/libpng-debian/debian" \
  "$unpacked" "$build" "libpng advisories: $cves checked, all accounted for" <<'PYTHON' 2>&1
import hashlib, json, os, sys
bill, ours, debian, unpacked, build, gate = sys.argv[1:]
doc = json.load(open(bill))
pins = dict(line.split()[::-1] for name in ("sources.sha256", "zlib.sha256") for line in open(os.path.join(ours, name)))
folders = {"./optimizer/": ours, "./debian/": debian, "./usr/": "/usr", "./": unpacked, "": build}
def right(name):
    if name in pins:
        return pins.pop(name)
    prefix = next(p for p in folders if name.startswith(p))
    return hashlib.sha256(open(os.path.join(folders[prefix], name[len(prefix):]), "rb").read()).hexdigest()
elements = doc["packages"] + doc["files"]
ids = {"SPDXRef-DOCUMENT"} | {e["SPDXID"] for e in elements}
print(*[e["SPDXID"] for e in elements for c in e.get("checksums", []) if c["algorithm"] == "SHA256"
        and c["checksumValue"] != right(e.get("fileName", e.get("packageFileName")))], *sorted(pins),
      *[r["relatedSpdxElement"] for r in doc["relationships"] if not {r["spdxElementId"], r["relatedSpdxElement"]} <= ids],
      *["its comment"] * (doc["creationInfo"].get("comment") != gate))
PYTHON
)
[ -z "$wrong" ] || fail "${spdx##*/} is wrong for: $wrong"

group "The optimizer leaves compressed text and profiles unread: -v says nothing of them"
mkdir "$work/verbose"
# shellcheck disable=SC2035 # the test images' names, none of them starting with a dash
(cd "$work/pictures" && timeout 900 wine "$unpacked/pngcrush.bin" -v -rem alla -reduce \
  -d "$(dos "$work/verbose")" *zTXt* *iTXt* *iCCP* >"$work/verbose.log" 2>&1)
# Lines naming the files, and the banner (" |"), which names our change, aside.
said=$(grep -E 'zTXt|iTXt|iCCP' "$work/verbose.log" | grep -v -e '^ *Recompressing IDAT chunks in ' -e '^ |')
[ -z "$said" ] || fail "$(echo "$said" | head -5)"
[ "$(grep -c '^ *Recompressing IDAT chunks in ' "$work/verbose.log")" -eq \
  "$(ls "$work/pictures" | grep -cE 'zTXt|iTXt|iCCP')" ] || fail "not every file was read"

# The win64 build's workers stand for both: the win32 build is emulated here.
if [ "$arch" = win64 ]; then
  group "Workers that hang or meet a libpng error cost time, never the copy, and are never waited on without bound"
  image=$work/pictures/benchRGB.png
  for fault in 2:hang 2:error; do
    rm -f "$work/fault.png"
    started=$SECONDS
    PNGCRUSH_WORKERS=3 PNGCRUSH_WORKER_FAULT=$fault timeout 300 wine "$unpacked/pngcrush.bin" \
      -rem alla -brute -reduce "$(dos "$image")" "$(dos "$work/fault.png")" >"$work/fault.log" 2>&1
    cmp -s "$work/fault.png" "$work/pictures.ours/benchRGB.png" &&
      ! grep -q 'caught libpng error' "$work/fault.log" && [ $((SECONDS - started)) -lt 120 ] ||
      fail "$fault: another copy, or an error said, or $((SECONDS - started)) s: $(tail -3 "$work/fault.log")"
  done
fi

group "A changed source file, or a CVE left out of the ledger, stops the build in one line"
mkdir "$work/cache" "$work/gate"
(cd "$(sed -n 's/^TALVEK_SOURCES_CACHE:PATH=//p' "$build/CMakeCache.txt")" &&
  awk '{ print $2 }' "$source/optimizer/sources.sha256" | xargs cp -t "$work/cache")
# The first byte of a compressed tarball is never 0.
printf '\0' | dd of="$(ls "$work"/cache/pngcrush_*.orig.*)" conv=notrunc status=none
said=$(bash "$source/optimizer/fetch-sources.sh" "$work/cache" "$work/unpacked" 2>&1) &&
  fail "fetch-sources.sh took a changed pngcrush tarball"
[[ $said == *pngcrush_*" does not have the SHA-256 pinned"* && $said != *$'\n'* ]] || fail "fetch-sources.sh said: $said"
cp "$source"/optimizer/advisories.* "$work/gate"
sed -i '/^CVE-2026-46675 /d' "$work/gate/advisories.txt"
said=$(bash "$work/gate/advisories.sh" "$build/pngcrush-build/libpng" 2>&1) && fail "the gate let CVE-2026-46675 pass"
[[ $said == "talvek: CVE-2026-46675, named in "* && $said != *$'\n'* ]] || fail "the gate said: $said"

group "The installer: files, shortcuts and the uninstall entry in place, and it works"
local_data=$(windows_folder LOCALAPPDATA)
program="$local_data/Programs/Talvek"
send_to="$(windows_folder APPDATA)/Microsoft/Windows/SendTo"
start_menu="$(windows_folder APPDATA)/Microsoft/Windows/Start Menu/Programs/Talvek"
before=$(profile)
timeout 300 wine "$setup" /S || fail "installer status $?"
[ "$(ls "$program" 2>/dev/null | tr '\n' ' ')" = \
  "LICENSE.txt README.txt pngcrush.bin talvek.exe uninstall.exe " ] ||
  fail "installed: $(ls "$program" 2>&1)"
for name in LICENSE.txt README.txt pngcrush.bin talvek.exe; do
  cmp -s "$unpacked/$name" "$program/$name" || fail "$name is not the zip's"
done
# Each shortcut, LINK=FILE, points at the installed file its name says.
for link in "$send_to/Talvek.lnk=talvek.exe" "$start_menu/Read me.lnk=README.txt" \
    "$start_menu/Uninstall Talvek.lnk=uninstall.exe"; do
  target=$(link_target "${link%=*}" 2>&1)
  [ "$(wine winepath -u "$target" 2>/dev/null)" = "$program/${link##*=}" ] ||
    fail "${link%=*} points at $target"
done
entry=$(wine reg query "$uninstall_key" 2>/dev/null | tr -d '\r')
windows_program=$(wine winepath -w "$program" 2>/dev/null | tr -d '\r')
for value in "DisplayName    REG_SZ    Talvek" "DisplayVersion    REG_SZ    $version" \
    "Publisher    REG_SZ    Talvek's developers" "InstallLocation    REG_SZ    $windows_program" \
    "UninstallString    REG_SZ    \"$windows_program\\uninstall.exe\"" \
    "QuietUninstallString    REG_SZ    \"$windows_program\\uninstall.exe\" /S" \
    "NoModify    REG_DWORD    0x1" "NoRepair    REG_DWORD    0x1"; do
  grep -qxF "    $value" <<<"$entry" || fail "uninstall entry lacks: $value"
done
size=$(sed -n 's/^ *EstimatedSize *REG_DWORD *//p' <<<"$entry")
[ $((size)) -ge $(($(du -bc "$program"/*.exe "$program"/*.bin | tail -1 | cut -f1) / 1024)) ] ||
  fail "EstimatedSize $size KiB is less than the programs"
# Here one of 3 workers fails after its first trial: the copies stay the same.
PNGCRUSH_WORKERS=3 PNGCRUSH_WORKER_FAULT=2 optimize_with "$program" "$work/samples"

group "A second installation over the first keeps one copy of everything"
timeout 300 wine "$setup" /S || fail "installer status $?"
[ "$(ls "$program" | tr '\n' ' ')" = "LICENSE.txt README.txt pngcrush.bin talvek.exe uninstall.exe " ] ||
  fail "installed twice: $(ls "$program")"
[ "$(ls "$send_to" | grep -ci talvek)" = 1 ] || fail "Send To: $(ls "$send_to")"
[ "$(wine reg query 'HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall' | grep -ci talvek)" = 1 ] ||
  fail "more than one uninstall entry"
[ "$(ls "$local_data/Programs")" = Talvek ] || fail "Programs holds: $(ls "$local_data/Programs")"

group "Uninstalling leaves a user's own file, and takes away all it added"
echo "my own notes" > "$program/notes.txt"
uninstall
[ "$(ls "$program" 2>&1)" = notes.txt ] || fail "left in the folder: $(ls "$program" 2>&1)"
[ "$(cat "$program/notes.txt" 2>/dev/null)" = "my own notes" ] || fail "the user's file changed"
[ ! -e "$send_to/Talvek.lnk" ] || fail "the Send To shortcut is left"
[ ! -e "$start_menu" ] || fail "the Start-menu folder is left: $(ls "$start_menu")"
# The list of entries must be read, and not name Talvek: a reg that does not
# start must not pass for an entry taken away.
entries=$(wine reg query "${uninstall_key%\\*}" 2>&1) && ! grep -qi talvek <<<"$entries" ||
  fail "the uninstall entry is left, or reg did not run: $entries"
rm -f "$program/notes.txt"
# Left outside: the Programs folder, shared by every per-user program, and
# the uninstaller's temporary copy with its folder, which NSIS leaves for
# Windows to remove at the next start.
left=$(diff <(echo "$before") <(profile) | grep -v -e '/AppData/Local/Programs/Talvek$' \
  -e '/AppData/Local/Programs$' -e '/Temp/~nsu[0-9A-Za-z]*\.tmp\(/Un[_A-Z]*\.exe\)\?$' |
  grep '^[<>]')
[ -z "$left" ] || fail "the profile changed: $left"

group "Uninstalling a plain installation removes its folder too"
timeout 300 wine "$setup" /S || fail "installer status $?"
[ -f "$program/talvek.exe" ] || fail "not installed"
uninstall
[ ! -e "$program" ] || fail "left: $(ls -A "$program")"

check_home

finish
