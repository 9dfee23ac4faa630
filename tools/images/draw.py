#!/usr/bin/env python3
"""Draws the application's images into qml/images with ImageMagick.

Run from anywhere: python3 tools/images/draw.py [output-dir]
Needs ImageMagick's `convert` (6.9 or later) and the DejaVu fonts.

Images:
  tovel3.png, tovel3_y.png, tovel3_g.png  tray/window icons: a shield with a
      heartbeat trace; idle (indigo), heartbeat sent (yellow), acknowledged
      (green). The fill colour and the trace colour both change, so the three
      stay apart at 16 px and for readers who confuse yellow and green.
  ic_view_list_black.png  24x24 black list icon (three rows of a square and a bar).
  x2_eng_diag.png  wiring sketch of the two-channel board.
"""

import os
import subprocess
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
OUT = sys.argv[1] if len(sys.argv) > 1 else os.path.join(ROOT, "qml", "images")

# Keep the PNGs byte-stable between runs: no time stamps, no comments.
STABLE = ["-strip", "-define", "png:exclude-chunks=date,time,tEXt,zTXt,iTXt"]


def convert(args, out_name):
    out = os.path.join(OUT, out_name)
    subprocess.run(["convert"] + args + STABLE + ["PNG32:" + out], check=True)
    print("wrote", out)


def draw_mvg(width, height, background, mvg, out_name, resize=None):
    # The drawing goes inline: Debian's ImageMagick policy refuses "@file" arguments.
    args = ["-size", "%dx%d" % (width, height), "xc:" + background, "-draw", mvg]
    if resize:
        args += ["-filter", "Lanczos", "-resize", resize]
    convert(args, out_name)


# --- tray icons -----------------------------------------------------------
# Drawn on a 512 canvas and reduced to 128 for smooth edges.
SHIELD = ("M 256,22 C 316,52 384,70 466,74 L 466,236 "
          "C 466,366 384,446 256,494 C 128,446 46,366 46,236 L 46,74 "
          "C 128,70 196,52 256,22 Z")
TRACE = "60,262 150,262 196,150 264,388 322,194 356,262 452,262"

ICONS = {
    # name: (shield fill, shield outline, trace colour)
    "tovel3.png": ("#3949ab", "#1a237e", "#ffffff"),
    "tovel3_y.png": ("#ffd600", "#7a5c00", "#212121"),
    "tovel3_g.png": ("#2ec21f", "#0b5d06", "#ffffff"),
}


def tray_icon(name, fill, outline, trace):
    mvg = f"""
stroke-linejoin round
stroke-linecap round
fill '{fill}'
stroke '{outline}'
stroke-width 26
path '{SHIELD}'
fill none
stroke '{trace}'
stroke-width 50
polyline {TRACE}
"""
    draw_mvg(512, 512, "none", mvg, name, resize="128x128")


# --- list icon ------------------------------------------------------------
def list_icon():
    # Three rows: a 4x4 square at x 4..7 and a bar at x 9..20, rows y 5..8,
    # 10..13, 15..18; drawn pixel-exact at 24 px.
    mvg = ["fill black", "stroke none"]
    for top in (5, 10, 15):
        mvg.append(f"rectangle 4,{top} 7,{top + 3}")
        mvg.append(f"rectangle 9,{top} 20,{top + 3}")
    mvg.insert(0, "stroke-antialias 0")
    draw_mvg(24, 24, "none", "\n".join(mvg) + "\n", "ic_view_list_black.png")


