#!/usr/bin/env python3
"""Writes the seed corpora of the fuzz targets and the inputs that once failed (named
"regress-*"). Run from anywhere; needs cjpeg (libjpeg-turbo-progs) for the JPEG seeds.
Files that exist are overwritten; inputs found by fuzzing are added by hand, never here.
"""
import bz2
import gzip
import os
import shutil
import struct
import subprocess
import tempfile
import zipfile
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
DATA = os.path.join(HERE, '..', 'data')


def put(target, name, data):
    d = os.path.join(HERE, 'corpus', target)
    os.makedirs(d, exist_ok=True)
    with open(os.path.join(d, name), 'wb') as f:
        f.write(data)


# ---- images ----

def png_chunk(kind, body):
    return struct.pack('>I', len(body)) + kind + body + struct.pack('>I', zlib.crc32(kind + body) & 0xffffffff)


def png(width, height, color_type, depth, rows, interlace=0, extra=b''):
    ihdr = struct.pack('>IIBBBBB', width, height, depth, color_type, 0, 0, interlace)
    raw = b''.join(b'\0' + r for r in rows)
    return (b'\x89PNG\r\n\x1a\n' + png_chunk(b'IHDR', ihdr) + extra +
            png_chunk(b'IDAT', zlib.compress(raw)) + png_chunk(b'IEND', b''))


def adam7_rows(pixels, bpp):
    """Rows of the seven interlace passes of an image given as rows of pixel byte strings."""
    out = []
    h, w = len(pixels), len(pixels[0]) // bpp
    for x0, y0, dx, dy in [(0, 0, 8, 8), (4, 0, 8, 8), (0, 4, 4, 8), (2, 0, 4, 4), (0, 2, 2, 4), (1, 0, 2, 2), (0, 1, 1, 2)]:
        for y in range(y0, h, dy):
            row = b''.join(pixels[y][x * bpp:(x + 1) * bpp] for x in range(x0, w, dx))
            if row:
                out.append(row)
    return out


def gif_lzw_fixed(indices, min_size):
    """LZW data that clears the table every two codes, so every code keeps min_size + 1 bits."""
    clear, eoi, bits = 1 << min_size, (1 << min_size) + 1, min_size + 1
    codes = []
    for i, p in enumerate(indices):
        if i % 2 == 0:
            codes.append(clear)
        codes.append(p)
    codes.append(eoi)
    acc = n = 0
    out = bytearray()
    for c in codes:
        acc |= c << n
        n += bits
        while n >= 8:
            out.append(acc & 0xff)
            acc >>= 8
            n -= 8
    if n:
        out.append(acc & 0xff)
    blocks = b''.join(bytes([len(out[i:i + 255])]) + bytes(out[i:i + 255]) for i in range(0, len(out), 255))
    return bytes([min_size]) + blocks + b'\0'


def gif(width, height, palette, frame, indices, interlace=False, transparent=None, local=False):
    size_bits = max(1, (len(palette) - 1).bit_length()) - 1
    table = b''.join(bytes(c) for c in palette) + b'\0\0\0' * ((2 << size_bits) - len(palette))
    out = b'GIF89a' + struct.pack('<HHBBB', width, height, 0 if local else 0x80 | size_bits, 1 if not local else 0, 0)
    if not local:
        out += table
    if transparent is not None:
        out += b'\x21\xf9\x04\x01\0\0' + bytes([transparent]) + b'\0'
    x, y, w, h = frame
    flags = (0x40 if interlace else 0) | ((0x80 | size_bits) if local else 0)
    out += b',' + struct.pack('<HHHHB', x, y, w, h, flags)
    if local:
        out += table
    return out + gif_lzw_fixed(indices, max(2, size_bits + 1)) + b';'


def bmp24(width, height, pixel):
    row = bytes(pixel) * width
    row += b'\0' * ((4 - len(row) % 4) % 4)
    body = row * height
    header = struct.pack('<2sIHHI', b'BM', 54 + len(body), 0, 0, 54)
    info = struct.pack('<IiiHHIIiiII', 40, width, height, 1, 24, 0, len(body), 2835, 2835, 0, 0)
    return header + info + body


