# 64×32 RGBA source with smooth gradients and a little noise; six 8×8 cube faces.
import random, struct
def tga(name, w, h, pixels):
    with open(name, "wb") as f:
        f.write(struct.pack("<BBBHHBHHHHBB", 0, 0, 2, 0, 0, 0, 0, 0, w, h, 32, 0x28))
        for p in pixels: f.write(bytes(p))
random.seed(7)
px = []
for y in range(32):
    for x in range(64):
        px.append((x * 4, y * 8, (x * y) % 256, 255 - x * 2))  # B, G, R, A
tga("src.tga", 64, 32, px)
for f in range(6):
    tga("face%d.tga" % f, 8, 8, [(f * 40, x * 30, y * 30, 255) for y in range(8) for x in range(8)])
