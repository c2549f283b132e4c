#!/usr/bin/env bash
# Unpacks the Debian packages into a temporary root (dpkg -x) and checks what a user gets: the
# dependencies dpkg-shlibdeps found, the programs running from there without a display, the
# desktop entry, icons, metainfo, manual pages and documents, and the development files.
#     deb_test.sh PACKAGE_DIR WORK_DIR VERSION LIBDIR
set -euo pipefail
source "$(dirname "$0")/lib.sh"
packages="$1" work="$2" version="$3" libdir="$4"
rm -rf "$work"
mkdir -p "$work"
root="$work/root"
id=org.quendal.Quendal

shopt -s nullglob
app=("$packages"/quendal_"$version"_*.deb)
dev=("$packages"/libcport-dev_"$version"_*.deb)
[ ${#app[@]} -eq 1 ] && [ ${#dev[@]} -eq 1 ] ||
    fail "expected one quendal and one libcport-dev package of $version in $packages"

# Debian package names for the Qt runtime and libjpeg, found from the programs' libraries.
depends=$(dpkg-deb -f "${app[0]}" Depends)
names=$(tr ',' '\n' <<<"$depends" | sed -E 's/^ *//; s/ .*//')
for package in libc6 libstdc++6 libqt6widgets6 libqt6gui6 libqt6core6 libjpeg62-turbo; do
    grep -qxF "$package" <<<"$names" || fail "quendal does not depend on $package: $depends"
done

dpkg -x "${app[0]}" "$root"
dpkg -x "${dev[0]}" "$root"
bin="$root/usr/bin"

expect 0 '^Usage: rq71sim' "$bin/rq71sim" --help
expect 2 'unknown option --frobnicate' "$bin/rq71sim" --frobnicate
expect 0 "^quendal $version\$" "${no_display[@]}" "$bin/quendal" --version
expect 0 '^Usage: quendal' "${no_display[@]}" "$bin/quendal" --help

# The desktop entry starts an installed program and names an installed icon.
desktop="$root/usr/share/applications/$id.desktop"
desktop-file-validate "$desktop" || fail "desktop-file-validate rejects $desktop"
exec_line=$(grep '^Exec=' "$desktop")
[ -x "$bin/${exec_line#Exec=}" ] || fail "$exec_line is not an installed program"
grep -qx "Icon=$id" "$desktop" || fail "the desktop entry names another icon"

# Each icon is a PNG of the size of its folder.
sizes=()
for icon in "$root"/usr/share/icons/hicolor/*/apps/"$id".png; do
    folder=$(basename "$(dirname "$(dirname "$icon")")")
    read -ra header <<<"$(od -An -tu1 -N24 "$icon" | tr "\n" " ")"
    [ "${header[*]:0:8}" = "137 80 78 71 13 10 26 10" ] || fail "$icon is not a PNG"
    width=$(((header[16] << 24) | (header[17] << 16) | (header[18] << 8) | header[19]))
    height=$(((header[20] << 24) | (header[21] << 16) | (header[22] << 8) | header[23]))
    [ "$folder" = "${width}x$height" ] || fail "$icon is $width x $height"
    sizes+=("$width")
done
sorted=$(printf '%s\n' "${sizes[@]}" | sort -n | tr '\n' ' ')
[ "$sorted" = "16 22 24 32 48 64 128 256 " ] || fail "icon sizes: $sorted"

metainfo="$root/usr/share/metainfo/$id.metainfo.xml"
appstreamcli validate --no-net "$metainfo" >"$work/appstream.txt" ||
    fail "appstreamcli rejects $metainfo: $(cat "$work/appstream.txt")"
grep -q "<launchable type=\"desktop-id\">$id.desktop</launchable>" "$metainfo" ||
    fail "the metainfo launches another desktop entry"
grep -q "<release version=\"$version\"" "$metainfo" || fail "the metainfo has no release $version"

# Every option a program lists in --help is described in its manual page.
for program in rq71sim quendal; do
    page="$root/usr/share/man/man1/$program.1.gz"
    [ -f "$page" ] || fail "no manual page $page"
    text=$(gzip -dc "$page" | sed 's/\\-/-/g')
    for option in $("${no_display[@]}" "$bin/$program" --help | grep -Eo -- '--[a-z-]+' | sort -u); do
        grep -q -- "$option" <<<"$text" || fail "$program's manual page lacks $option"
    done
done

for package in quendal libcport-dev; do
    doc="$root/usr/share/doc/$package"
    [ -s "$doc/copyright" ] || fail "no copyright file in $doc"
    first=$(gzip -dc "$doc/changelog.gz" | head -n 1)
    [[ "$first" == "quendal ($version) "* ]] || fail "$doc/changelog.gz starts with: $first"
done

for file in include/cport/CPort.h include/cport/OsTypes.h include/cport/PortPublish.h \
    include/cport/CPortSetup.h "$libdir/libcport.a" "$libdir/libcportqt.a" \
    "$libdir/cmake/cport/cportConfig.cmake" "$libdir/cmake/cport/cportConfigVersion.cmake" \
    "$libdir/pkgconfig/cport.pc"; do
    [ -f "$root/usr/$file" ] || fail "libcport-dev lacks /usr/$file"
done
# The component's private headers stay out of the package.
for file in include/cport/CPort_p.h include/cport/platform; do
    [ ! -e "$root/usr/$file" ] || fail "libcport-dev holds the private /usr/$file"
done
echo "packages unpacked and checked in $root"
