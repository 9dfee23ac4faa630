#!/usr/bin/env bash
# Installs the build into a staging tree and reads the Debian packages, then
# checks what a distribution would check: the desktop entry, the AppStream
# metadata, the udev rule, the systemd unit and the package's dependencies.
set -euo pipefail
src=${TOVEL3_SOURCE_DIR:?}
build=${TOVEL3_BUILD_DIR:?}
source "$src/tests/support/prelude.sh"

DESTDIR="$work/root" cmake --install "$build" --prefix /usr >/dev/null
root="$work/root"
for f in usr/bin/tovel3 \
         usr/share/applications/com.brennic.Tovel3.desktop \
         usr/share/metainfo/com.brennic.Tovel3.metainfo.xml \
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
  got=$(identify -format '%wx%h' "$root/usr/share/icons/hicolor/${size}x${size}/apps/tovel3.png") || got="not installed"
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
         usr/lib/tmpfiles.d/tovel3.conf etc/tovel3/tovel3.conf \
         usr/share/man/man8/tovel3d.8 usr/share/man/man1/tovel3ctl.1; do
  [ -e "$root/$f" ] || fail "not installed: $f"
done
grep -q '^ExecStart=/usr/bin/tovel3d$' "$root/usr/lib/systemd/system/tovel3d.service" || fail "system unit ExecStart"
[ ! -e "$root/usr/lib/sysctl.d" ] || fail "a sysctl file is installed: $(ls "$root/usr/lib/sysctl.d")"
echo "ok: system service files, no system-wide setting"

# Two packages: the service (no graphics) and the desktop program on top.
# (made by the fixture "packages", support/packages.sh)
pkg=${TOVEL3_PACKAGES:?}
has() { [[ ", $2," == *", $1"[\ ,]* ]]; }
server=$pkg/tovel3d_3.3.4_amd64.deb
desktop=$pkg/tovel3_3.3.4_amd64.deb
depends=$(dpkg-deb -f "$server" Depends)
for dep in libqt5core5a libqt5serialport5 libsystemd0 iputils-ping; do
  has "$dep" "$depends" || fail "tovel3d does not depend on $dep: $depends"
done
! grep -qE 'libqt5(gui|qml|quick|widgets)|qml-module|xdg-utils' <<<"$depends" ||
  fail "tovel3d depends on graphics packages: $depends"
depends=$(dpkg-deb -f "$desktop" Depends)
for dep in "tovel3d (= 3.3.4)" libqt5gui5 libqt5widgets5 libqt5qml5 libqt5quick5 libqt5quickcontrols2-5 \
           xdg-utils qml-module-qtquick2 qml-module-qtquick-window2 \
           qml-module-qtquick-controls2 qml-module-qtquick-templates2 qml-module-qtquick-layouts \
           qml-module-qtquick-extras qml-module-qtquick-controls qml-module-qt-labs-platform \
           qttranslations5-l10n; do
  has "$dep" "$depends" || fail "tovel3 does not depend on $dep: $depends"
done
contents() { dpkg-deb -c "$1" | awk '{ print $6 }'; }
for f in ./usr/bin/tovel3d ./usr/bin/tovel3ctl ./usr/lib/systemd/system/tovel3d.service \
         ./usr/lib/udev/rules.d/60-tovel3.rules ./etc/tovel3/tovel3.conf ./usr/share/man/man8/tovel3d.8; do
  contents "$server" | grep -qx -- "$f" || fail "tovel3d lacks $f"
done
for f in ./usr/bin/tovel3 ./usr/lib/systemd/user/tovel3.service ./usr/share/applications/com.brennic.Tovel3.desktop; do
  contents "$desktop" | grep -qx -- "$f" || fail "tovel3 lacks $f"
done
[ -z "$(comm -12 <(contents "$server" | grep -v '/$' | sort) <(contents "$desktop" | grep -v '/$' | sort))" ] ||
  fail "files in both packages"
[ "$(dpkg-deb -I "$server" conffiles)" = /etc/tovel3/tovel3.conf ] || fail "conffiles"
dpkg-deb -I "$server" postinst | grep -q 'systemd-sysusers tovel3.conf' || fail "postinst creates no user"
echo "ok: packages $(basename "$server") and $(basename "$desktop")"
