#!/bin/sh
# Makes the DDS fixtures once with Debian's libnvtt-bin (nvcompress, nvassemble, nvdecompress).
# The source images are 64×32 gradients written by make_source.py; nvdecompress's TGA of each
# file's top level is kept beside it as the reference.
set -e
cd "$(dirname "$0")"
python3 make_source.py
nvcompress -bc1 src.tga dxt1.dds
nvcompress -bc3 src.tga dxt5.dds
nvcompress -bc5 src.tga ati2.dds
nvcompress -rgb -nomips src.tga rgba.dds
nvassemble -cube face0.tga face1.tga face2.tga face3.tga face4.tga face5.tga && mv output.dds cube.dds
for f in dxt1 dxt5 ati2; do nvdecompress $f.dds; done
rm -f face*.tga src.tga
