#!/bin/sh
# Builds the Debian packages from a build tree and checks what a user gets: the files, the icon
# sizes, a valid .desktop entry, dependencies worked out from the libraries, and the installed
# tool starting as a normal user with its working copy in that user's data folder.
# Usage: check_package.sh BUILD-DIR
set -eu
build=$1
work=$(mktemp -d)
chmod 755 "$work"
trap 'rm -rf "$work"' EXIT
fail() { echo "check_package: $*" >&2; exit 1; }

(cd "$build" && cpack -G DEB -B "$work/pkg" >"$work/cpack.log" 2>&1) || { cat "$work/cpack.log"; fail "cpack failed"; }
tool=$(ls "$work"/pkg/comkeys_*.deb)
dev=$(ls "$work"/pkg/comkeys-slider-dev_*.deb)

dpkg-deb -c "$tool" | awk '{print $6}' >"$work/tool.list"
for f in ./usr/bin/comkeys ./usr/bin/comkeys-sim ./usr/share/applications/comkeys.desktop \
         ./usr/share/icons/hicolor/scalable/apps/comkeys.svg ./usr/share/man/man1/comkeys.1.gz; do
    grep -qx "$f" "$work/tool.list" || fail "comkeys lacks $f"
done
depends=$(dpkg-deb -f "$tool" Depends)
for d in libqt6widgets6 libqt6serialport6 libqt6charts6 libqt6core6 fonts-wqy-microhei; do
    echo "$depends" | grep -q "$d" || fail "comkeys does not depend on $d: $depends"
done
[ "$(dpkg-deb -f "$tool" Package)" = comkeys ] || fail "the tool's package is not named comkeys"

dpkg-deb -c "$dev" | awk '{print $6}' >"$work/dev.list"
for f in ./usr/include/ComKeysSlider/trkSlider.h ./usr/lib/cmake/ComKeysSlider/ComKeysSliderConfig.cmake \
         ./usr/lib/cmake/ComKeysSlider/ComKeysSliderConfigVersion.cmake; do
    grep -qx "$f" "$work/dev.list" || fail "comkeys-slider-dev lacks $f"
done

mkdir -p "$work/root" "$work/home"
dpkg-deb -x "$tool" "$work/root"
desktop-file-validate "$work/root/usr/share/applications/comkeys.desktop" || fail "the .desktop file is not valid"
for size in 16 22 24 32 48 64 128 256; do
    png="$work/root/usr/share/icons/hicolor/${size}x${size}/apps/comkeys.png"
    [ -f "$png" ] || fail "no ${size}x${size} icon"
    # A PNG's width and height are the big-endian words at bytes 16 and 20.
    dims=$(od -An -tu1 -j16 -N8 "$png" | awk '{print $1*16777216+$2*65536+$3*256+$4 "x" $5*16777216+$6*65536+$7*256+$8}')
    [ "$dims" = "${size}x${size}" ] || fail "the ${size}x${size} icon is $dims"
done

# The installed tool, started by a normal user: its folder is not the user's to write, so the
# working copy's folder is made in the user's data folder.
chown -R 65534:65534 "$work/home"
setpriv --reuid=65534 --regid=65534 --clear-groups \
    env -i HOME="$work/home" QT_QPA_PLATFORM=offscreen COMKEYS_LOCK_FILE="$work/home/lock" \
    "$work/root/usr/bin/comkeys" >"$work/run.log" 2>&1 &
pid=$!
sleep 3
kill -0 "$pid" 2>/dev/null || { cat "$work/run.log"; fail "the installed tool did not keep running"; }
kill "$pid"
wait "$pid" 2>/dev/null || true
[ -d "$work/home/.local/share/ComKeys/Modules" ] || fail "no working-copy folder in the user's data folder"
[ ! -e "$work/root/usr/bin/Modules" ] || fail "the tool wrote beside the installed program"
echo "check_package: comkeys and comkeys-slider-dev look right"