def bmp(width, height, bits, rows, palette=b'', compression=0, masks=b'', header_size=40):
    """A BMP of the given rows (bytes each, padded here to 4); palette as BGRX bytes."""
    body = b''.join(r + b'\0' * ((4 - len(r) % 4) % 4) for r in rows)
    info = struct.pack('<IiiHHIIiiII', header_size, width, height, 1, bits, compression, len(body), 2835, 2835,
                       len(palette) // 4, 0)
    info += masks
    info += b'\0' * (header_size - len(info)) if header_size > len(info) else b''
    offset = 14 + len(info) + len(palette)
    return struct.pack('<2sIHHI', b'BM', offset + len(body), 0, 0, offset) + info + palette + body


def cjpeg(ppm, *args):
    with tempfile.NamedTemporaryFile(suffix='.ppm') as f:
        f.write(ppm)
        f.flush()
        return subprocess.run(['cjpeg', *args, f.name], check=True, capture_output=True).stdout


def ppm(width, height, gray=False):
    px = bytearray()
    for y in range(height):
        for x in range(width):
            px += bytes([(x * 255) // width]) if gray else bytes([(x * 255) // width, (y * 255) // height, ((x ^ y) * 16) & 255])
    return (b'P5' if gray else b'P6') + b' %d %d 255\n' % (width, height) + bytes(px)


def bitmap():
    put('bitmap', 'png-rgba-4x3.png', open(os.path.join(DATA, 'BitmapRgba4x3.png'), 'rb').read())
    put('bitmap', 'png-palette-trns.png',
        png(3, 2, 3, 8, [b'\0\1\2', b'\2\1\0'],
            extra=png_chunk(b'PLTE', b'\xff\0\0\0\xff\0\0\0\xff') + png_chunk(b'tRNS', b'\x80')))
    put('bitmap', 'png-gray16.png', png(2, 2, 0, 16, [b'\x12\x34\xff\xff', b'\0\0\x80\0']))
    put('bitmap', 'png-gray1.png', png(9, 1, 0, 1, [b'\xaa\x80']))
    rgb = [bytes([x * 30, y * 30, 99]) * 1 for y in range(9) for x in range(9)]
    rows = [b''.join(rgb[y * 9:(y + 1) * 9]) for y in range(9)]
    put('bitmap', 'png-interlaced-9x9.png', png(9, 9, 2, 8, adam7_rows(rows, 3), interlace=1))
    put('bitmap', 'jpeg-blocks-16x8.jpg', open(os.path.join(DATA, 'BitmapBlocks16x8.jpg'), 'rb').read())
    put('bitmap', 'jpeg-420-24x16.jpg', cjpeg(ppm(24, 16), '-quality', '75'))
    put('bitmap', 'jpeg-progressive-24x16.jpg', cjpeg(ppm(24, 16), '-progressive'))
    # Whole-image coefficient buffers: 6 bytes a pixel at 4:4:4, more than the 4 of the result.
    put('bitmap', 'jpeg-progressive-444-64x64.jpg', cjpeg(ppm(64, 64), '-progressive', '-sample', '1x1'))
    put('bitmap', 'jpeg-444-64x64.jpg', cjpeg(ppm(64, 64), '-sample', '1x1'))
    put('bitmap', 'jpeg-restart-gray-16x16.jpg', cjpeg(ppm(16, 16, gray=True), '-restart', '1B', '-grayscale'))
    put('bitmap', 'jpeg-arithmetic-16x8.jpg', cjpeg(ppm(16, 8), '-arithmetic'))
    red_black = [(255, 0, 0), (0, 0, 0)]
    put('bitmap', 'gif-1x1.gif', gif(1, 1, red_black, (0, 0, 1, 1), [0]))
    put('bitmap', 'gif-interlaced-transparent-4x4.gif',
        gif(4, 4, [(255, 0, 0), (0, 255, 0), (0, 0, 255), (9, 9, 9)], (0, 0, 4, 4), [k for k in range(4) for _ in range(4)],
            interlace=True, transparent=3))
    put('bitmap', 'gif-local-table-frame-inside.gif',
        gif(5, 5, red_black, (1, 1, 3, 2), [1, 0, 1, 0, 1, 0], local=True))
    put('bitmap', 'bmp-24-3x2.bmp', bmp24(3, 2, (10, 20, 30)))
    pal4 = b'\0\0\xff\0' b'\0\xff\0\0' b'\xff\0\0\0' b'\x80\x80\x80\0'
    put('bitmap', 'bmp-8-palette-4x2.bmp', bmp(4, 2, 8, [b'\0\1\2\3', b'\3\2\1\0'], pal4))
    put('bitmap', 'bmp-1-bit-9x2.bmp', bmp(9, 2, 1, [b'\xaa\x80', b'\x55\x00'], b'\0\0\0\0\xff\xff\xff\0'))
    put('bitmap', 'bmp-4-bit-3x1.bmp', bmp(3, 1, 4, [b'\x01\x20'], pal4))
    put('bitmap', 'bmp-24-top-down-2x2.bmp', bmp(2, -2, 24, [b'\1\2\3\4\5\6', b'\7\x08\x09\x0a\x0b\x0c']))
    argb = struct.pack('<IIII', 0x00ff0000, 0x0000ff00, 0x000000ff, 0xff000000)
    put('bitmap', 'bmp-32-bitfields-v3-2x1.bmp', bmp(2, 1, 32, [b'\1\2\3\x80\4\5\6\xff'], compression=3, masks=argb,
                                                    header_size=56))
    put('bitmap', 'bmp-32-v5-2x1.bmp', bmp(2, 1, 32, [b'\1\2\3\x40\4\5\6\x00'], compression=3, masks=argb,
                                            header_size=124))
    put('bitmap', 'bmp-16-565-2x1.bmp', bmp(2, 1, 16, [b'\x1f\x00\xe0\x07'], compression=3,
                                           masks=struct.pack('<III', 0xf800, 0x07e0, 0x001f), header_size=40))
    put('bitmap', 'bmp-rle8-2x1.bmp', bmp(2, 1, 8, [b'\x02\x01\x00\x01'], pal4, compression=1))
    # Inputs that once made the old decoder write or read out of bounds, or allocate 2 GB.
    put('bitmap', 'regress-jpeg-dht-overflow.jpg', bytes.fromhex('ffd8ffc4001310') + b'\x11' * 16)
    put('bitmap', 'regress-gif-16898x13645.gif',
        b'GIF89a' + struct.pack('<HH', 16898, 13645) + b'\x80\0\0' + b'\xff\0\0\0\0\0' +
        b',\0\0\0\0' + struct.pack('<HH', 16898, 13645) + b'\0\x02\x01D\0;')
    jpeg = open(os.path.join(DATA, 'BitmapBlocks16x8.jpg'), 'rb').read()
    put('bitmap', 'regress-jpeg-undefined-table.jpg', jpeg_without_dht_using_table(jpeg, 3))
    put('bitmap', 'regress-jpeg-cut-scan.jpg', jpeg[:jpeg.index(b'\xff\xda') + 14 + 4])


def jpeg_segments(data):
    i, out = 2, []
    while i < len(data):
        marker, length = data[i + 1], struct.unpack('>H', data[i + 2:i + 4])[0]
        out.append((marker, i, i + 2 + length))
        if marker == 0xDA:
            break
        i += 2 + length
    return out


def jpeg_without_dht_using_table(data, table):
    """The JPEG with every DHT dropped and each scan component asking for table `table`."""
    out = bytearray(data[:2])
    segs = jpeg_segments(data)
    for marker, start, end in segs:
        seg = bytearray(data[start:end])
        if marker == 0xC4:
            continue
        if marker == 0xDA:
            for c in range(seg[4]):
                seg[6 + 2 * c] = table << 4 | table
            out += seg + data[end:]
            return bytes(out)
        out += seg
    return bytes(out)


# ---- zip ----

def zip_bytes(entries, method=zipfile.ZIP_DEFLATED):
    path = tempfile.mktemp(suffix='.zip')
    with zipfile.ZipFile(path, 'w', compression=method) as z:
        for name, data in entries:
            z.writestr(zipfile.ZipInfo(name, date_time=(2020, 1, 1, 0, 0, 0)), data, compress_type=method)
    data = open(path, 'rb').read()
    os.remove(path)
    return data


def zip_overlapping(records, size):
    """One deflated entry of `size` zeros and `records` directory records all pointing at it."""
    body = zlib.compressobj(9, zlib.DEFLATED, -15)
    packed = body.compress(b'\0' * size) + body.flush()
    crc = zlib.crc32(b'\0' * size) & 0xffffffff
    local = struct.pack('<IHHHHHIIIHH', 0x04034b50, 20, 0, 8, 0, 0x21, crc, len(packed), size, 1, 0) + b'z' + packed
    central = b''
    for i in range(records):
        name = b'e%04d' % i
        central += struct.pack('<IHHHHHHIIIHHHHHII', 0x02014b50, 20, 20, 0, 8, 0, 0x21, crc, len(packed), size,
                               len(name), 0, 0, 0, 0, 0, 0) + name
    end = struct.pack('<IHHHHIIH', 0x06054b50, 0, 0, records, records, len(central), len(local), 0)
    return local + central + end


def zip_corpus():
    put('zip', 'two-entries.zip', zip_bytes([('a.txt', b'hello ' * 40), ('dir/b.bin', bytes(range(256)))]))
    put('zip', 'stored.zip', zip_bytes([('s', b'stored data')], zipfile.ZIP_STORED))
    put('zip', 'empty.zip', b'PK\x05\x06' + b'\0' * 18)
    put('zip', 'two-records-one-entry.zip', zip_overlapping(2, 1000))
    put('zip', 'regress-1000-records-one-entry.zip', zip_overlapping(1000, 1 << 20))
    # One bzip2 entry of 2 GiB of zeros in under 2 KB.
    path = tempfile.mktemp(suffix='.zip')
    with zipfile.ZipFile(path, 'w', compression=zipfile.ZIP_BZIP2, compresslevel=9) as z:
        with z.open('zeros.bin', 'w', force_zip64=True) as f:
            chunk = bytes(1 << 24)
            for _ in range(128):
                f.write(chunk)
    put('zip', 'regress-bzip2-2gib-zeros.zip', open(path, 'rb').read())
    os.remove(path)


def zlib_corpus():
    text = b'The quick brown fox jumps over the lazy dog. ' * 20
    put('zlib', 'zlib-text', zlib.compress(text))
    put('zlib', 'zlib-stored', zlib.compress(b'abc', 0))
    put('zlib', 'gzip-text', gzip.compress(text, mtime=0))
    put('zlib', 'zlib-empty', zlib.compress(b''))
    put('zlib', 'zlib-cut', zlib.compress(text)[:30])
    put('zlib', 'zlib-zeros-1m', zlib.compress(b'\0' * (1 << 20), 9))


def form_corpus():
    put('form', 'dummy-camera.txt', b"""object Root: TComponent
  object Dummy1: TDummy
    Position.X = 1.500000000000000000
    Position.Y = -2.000000000000000000
    object Camera1: TCamera
      Tag = 7
    end
  end
  object Light1: TLight
    Color = claWhite
  end
end
""")
    put('form', 'values.txt', b"""object Root: TComponent
  Tag = $10
  object Timer1: TTimer
    Interval = 250
    Enabled = False
  end
end
""")
    put('form', 'strings-sets-binary.txt',
        b"object Root: TComponent\n  Name = 'A' + 'b'#39'c'\n  X = [a, b]\n  Y = {00FF}\n  Z = (1 2.5e3 'x')\n"
        b"  W = <\n    item\n      V = 1\n    end>\nend\n")


def json_corpus():
    put('json', 'object.json', b'{"a":{"b":[1,2.5e-3,true,null,"x\\u00e9\\n"]},"c":-0}')
    put('json', 'array.json', b'[[],{},"",0,-1.0E+2,false]')
    put('json', 'deep.json', b'[' * 64 + b']' * 64)
    put('json', 'bad.json', b'{"a":[1,2,}')


if __name__ == '__main__':
    bitmap()
    zip_corpus()
    zlib_corpus()
    form_corpus()
    json_corpus()
