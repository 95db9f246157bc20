#!/usr/bin/env bash
# Makes the launcher's embedded splash assets from synthetic sources, so they
# can be rebuilt on any Debian machine (packages ffmpeg, sox, imagemagick,
# python3):
#   bg_video.mp4  a seamless 4 s loop, 1280x720, 30 fps, H.264 yuv420p
#   poster.jpg    its first frame, shown until the first video frame is ready
#   tick.wav      a short click for each tenth of the progress bar
#   tarnwick.ico  the icon (make-icon.sh)
# The outputs are committed; run this only to change them.
set -euo pipefail
cd "$(dirname "$0")"

seconds=4
fps=30

# Every term of the picture is periodic in T with a period that divides the
# clip length, so the frame after the last one equals the first: the loop has
# no seam. The picture is a dusk sky over two rolling ridges, with a slow
# drifting glow; it is computed at half size and scaled up (geq is slow).
w=640
h=360
loop="2*PI*T/${seconds}"
sky_r="14+22*(1-Y/H)*(1+0.35*sin(${loop}+X/W*3))"
sky_g="18+26*(1-Y/H)*(1+0.25*sin(${loop}+1.3+X/W*2))"
sky_b="34+52*(1-Y/H)*(1+0.2*sin(${loop}+2.1))"
ridge1="H*(0.62+0.06*sin(X/W*5+sin(${loop})*0.6)+0.02*sin(X/W*17+${loop}))"
ridge2="H*(0.74+0.05*sin(X/W*3.2-sin(${loop})*0.4+1.7)+0.015*sin(X/W*23-${loop}))"
glow="40*exp(-(pow((X-W*(0.5+0.2*sin(${loop})))/(W*0.18),2)+pow((Y-H*0.45)/(H*0.2),2)))"
r="if(gt(Y,${ridge2}),6,if(gt(Y,${ridge1}),10+0.3*${glow},${sky_r}+${glow}))"
g="if(gt(Y,${ridge2}),8,if(gt(Y,${ridge1}),13+0.25*${glow},${sky_g}+0.7*${glow}))"
b="if(gt(Y,${ridge2}),12,if(gt(Y,${ridge1}),20+0.2*${glow},${sky_b}+0.4*${glow}))"

# No B-frames: with them the file needs an edit list to line its first frame
# up with time 0, and a decoder that ignores edit lists shows every frame two
# frames late. The encoder's banner (an SEI message) and the muxer's tags are
# left out, so the files carry no tool names.
clean=(-map_metadata -1 -fflags +bitexact -flags:v +bitexact)
ffmpeg -loglevel error -y -f lavfi -i "color=c=black:s=${w}x${h}:r=${fps}:d=${seconds}" \
    -vf "geq=r='${r}':g='${g}':b='${b}',scale=1280:720:flags=bicubic,format=yuv420p" \
    -frames:v $((seconds * fps)) -c:v libx264 -preset slow -crf 26 -g ${fps} -bf 0 \
    -bsf:v filter_units=remove_types=6 "${clean[@]}" -metadata:s:v:0 encoder=tarnwick \
    -use_editlist 0 -movflags +faststart -an bg_video.mp4

ffmpeg -loglevel error -y -i bg_video.mp4 -frames:v 1 -q:v 3 "${clean[@]}" poster.jpg

# A soft 2.4 kHz click: 25 ms with a fast decay, 16-bit mono at 44.1 kHz.
sox -n -r 44100 -b 16 -c 1 tick.wav synth 0.025 sine 2400 fade q 0.001 0.025 0.022 vol 0.5

./make-icon.sh
ls -l bg_video.mp4 poster.jpg tick.wav tarnwick.ico
