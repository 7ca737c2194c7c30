#!/usr/bin/python3
"""Renders the embedded pictures: the knob face (256 and 128 px), the grain texture and the logo.

Everything is procedural and seeded, so every run writes the same bytes:
- knob-256.png, knob-128.png: a lit, slightly brushed dark metal face, RGBA, transparent outside.
  The editors add the drop shadow, rings, arcs and pointer themselves.
- texture-512.jpg: a seamless zero-mean film grain around mid-grey, one greyscale component.
  The editors tile it with wrap-around, so it is filtered periodically.
- logo-mark.png: a sprout of two leaves under a point of light, 320 x 316, 8-bit palette. The blue
  of the leaves is recoloured when drawn, the light keeps its colour.

Usage: make-pictures.py <output folder>
"""

import sys
from pathlib import Path

import numpy as np
from PIL import Image

SUPERSAMPLE = 4


def grid(size, supersample):
    """Pixel-centre coordinates of a size x size picture in [-1, 1], supersampled."""
    n = size * supersample
    c = (np.arange(n) + 0.5) / n * 2.0 - 1.0
    return np.meshgrid(c, c)


def box_down(values, supersample):
    """Area average of supersample x supersample cells (last axes are y, x)."""
    h, w = values.shape[0] // supersample, values.shape[1] // supersample
    shaped = values.reshape(h, supersample, w, supersample, *values.shape[2:])
    return shaped.mean(axis=(1, 3))


def smoothstep(edge0, edge1, x):
    t = np.clip((x - edge0) / (edge1 - edge0), 0.0, 1.0)
    return t * t * (3.0 - 2.0 * t)


def knob_face(size, seed=7):
    x, y = grid(size, SUPERSAMPLE)
    r = np.hypot(x, y)
    theta = np.arctan2(y, x)
    rng = np.random.default_rng(seed)

    # Light from above, slightly from the left (y grows downwards).
    light = np.array([-0.28, -0.96])

    face_r = 0.9  # where the chamfer meets the top face
    edge = 1.0 / size  # half a pixel in these units, for antialiasing

    base = np.array([46.0, 52.0, 68.0])
    # Top face: a gentle vertical gradient, lighter towards the light.
    tilt = -(x * light[0] + y * light[1])
    top = base[None, None, :] * (1.0 + 0.22 * tilt[..., None])

    # Concentric brushing: fine rings of random depth, a little stronger towards the rim.
    rings = rng.standard_normal(4096)
    kernel = np.exp(-0.5 * (np.arange(-6, 7) / 2.0) ** 2)
    rings = np.convolve(np.concatenate([rings[-6:], rings, rings[:6]]), kernel / kernel.sum(),
                        mode="valid")[:4096]
    ring_index = np.clip((r / face_r * 4095).astype(int), 0, 4095)
    brush = rings[ring_index] * (0.6 + 0.6 * r / face_r)
    top += (brush * 3.4)[..., None]

    # Anisotropic sheen of brushed metal: two soft bright wedges along the light's axis.
    light_angle = np.arctan2(light[1], light[0])
    wedge = np.cos(2.0 * (theta - light_angle)) * 0.5 + 0.5
    sheen = wedge ** 6 * smoothstep(0.05, 0.55, r) * (1.0 - smoothstep(0.7, face_r, r))
    top += (sheen * 20.0)[..., None] * np.array([0.95, 1.0, 1.08])[None, None, :]

    # A soft central dome, as if the face were very slightly convex.
    top += (10.0 * np.exp(-((x + 0.18) ** 2 + (y + 0.3) ** 2) / 0.35))[..., None]

    # Chamfer: its brightness follows how much its normal faces the light.
    nx, ny = np.where(r > 0, x / np.maximum(r, 1e-9), 0.0), np.where(r > 0, y / np.maximum(r, 1e-9), 0.0)
    facing = nx * light[0] + ny * light[1]
    bevel = base[None, None, :] * (1.0 + 0.7 * facing[..., None]) + 4.0

    # A thin dark groove where chamfer and top face meet.
    groove = np.exp(-(((r - face_r) / 0.012) ** 2))

    blend = smoothstep(face_r - edge, face_r + edge, r)[..., None]
    rgb = top * (1.0 - blend) + bevel * blend
    rgb *= (1.0 - 0.55 * groove)[..., None]
    # The outermost rim catches a little light all around.
    rgb += (8.0 * np.exp(-(((r - 0.985) / 0.012) ** 2)))[..., None]

    alpha = 1.0 - smoothstep(1.0 - 2.0 * edge, 1.0, r)

    rgba = np.concatenate([np.clip(rgb, 0, 255) * alpha[..., None], alpha[..., None]], axis=2)
    rgba = box_down(rgba, SUPERSAMPLE)
    a = rgba[..., 3:4]
    colour = np.where(a > 0, rgba[..., :3] / np.maximum(a, 1e-9), 0.0)
    out = np.concatenate([colour, a * 255.0], axis=2)
    return Image.fromarray(np.clip(np.rint(out), 0, 255).astype(np.uint8), "RGBA")


