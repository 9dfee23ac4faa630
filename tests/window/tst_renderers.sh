#!/usr/bin/env bash
# The real program on a virtual X display with a tray host and a simulated
# board, once with OpenGL and once with the software scene graph (its own
# "softgl" setting), in English and in Russian: each tab, each list pop-up,
# each dialog, two hover highlights and the keyboard's focus mark are shot
# under both renderers and the two pictures compared region by region. Keys
# typed in a dialog reach nothing behind it: the board gets no command and the
# settings file stays as it was. A pop-up without its background, a
# button without its shape or a highlight in the wrong place changes how much
# ink a region holds far beyond what the renderers' different anti-aliasing
# of the same text does. The pictures of the last run stay in
# <build>/tests/screens/; for a step that differs a third picture
# (<lang>-differs-<step>.png) outlines the regions. The two renderers run side
# by side, each with a display, a tray host and a board of its own.
set -uo pipefail
bin=${TOVEL3_BIN:?}
sim=${TOVEL3_BOARDSIM:?}
out=${TOVEL3_BUILD_DIR:?}/tests/screens
# English by default; TOVEL3_SCREEN_LANGS="en ru" also shoots the Russian
# window (the text fit and Qt's Russian buttons have tests of their own).
langs=${TOVEL3_SCREEN_LANGS:-en}
# Regions are 10 x 10 pixels. Two pictures differ where a region's mean grey
# level moves by more than 25 levels out of 255 (a missing background, a
# button without its shape), or where more than 10 regions move by more than
# 15 (a faint highlight or shadow missing or misplaced over an area). The same
# screen drawn by the two renderers moves a region by at most about 15.
strong=25 faint=15 faint_regions=10