# --- wiring diagram ---------------------------------------------------------
def wiring_diagram():
    W, H = 920, 560
    font = "DejaVu-Sans"
    bold = "DejaVu-Sans-Bold"
    m = []

    def text(x, y, s, size=15, f=font, colour="#202020"):
        s = s.replace("'", "\\'")
        m.append(f"font '{f}'\nfont-size {size}\nfill '{colour}'\nstroke none\ntext {x},{y} '{s}'")

    def box(x1, y1, x2, y2, fill="#ffffff", stroke="#303030", width=2, radius=8):
        m.append(f"fill '{fill}'\nstroke '{stroke}'\nstroke-width {width}\n"
                 f"roundrectangle {x1},{y1} {x2},{y2} {radius},{radius}")

    def wire(points, colour, width=4):
        pts = " ".join(f"{x},{y}" for x, y in points)
        m.append(f"fill none\nstroke '{colour}'\nstroke-width {width}\n"
                 f"stroke-linejoin round\npolyline {pts}")

    def dot(x, y, colour="#202020", r=5):
        m.append(f"fill '{colour}'\nstroke none\ncircle {x},{y} {x + r},{y}")

    def pin(x, y):
        m.append(f"fill '#e0c050'\nstroke '#404040'\nstroke-width 2\nrectangle {x - 7},{y - 7} {x + 7},{y + 7}")

    def relay(x, y, label):
        # Normally open contact between two terminals at (x, y) and (x, y + 40).
        box(x - 70, y - 14, x + 10, y + 54, fill="#f2f5ff", stroke="#3949ab", width=2, radius=4)
        m.append(f"fill none\nstroke '#3949ab'\nstroke-width 3\nline {x - 40},{y} {x - 40},{y + 12}")
        m.append(f"fill none\nstroke '#3949ab'\nstroke-width 3\nline {x - 40},{y + 40} {x - 40},{y + 28}")
        m.append(f"fill none\nstroke '#3949ab'\nstroke-width 3\nline {x - 40},{y + 28} {x - 24},{y + 10}")
        m.append(f"fill none\nstroke '#3949ab'\nstroke-width 2\nline {x - 40},{y} {x},{y}")
        m.append(f"fill none\nstroke '#3949ab'\nstroke-width 2\nline {x - 40},{y + 40} {x},{y + 40}")
        dot(x, y)
        dot(x, y + 40)
        text(x - 165, y + 25, label, size=13, f=bold, colour="#1a237e")

    m.append("stroke-antialias 1\ntext-antialias 1")
    text(24, 40, "Two-channel watchdog board: wiring to the PC", size=22, f=bold)

    # The board.
    box(30, 80, 330, 470, fill="#fafafa")
    text(48, 110, "Watchdog board (2 channels)", size=16, f=bold)
    relay(280, 170, "CH1: RESET")
    relay(280, 320, "CH2: POWER")
    box(60, 400, 190, 450, fill="#eeeeee", stroke="#606060", width=2, radius=4)
    text(78, 431, "USB (0483)", size=14)

    # USB cable to the PC.
    wire([(125, 450), (125, 522), (560, 522)], "#606060", 5)
    box(560, 500, 720, 544, fill="#eeeeee", stroke="#606060", width=2, radius=4)
    text(578, 528, "USB port of the PC", size=13)
    text(200, 512, "USB cable", size=13, colour="#505050")

    # The motherboard header.
    box(560, 80, 900, 470, fill="#f4fbf0", stroke="#2e7d32")
    text(574, 110, "Motherboard front-panel header", size=15, f=bold, colour="#1b5e20")
    pins = {"RST+": 170, "RST-": 210, "PWR+": 320, "PWR-": 360}
    for name, y in pins.items():
        pin(600, y)
        text(618, y + 5, name, size=14, f=bold)

    # Relay contacts wired to the header pins.
    wire([(280, 170), (600, 170)], "#c62828")
    wire([(280, 210), (600, 210)], "#424242")
    wire([(280, 320), (600, 320)], "#1565c0")
    wire([(280, 360), (600, 360)], "#424242")
    text(380, 160, "reset relay", size=13, colour="#c62828")
    text(380, 310, "power relay", size=13, colour="#1565c0")

    # The case buttons stay connected, in parallel with the relays.
    for label, y in (("case Reset button", 170), ("case Power button", 320)):
        # Push button: two contacts and a bridging bar pushed by a plunger.
        m.append(f"fill none\nstroke '#202020'\nstroke-width 3\n"
                 f"polyline 676,{y} 720,{y} 720,{y + 12}\n"
                 f"polyline 676,{y + 40} 720,{y + 40} 720,{y + 28}\n"
                 f"line 730,{y + 6} 730,{y + 34}\n"
                 f"line 730,{y + 20} 744,{y + 20}\n"
                 f"line 744,{y + 13} 744,{y + 27}")
        dot(720, y + 12, r=3)
        dot(720, y + 28, r=3)
        text(752, y + 25, label.replace("case ", "case\u00a0"), size=13)

    text(578, 430, "The relays close the same pins", size=13, colour="#404040")
    text(578, 450, "as the case buttons (in parallel).", size=13, colour="#404040")

    draw_mvg(W, H, "white", "\n".join(m) + "\n", "x2_eng_diag.png")


def main():
    os.makedirs(OUT, exist_ok=True)
    for name, (fill, outline, trace) in ICONS.items():
        tray_icon(name, fill, outline, trace)
    list_icon()
    wiring_diagram()


if __name__ == "__main__":
    main()
