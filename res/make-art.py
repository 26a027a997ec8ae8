#!/usr/bin/python3
# Draws the tool's icons and bitmaps into res/art/. Run once with Debian's
# python3 and python3-pil; the outputs are committed.
#   app.ico     127: a key on a blue shield, 128/48/32/16 px, 32-bit with alpha;
#               the 128 and 48 px entries as PNG (the icon format since
#               Windows Vista), which keeps the exe small
#   cert.ico    128: a framed document with a red seal, 16 px
#   key.ico     129: a USB key, 16 px
#   disc.ico    130: a blue disc, 16 px
#   banner.bmp  135: 400 x 80, 24-bit, the product name
#   about.bmp   136: 280 x 90, 32-bit
import io
import os
import struct
from PIL import Image, ImageDraw, ImageFont

OUT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "art")
FONT = "/usr/share/fonts/truetype/wqy/wqy-microhei.ttc"
BLUE = (24, 92, 170, 255)
LIGHT = (120, 180, 235, 255)
GOLD = (236, 178, 48, 255)
RED = (200, 40, 40, 255)
NAME = "QuorvelUSBKEY管理工具"


def dib(img):
    """A 32-bit BGRA DIB with its AND mask, as an icon entry stores it."""
    w, h = img.size
    header = struct.pack("<IiiHHIIiiII", 40, w, h * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    px = img.load()
    xor = bytearray()
    for y in range(h - 1, -1, -1):
        for x in range(w):
            r, g, b, a = px[x, y]
            xor += bytes((b, g, r, a))
    stride = ((w + 31) // 32) * 4
    mask = bytearray()
    for y in range(h - 1, -1, -1):
        row = bytearray(stride)
        for x in range(w):
            if px[x, y][3] < 128:
                row[x // 8] |= 0x80 >> (x % 8)
        mask += row
    return header + bytes(xor) + bytes(mask)


def png(img):
    """The image as a PNG entry of an icon: 32-bit RGBA, compressed."""
    out = io.BytesIO()
    img.save(out, "PNG", optimize=True)
    return out.getvalue()


def save_ico(path, images, png_from=None):
    entries, blobs = [], []
    offset = 6 + 16 * len(images)
    for img in images:
        data = png(img) if png_from and img.size[0] >= png_from else dib(img)
        w, h = img.size
        entries.append(struct.pack("<BBBBHHII", w % 256, h % 256, 0, 0, 1, 32, len(data), offset))
        blobs.append(data)
        offset += len(data)
    with open(path, "wb") as f:
        f.write(struct.pack("<HHH", 0, 1, len(images)))
        f.write(b"".join(entries))
        f.write(b"".join(blobs))


def save_bmp(path, img, bits):
    w, h = img.size
    stride = ((w * bits // 8 + 3) // 4) * 4
    px = img.convert("RGBA").load()
    rows = bytearray()
    for y in range(h - 1, -1, -1):
        row = bytearray()
        for x in range(w):
            r, g, b, a = px[x, y]
            row += bytes((b, g, r)) if bits == 24 else bytes((b, g, r, a))
        row += bytes(stride - len(row))
        rows += row
    header = struct.pack("<IiiHHIIiiII", 40, w, h, 1, bits, 0, len(rows), 2835, 2835, 0, 0)
    with open(path, "wb") as f:
        f.write(b"BM" + struct.pack("<IHHI", 14 + 40 + len(rows), 0, 0, 14 + 40))
        f.write(header + bytes(rows))


def draw_key(d, s, color, ring=True):
    """A key lying left to right, scaled to an s x s box."""
    u = s / 16.0
    if ring:
        d.ellipse([1 * u, 4 * u, 8 * u, 11 * u], fill=color)
        d.ellipse([3 * u, 6 * u, 6 * u, 9 * u], fill=(0, 0, 0, 0))
    d.rectangle([7 * u, 6.5 * u, 15 * u, 8.5 * u], fill=color)
    d.rectangle([11 * u, 8.5 * u, 12.5 * u, 11 * u], fill=color)
    d.rectangle([13.5 * u, 8.5 * u, 15 * u, 10.5 * u], fill=color)


def app_icon(size):
    big = 256
    img = Image.new("RGBA", (big, big), (0, 0, 0, 0))
    d = ImageDraw.Draw(img)
    # shield
    d.polygon([(128, 12), (232, 48), (220, 150), (128, 244), (36, 150), (24, 48)], fill=BLUE)
    d.polygon([(128, 34), (210, 62), (200, 146), (128, 220), (56, 146), (46, 62)], fill=LIGHT)
    key = Image.new("RGBA", (big, big), (0, 0, 0, 0))
    draw_key(ImageDraw.Draw(key), 176, GOLD)
    img.alpha_composite(key, (44, 50))
    return img.resize((size, size), Image.LANCZOS)


def cert_icon():
    img = Image.new("RGBA", (16, 16), (0, 0, 0, 0))
    d = ImageDraw.Draw(img)
    d.rectangle([1, 1, 14, 12], fill=(255, 255, 255, 255), outline=(70, 90, 120, 255))
    for y in (4, 6, 8):
        d.line([3, y, 10, y], fill=(120, 130, 150, 255))
    d.ellipse([9, 9, 14, 14], fill=RED)
    d.polygon([(10, 13), (9, 15), (11, 14)], fill=RED)
    d.polygon([(13, 13), (14, 15), (12, 14)], fill=RED)
    return img


def usb_key_icon():
    img = Image.new("RGBA", (16, 16), (0, 0, 0, 0))
    d = ImageDraw.Draw(img)
    d.rounded_rectangle([1, 4, 11, 11], radius=2, fill=BLUE)
    d.rectangle([11, 5, 15, 10], fill=(190, 190, 190, 255), outline=(120, 120, 120, 255))
    d.rectangle([12, 6, 13, 7], fill=(90, 90, 90, 255))
    d.rectangle([12, 8, 13, 9], fill=(90, 90, 90, 255))
    d.ellipse([3, 6, 6, 9], fill=GOLD)
    return img


def disc_icon():
    img = Image.new("RGBA", (64, 64), (0, 0, 0, 0))
    d = ImageDraw.Draw(img)
    d.ellipse([4, 4, 60, 60], fill=BLUE)
    d.ellipse([14, 12, 34, 28], fill=LIGHT)
    return img.resize((16, 16), Image.LANCZOS)


def gradient(w, h, top, bottom):
    img = Image.new("RGBA", (w, h))
    d = ImageDraw.Draw(img)
    for y in range(h):
        t = y / max(1, h - 1)
        d.line([0, y, w, y], fill=tuple(int(top[i] + (bottom[i] - top[i]) * t) for i in range(3)) + (255,))
    return img


def banner():
    img = gradient(400, 80, (18, 70, 140), (40, 120, 200))
    img.alpha_composite(app_icon(64), (14, 8))
    d = ImageDraw.Draw(img)
    d.text((92, 16), NAME, font=ImageFont.truetype(FONT, 26), fill=(255, 255, 255, 255))
    d.text((94, 52), "网上银行证书USBKEY", font=ImageFont.truetype(FONT, 14), fill=(210, 230, 250, 255))
    return img


def about():
    img = gradient(280, 90, (240, 245, 252), (205, 222, 242))
    img.alpha_composite(app_icon(64), (14, 13))
    d = ImageDraw.Draw(img)
    d.text((90, 22), "QuorvelUSBKEY", font=ImageFont.truetype(FONT, 22), fill=BLUE)
    d.text((92, 54), "USBKEY管理工具", font=ImageFont.truetype(FONT, 16), fill=(60, 70, 90, 255))
    return img


def main():
    os.makedirs(OUT, exist_ok=True)
    save_ico(os.path.join(OUT, "app.ico"), [app_icon(s) for s in (128, 48, 32, 16)], png_from=48)
    save_ico(os.path.join(OUT, "cert.ico"), [cert_icon()])
    save_ico(os.path.join(OUT, "key.ico"), [usb_key_icon()])
    save_ico(os.path.join(OUT, "disc.ico"), [disc_icon()])
    save_bmp(os.path.join(OUT, "banner.bmp"), banner(), 24)
    save_bmp(os.path.join(OUT, "about.bmp"), about(), 32)
    # Previews for people, not for the build.
    for name, img in (("banner", banner()), ("about", about()), ("app", app_icon(128))):
        img.save(os.path.join("/tmp", "qrvl-preview-%s.png" % name))


if __name__ == "__main__":
    main()
