#!/usr/bin/env bash
# Installs the build into a staging tree and builds the Debian package, then
# checks what a distribution would check: the desktop entry, the AppStream
# metadata, the udev rule, the systemd unit and the package's dependencies.
set -euo pipefail
src=${TOVEL3_SOURCE_DIR:?}
build=${TOVEL3_BUILD_DIR:?}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*"; exit 1; }

DESTDIR="$work/root" cmake --install "$build" --prefix /usr >/dev/null
root="$work/root"
for f in usr/bin/tovel3 \
         usr/share/applications/com.brennic.Tovel3.desktop \
         usr/share/metainfo/com.brennic.Tovel3.metainfo.xml \
         usr/share/icons/hicolor/16x16/apps/tovel3.png \
         usr/share/icons/hicolor/48x48/apps/tovel3.png \
         usr/share/icons/hicolor/128x128/apps/tovel3.png \
         usr/lib/udev/rules.d/60-tovel3.rules \
         usr/lib/systemd/user/tovel3.service; do
  [ -e "$root/$f" ] || fail "not installed: $f"
done
echo "ok: install layout"

desktop-file-validate "$root/usr/share/applications/com.brennic.Tovel3.desktop" || fail "desktop entry"
grep -q '^Icon=tovel3$' "$root/usr/share/applications/com.brennic.Tovel3.desktop" || fail "desktop icon"
echo "ok: desktop entry"

appstreamcli validate --no-net "$root/usr/share/metainfo/com.brennic.Tovel3.metainfo.xml" || fail "metainfo"
grep -q '<release version="3.3.4"' "$root/usr/share/metainfo/com.brennic.Tovel3.metainfo.xml" || fail "release"
grep -q '<screenshot' "$root/usr/share/metainfo/com.brennic.Tovel3.metainfo.xml" || fail "screenshot"
echo "ok: metainfo"

for size in 16 22 24 32 48 64 128; do
  got=$(identify -format '%wx%h' "$root/usr/share/icons/hicolor/${size}x${size}/apps/tovel3.png")
  [ "$got" = "${size}x${size}" ] || fail "icon $size is $got"
done
echo "ok: icon sizes"

rule="$root/usr/lib/udev/rules.d/60-tovel3.rules"
if command -v udevadm >/dev/null && udevadm verify --help >/dev/null 2>&1; then
  udevadm verify "$rule" || fail "udev rule"
fi
python3 - "$rule" <<'PY' || fail "udev rule syntax"
import re, sys
match_ops = {"==", "!="}
assign_ops = {"=", "+=", "-=", ":="}
pair = re.compile(r'\s*([A-Z_]+(?:\{[A-Za-z0-9_]+\})?)\s*(==|!=|\+=|-=|:=|=)\s*"([^"]*)"\s*(,|$)')
vendor_rule = False
for no, line in enumerate(open(sys.argv[1]), 1):
    line = line.strip()
    if not line or line.startswith("#"):
        continue
    pos, keys = 0, []
    while pos < len(line):
        m = pair.match(line, pos)
        if not m:
            sys.exit(f"line {no}: cannot parse at: {line[pos:]}")
        keys.append((m.group(1), m.group(2), m.group(3)))
        pos = m.end()
    matches = [k for k in keys if k[1] in match_ops]
    assigns = [k for k in keys if k[1] in assign_ops]
    if not matches or not assigns:
        sys.exit(f"line {no}: needs both match keys and assignments")
    for key, op, value in assigns:
        if key.startswith(("ATTRS", "SUBSYSTEMS", "KERNELS", "DRIVERS", "ACTION")):
            sys.exit(f"line {no}: {key} cannot be assigned")
    if ("ATTRS{idVendor}", "==", "0483") in keys and ("SUBSYSTEM", "==", "tty") in keys:
        if ("ENV{ID_MM_DEVICE_IGNORE}", "=", "1") in keys and ("TAG", "+=", "uaccess") in keys:
            vendor_rule = True
if not vendor_rule:
    sys.exit("no rule gives vendor 0483 serial ports uaccess and ModemManager's ignore flag")
PY
echo "ok: udev rule"

unit="$root/usr/lib/systemd/user/tovel3.service"
grep -q '^ExecStart=/usr/bin/tovel3$' "$unit" || fail "unit ExecStart"
grep -q '^Restart=on-failure$' "$unit" || fail "unit Restart"
echo "ok: systemd unit"

for f in usr/lib/systemd/system/tovel3d.service usr/lib/sysusers.d/tovel3.conf \
         usr/lib/sysctl.d/60-tovel3-ping.conf etc/tovel3/tovel3.conf \
         usr/share/man/man8/tovel3d.8 usr/share/man/man1/tovel3ctl.1; do
  [ -e "$root/$f" ] || fail "not installed: $f"
done
grep -q '^ExecStart=/usr/bin/tovel3d$' "$root/usr/lib/systemd/system/tovel3d.service" || fail "system unit ExecStart"
echo "ok: system service files"

(cd "$build" && cpack -G DEB -B "$work/pkg" >/dev/null) || fail "cpack"
deb=$(ls "$work"/pkg/tovel3_3.3.4_*.deb)
depends=$(dpkg-deb -f "$deb" Depends)
for dep in libqt5core5a libqt5gui5 libqt5widgets5 libqt5network5 libqt5qml5 libqt5quick5 \
           xdg-utils \
           libqt5quickcontrols2-5 libqt5serialport5 qml-module-qtquick2 qml-module-qtquick-window2 \
           qml-module-qtquick-controls2 qml-module-qtquick-templates2 qml-module-qtquick-layouts \
           qml-module-qtquick-extras qml-module-qtquick-controls qml-module-qt-labs-platform iputils-ping \
           qttranslations5-l10n; do
  grep -qE "(^|, )$dep( |,|$)" <<<"$depends" || fail "package does not depend on $dep: $depends"
done
contents=$(dpkg-deb -c "$deb")
for f in ./usr/bin/tovel3 ./usr/lib/udev/rules.d/60-tovel3.rules ./usr/lib/systemd/user/tovel3.service \
         ./usr/share/applications/com.brennic.Tovel3.desktop; do
  grep -q " $f\$" <<<"$contents" || fail "package lacks $f"
done
[ "$(dpkg-deb -I "$deb" conffiles)" = /etc/tovel3/tovel3.conf ] || fail "conffiles"
dpkg-deb -I "$deb" postinst | grep -q 'systemd-sysusers tovel3.conf' || fail "postinst creates no user"
echo "ok: package $(basename "$deb")"