work=$(mktemp -d)
pids=()
cleanup() {
  local i
  # The programs of the runs, then what the runs stand on.
  for f in "$work"/*/app.pid; do [ -f "$f" ] && kill "$(cat "$f")" 2>/dev/null; done
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do kill "${pids[i]}" 2>/dev/null; done
  wait 2>/dev/null
  rm -rf "$work" "$out"/*.png.grid
}
trap cleanup EXIT
# Inside a run, $run is its directory.
fail() {
  echo "FAIL: $*"
  for f in "${run:-$work}/app.log" "${run:-$work}/sim.log"; do
    [ -f "$f" ] && { echo "--- $f"; tail -n 20 "$f"; }
  done
  exit 1
}
. "$(dirname "$0")/../support/xdisplay.sh"

# What each step does, at the window's coordinates (the places hold in both
# languages). "tab" switches to a page; "click" opens a pop-up or a dialog,
# which is shot and closed with Escape; "hover" leaves the mouse on a control
# for its highlight to show; "keys:K,K" types the keys, is shot, and a click at
# the place (the page's tab) takes the keyboard's focus mark away again;
# "dialog:K,K" opens a dialog with a click, types the keys in it and is shot,
# then Space (on the dialog's Cancel button) closes it. Regions listed after the coordinates
# (x0,y0,x1,y1) are left out of the comparison: what they show differs between
# two runs anyway (the lamp's blink, the machine's processes, the Software
# Rendering switch itself).
lamp=522,66,562,106
soft_switch=55,208,140,248
process_list=50,118,515,456
steps=(
  "main tab 97 24 $lamp"
  "tab-hover hover 290 24 $lamp"
  "scan-hover hover 480 86 $lamp"
  "main-focus keys:Tab,Tab,Tab,Tab,Tab 97 24 $lamp"
  "port-list click 200 86 $lamp"
  "process-dialog click 534 202 $lamp $process_list"
  "process-dialog-keys dialog:Tab,Tab,Tab 534 202 $lamp $process_list"
  "settings tab 290 24"
  "settings-focus keys:Tab 290 24"
  "restart-time-list click 480 96"
  "reset-hold-list click 480 176"
  "power-hold-list click 500 256"
  "power-wait-list click 230 309"
  "power-press-list click 500 309"
  "ch1-mode-list click 160 389"
  "ch2-mode-list click 160 442"
  "reset-limit-list click 480 389"
  "input-list click 480 442"
  "application tab 483 24 $soft_switch"
  "application-focus keys:Tab,Tab 483 24 $soft_switch"
  "language-list click 510 506 $soft_switch"
  "log-setup-dialog click 258 281 $soft_switch"
  "log-setup-dialog-keys dialog:Tab,Tab 258 281 $soft_switch"
)

# snap WINDOW FILE [look]: in FILE.grid, the mean grey level of each 10 x 10
# region of the window as "x,y level" lines, which every comparison reads;
# without "look", the picture itself in FILE too (one ImageMagick run).
snap() {
  local keep=(-write "$2")
  [ "${3:-}" = look ] && keep=()
  convert "x:$1" "${keep[@]}" -colorspace gray -scale 10% -depth 8 txt:- |
    awk -F'[ ,:()]+' 'NR > 1 { print $1 "," $2, $3 }' >"$2.grid"
}

# differs A B [REGION...]: how many regions tell pictures A and B apart (see
# above), leaving out those that meet a REGION; their places go to regions in
# the run's directory (or $work).
differs() {
  local a=$1 b=$2
  shift 2
  awk -v strong="$strong" -v faint="$faint" -v many="$faint_regions" -v masks="$*" '
    BEGIN { n = split(masks, m, /[ ,]/) }
    FNR == NR { level[$1] = $2; next }
    $1 in level {
      split($1, p, ",")
      x = p[1] * 10
      y = p[2] * 10
      for (i = 1; i < n; i += 4)
        if (x <= m[i + 2] && x + 9 >= m[i] && y <= m[i + 3] && y + 9 >= m[i + 1]) next
      d = level[$1] - $2
      if (d < 0) d = -d
      if (d > strong) s[++ns] = $1
      if (d > faint) f[++nf] = $1
    }
    END {
      if (nf > many) { for (i = 1; i <= nf; i++) print f[i] > "/dev/stderr"; print nf }
      else { for (i = 1; i <= ns; i++) print s[i] > "/dev/stderr"; print ns + 0 }
    }' "$a.grid" "$b.grid" 2>"${run:-$work}/regions"
}

# moved A B [REGION...]: how many regions moved at all (by more than 2
# levels): a highlight or a focus mark showing, whether or not it is strong
# enough to count in a comparison.
moved() {
  strong=2 faint=2 faint_regions=100000 differs "$@"
}

# outline IMAGE OUT: IMAGE with the regions of the last comparison outlined.
outline() {
  local draw=() x y
  while IFS=, read -r x y; do
    draw+=(-draw "rectangle $((x * 10)),$((y * 10)) $((x * 10 + 9)),$((y * 10 + 9))")
  done <"${run:-$work}/regions"
  convert "$1" -fill none -stroke red "${draw[@]}" "$2"
}

# settle WINDOW SHOT [REGION...]: shoots the window every 0.1 s until two
# shots in a row agree, no region moved (transitions over, the process list
# loaded): a slow fade moves too little between two shots to count in a
# comparison, but moves.
settle() {
  local wid=$1 shot=$2 i
  shift 2
  snap "$wid" "$shot" || return 1
  for ((i = 0; i < 50; i++)); do
    sleep 0.1
    snap "$wid" "$run/next.png" || return 1
    [ "$(moved "$shot" "$run/next.png" "$@")" -eq 0 ] && return 0
    mv "$run/next.png" "$shot"
    mv "$run/next.png.grid" "$shot.grid"
  done
  return 1
}

# changes HOW WINDOW SHOT BEFORE [REGION...]: looks at the window every 0.05 s
# until it no longer shows BEFORE (HOW: "moved", any region moved; "opened",
# more than 20 regions differ: something on top of the page), for about 10 s
# at most, then settles. What was asked for shows before the shots settle:
# a busy program that has not drawn it yet is not taken for a settled one.
changes() {
  local how=$1 wid=$2 shot=$3 before=$4 i
  shift 4
  for ((i = 0; i < 100; i++)); do
    snap "$wid" "$shot" look || return 1
    case $how in
      moved) [ "$(moved "$before" "$shot" "$@")" -gt 0 ] && break ;;
      opened) [ "$(differs "$before" "$shot" "$@")" -gt 20 ] && break ;;
    esac
    sleep 0.05
  done
  settle "$wid" "$shot" "$@"
}

# back_to WINDOW PAGE [REGION...]: whether the window shows PAGE again, and
# has settled there: a pop-up still fading out takes the next click (shot
# every 0.1 s, for at most about 10 s on a busy machine).
back_to() {
  local wid=$1 page=$2 i
  shift 2
  rm -f "$run/then.png.grid"
  for ((i = 0; i < 80; i++)); do
    snap "$wid" "$run/now.png" look || return 1
    [ "$(differs "$page" "$run/now.png" "$@")" -eq 0 ] && [ -f "$run/then.png.grid" ] &&
      [ "$(moved "$run/then.png" "$run/now.png" "$@")" -eq 0 ] && return 0
    mv "$run/now.png.grid" "$run/then.png.grid"
    sleep 0.1
  done
  return 1
}

# board RENDERER: the port of that renderer's board. The window shows the
# port's name, so both boards sit in $work under names that draw the same:
# the second one ends in a space. Qt names a port's lock file after the port,
# so each program still locks a port of its own.
board() {
  if [ "$1" = software ]; then echo "$work/board "; else echo "$work/board"; fi
}

# prepare RENDERER: a display with a tray host (support/xdisplay.sh) and a
# board for the runs of that renderer, in $work/RENDERER.
prepare() {
  local run="$work/$1" port
  port=$(board "$1")
  mkdir -p "$run/run" "$run/tmp"
  chmod 700 "$run/run"
  xdisplay_start "$run" bottom
  "$sim" --model x2 --link "$port" --verbose >"$run/sim.log" 2>&1 &
  pids+=($!)
  wait_for 25 test -e "$port" || fail "board simulator did not start"
}

# shoot LANG RENDERER: runs the program once on the renderer's display and
# shoots every step.
shoot() {
  local lang=$1 renderer=$2 soft=false
  [ "$renderer" = software ] && soft=true
  local run="$work/$renderer"
  DISPLAY=":$(head -n1 "$run/display")"
  export DISPLAY
  local home="$run/home-$lang"
  mkdir -p "$home/.config/Brennic" "$home/.local/share" "$home/.cache"
  # Manual control and the process check on, so that every control is
  # enabled; logging on, so that its settings link shows.
  # A recent update check: the program writes nothing of its own to the file
  # while the keys are typed.
  printf '[General]\nvisible=true\nsoftgl=%s\nmanualon=true\nmonitoron=true\nmonitor=Xvfb\n\n[UI]\nLanguage=%s\n\n[logging]\nenable=true\n\n[Update]\nLastCheck=%s\n' \
    "$soft" "$lang" "$(date -u +%Y-%m-%dT%H:%M:%SZ)" >"$home/.config/Brennic/Tovel3.conf"
  local readings
  readings=$(grep -c '<< ~G' "$run/sim.log")
  # A cycle a second (the TOVEL3_CYCLE_MS test hook): the first reading
  # comes sooner.
  env -u QT_QPA_PLATFORM -u QT_QUICK_BACKEND HOME="$home" XDG_CONFIG_HOME="$home/.config" \
    XDG_DATA_HOME="$home/.local/share" XDG_CACHE_HOME="$home/.cache" XDG_RUNTIME_DIR="$run/run" \
    TMPDIR="$run/tmp" TOVEL3_EXTRA_PORTS="$(board "$renderer")" TOVEL3_CYCLE_MS=1000 LC_ALL=C.UTF-8 \
    "$bin" >"$run/app.log" 2>&1 &
  local app=$!
  echo "$app" >"$run/app.pid"
  local wid=""
  # The tray icon is a window of the program too: take the main window.
  find_window() {
    wid=$(for w in $(xdotool search --onlyvisible --pid "$app" --name '^USB Tovel'); do
      xdotool getwindowgeometry --shell "$w" | awk -F= -v w="$w" '/WIDTH/ { x = $2 } /HEIGHT/ { print x * $2, w }'
    done | awk '$1 > 100000 { print $2; exit }')
    [ -n "$wid" ]
  }
  wait_for 50 find_window || fail "$lang/$renderer: no window"
  wait_for 50 sh -c "[ \$(grep -c '<< ~G' '$run/sim.log') -gt $readings ]" ||
    fail "$lang/$renderer: the board's input was never read"
  # Shots start once the window has drawn the lamp going on and out, or out
  # and on, again (the middle of the lamp moving twice by more than 20
  # levels): by then it shows the first answers of the board, and what the
  # store holds. A busy machine can hold a starting program up for seconds,
  # its window drawn but its stored choices not yet shown.
  local level last="" turns=0 i
  for ((i = 0; i < 100 && turns < 2; i++)); do
    snap "$wid" "$run/lamp.png" look || fail "$lang/$renderer: no picture of the window"
    level=$(awk '$1 == "54,8" { print $2 }' "$run/lamp.png.grid")
    [ -n "$last" ] && [ $((level > last ? level - last : last - level)) -gt 20 ] && turns=$((turns + 1))
    last=$level
    sleep 0.1
  done
  [ "$turns" -ge 2 ] || fail "$lang/$renderer: the window's lamp never blinked"
  local step name action x y masks page="" shot commands stored keys beats lines started
  # Commands the board got, its heartbeat and input readings left out.
  commands() { grep '<< ~' "$run/sim.log" | grep -vc '<< ~[UG]$'; }
  # answered COMMAND FROM: whether the board answered COMMAND after line FROM
  # of its log.
  answered() { awk -v from="$2" -v cmd="<< $1" 'NR > from && index($0, cmd) { c = 1 } c && / >> / { a = 1 } END { exit !a }' "$run/sim.log"; }
  for step in "${steps[@]}"; do
    read -r name action x y masks <<<"$step"
    shot="$out/$lang-$renderer-$name.png"
    started=$EPOCHREALTIME
    # shellcheck disable=SC2086 # one word per region
    case $action in
      keys:*)
        keys=${action#keys:}
        xdotool key --delay 50 ${keys//,/ }
        changes moved "$wid" "$shot" "$page" $masks || fail "$lang/$renderer: $name does not settle"
        [ "$(differs "$page" "$shot" $masks)" -gt 0 ] ||
          fail "$lang/$renderer: $name: no focus mark to be seen"
        xdotool mousemove --window "$wid" "$x" "$y" click 1 mousemove 1000 700
        back_to "$wid" "$page" $masks || fail "$lang/$renderer: $name: the focus mark stays"
        ;;
      dialog:*)
        commands=$(commands)
        stored=$(cat "$home/.config/Brennic/Tovel3.conf")
        xdotool mousemove --window "$wid" "$x" "$y" click 1 mousemove 1000 700
        changes opened "$wid" "$shot" "$page" $masks || fail "$lang/$renderer: $name does not open"
        cp "$shot.grid" "$run/dialog.png.grid"
        keys=${action#dialog:}
        xdotool key --delay 50 ${keys//,/ }
        changes moved "$wid" "$shot" "$run/dialog.png" $masks ||
          fail "$lang/$renderer: $name does not settle"
        beats=$(grep -c '<< ~U$' "$run/sim.log")
        xdotool key space
        back_to "$wid" "$page" $masks || fail "$lang/$renderer: $name: Space did not close it"
        # The link to the board is first come, first served: a command the
        # keys sent comes before the next heartbeat.
        wait_for 50 sh -c "[ \$(grep -c '<< ~U$' '$run/sim.log') -gt $beats ]" ||
          fail "$lang/$renderer: $name: no heartbeat after the dialog"
        [ "$(commands)" -eq "$commands" ] ||
          fail "$lang/$renderer: $name: keys typed in the dialog reached the board: $(grep '<< ~' "$run/sim.log" | grep -v '<< ~[UG]$' | tail -n 1)"
        [ "$(cat "$home/.config/Brennic/Tovel3.conf")" = "$stored" ] ||
          fail "$lang/$renderer: $name: keys typed in the dialog changed the settings"
        ;;
      tab)
        lines=$(wc -l <"$run/sim.log")
        xdotool mousemove --window "$wid" "$x" "$y" click 1 mousemove 1000 700
        if [ -z "$page" ]; then
          settle "$wid" "$shot" $masks || fail "$lang/$renderer: $name does not settle"
        else
          # The settings page reads the board when it is entered.
          [ "$name" != settings ] || wait_for 50 answered '~F' "$lines" ||
            fail "$lang/$renderer: $name: the board's settings were not read"
          changes opened "$wid" "$shot" "$page" $masks || fail "$lang/$renderer: $name does not settle"
        fi
        page=$shot
        ;;
      hover)
        xdotool mousemove --window "$wid" "$x" "$y"
        changes moved "$wid" "$shot" "$page" $masks || fail "$lang/$renderer: $name does not settle"
        xdotool mousemove 1000 700
        back_to "$wid" "$page" $masks || fail "$lang/$renderer: $name: the highlight stays"
        ;;
      click)
        xdotool mousemove --window "$wid" "$x" "$y" click 1 mousemove 1000 700
        changes opened "$wid" "$shot" "$page" $masks || fail "$lang/$renderer: $name does not settle"
        [ "$(differs "$page" "$shot" $masks)" -gt 20 ] ||
          fail "$lang/$renderer: $name: clicking at $x,$y opened nothing"
        xdotool key Escape
        back_to "$wid" "$page" $masks || fail "$lang/$renderer: $name: Escape did not close it"
        ;;
    esac
    echo "$lang/$renderer $name: $(awk -v a="$started" -v b="$EPOCHREALTIME" 'BEGIN { printf "%.1f s", b - a }')"
  done
  kill "$app"
  wait "$app" 2>/dev/null
  rm -f "$run/app.pid"
}

# Other window tests keep their pictures here too: only this test's go.
mkdir -p "$out"
rm -f "$out"/*-opengl-*.png "$out"/*-software-*.png "$out"/*-differs-*.png
prepare opengl
prepare software

for lang in $langs; do
  shoot "$lang" opengl >"$work/opengl.out" 2>&1 &
  gl=$!
  shoot "$lang" software >"$work/software.out" 2>&1 &
  soft=$!
  wait "$gl"
  gl_ok=$?
  wait "$soft"
  soft_ok=$?
  cat "$work/opengl.out" "$work/software.out"
  if [ "$gl_ok" -ne 0 ] || [ "$soft_ok" -ne 0 ]; then fail "$lang: a run failed (above)"; fi
done

failed=0
for lang in $langs; do
  for step in "${steps[@]}"; do
    read -r name _ _ _ masks <<<"$step"
    a="$out/$lang-opengl-$name.png"
    b="$out/$lang-software-$name.png"
    # shellcheck disable=SC2086
    n=$(differs "$a" "$b" $masks)
    if [ "$n" -gt 0 ]; then
      outline "$b" "$out/$lang-differs-$name.png"
      echo "not ok: $lang $name: $n regions differ between the renderers"
      failed=1
    else
      echo "ok: $lang $name"
    fi
  done
done
[ "$failed" -eq 0 ] || fail "the software scene graph draws differently from OpenGL (pictures in $out)"
echo "pictures: $out"