def periodic_blur(field, sigma):
    """Gaussian blur with wrap-around, through the FFT."""
    n = field.shape[0]
    f = np.fft.fftfreq(n)
    fx, fy = np.meshgrid(f, f)
    gain = np.exp(-2.0 * (np.pi * sigma) ** 2 * (fx * fx + fy * fy))
    return np.real(np.fft.ifft2(np.fft.fft2(field) * gain))


def grain(size=512, seed=11):
    rng = np.random.default_rng(seed)
    fine = periodic_blur(rng.standard_normal((size, size)), 0.55)
    cloud = periodic_blur(rng.standard_normal((size, size)), 9.0)
    fine /= fine.std()
    cloud /= cloud.std()
    value = 128.0 + 26.0 * fine + 7.0 * cloud
    return Image.fromarray(np.clip(np.rint(value), 0, 255).astype(np.uint8), "L")


def logo(width=320, height=316):
    ss = SUPERSAMPLE
    ys, xs = np.mgrid[0:height * ss, 0:width * ss]
    x = (xs + 0.5) / ss
    y = (ys + 0.5) / ss

    def leaf(tip_x, tip_y, base_x, base_y, fullness):
        """A leaf between its base and its tip: two circular arcs meeting at both ends."""
        dx, dy = tip_x - base_x, tip_y - base_y
        length = np.hypot(dx, dy)
        ux, uy = dx / length, dy / length
        # Coordinates along (s) and across (t) the leaf's axis, s from 0 to 1.
        s = ((x - base_x) * ux + (y - base_y) * uy) / length
        t = (-(x - base_x) * uy + (y - base_y) * ux) / length
        half_width = fullness * np.sqrt(np.clip(s * (1.0 - s), 0.0, None)) * 2.0
        return (s > 0) & (s < 1) & (np.abs(t) < half_width)

    blue = (leaf(44, 132, 150, 296, 0.17) | leaf(276, 88, 170, 296, 0.17)
            | ((np.abs(x - 160) < 8) & (y > 236) & (y < 310)))
    light = np.hypot(x - 152, y - 58) < 36

    blue_cover = box_down(blue.astype(np.float64), ss)
    light_cover = box_down(light.astype(np.float64), ss)

    # Palette: 0 transparent, 1..100 the leaves' blue at rising cover, 101..200 the light.
    levels = 100
    palette = [(0, 0, 0)]
    alphas = [0]
    for i in range(1, levels + 1):
        palette.append((64, 84, 204))
        alphas.append(round(255 * i / levels))
    for i in range(1, levels + 1):
        palette.append((236, 238, 244))
        alphas.append(round(255 * i / levels))
    index = np.zeros((height, width), dtype=np.uint8)
    b = np.rint(blue_cover * levels).astype(int)
    li = np.rint(light_cover * levels).astype(int)
    index[b > 0] = b[b > 0]
    index[li > 0] = (levels + li[li > 0]).astype(np.uint8)

    img = Image.fromarray(index, "P")
    flat = [c for rgb in palette for c in rgb]
    img.putpalette(flat)
    img.info["transparency"] = bytes(alphas)
    return img


def main():
    if len(sys.argv) != 2:
        sys.exit("usage: make-pictures.py <output folder>")
    out = Path(sys.argv[1])
    out.mkdir(parents=True, exist_ok=True)
    for size in (256, 128):
        knob_face(size).save(out / f"knob-{size}.png", optimize=False, compress_level=9)
    grain().save(out / "texture-512.jpg", quality=92, optimize=False, progressive=False,
                 subsampling=0)
    mark = logo()
    mark.save(out / "logo-mark.png", optimize=False, compress_level=9,
              transparency=mark.info["transparency"])
    for name in ("knob-256.png", "knob-128.png", "texture-512.jpg", "logo-mark.png"):
        print(f"{out / name}: {(out / name).stat().st_size} bytes")


if __name__ == "__main__":
    main()
