// Draws Quorvane's tray and window icons as 16-colour .ico files (32x32 and 16x16 each), and the
// program's icon for the desktop's icon theme: the same 16 and 32 pixel art as PNG, larger sizes
// drawn smooth in true colour, and a scalable SVG. Regenerate with:
//   cmake --build --preset dev --target drawicons && build/dev/res/drawicons res/icons
// The icons are drawn rather than painted so that every size stays in step when the design
// changes. The output is the same bytes on every run.

#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

namespace {

// Standard 16-colour VGA palette indices.
enum Colour : int {
    Clear = -1,
    Black = 0,
    DarkRed = 1,
    DarkGreen = 2,
    White = 15,
    Red = 9,
    Green = 10
};

const uint8_t kPalette[16][3] = {
    // r, g, b
    {0x00, 0x00, 0x00}, {0x80, 0x00, 0x00}, {0x00, 0x80, 0x00}, {0x80, 0x80, 0x00},
    {0x00, 0x00, 0x80}, {0x80, 0x00, 0x80}, {0x00, 0x80, 0x80}, {0xc0, 0xc0, 0xc0},
    {0x80, 0x80, 0x80}, {0xff, 0x00, 0x00}, {0x00, 0xff, 0x00}, {0xff, 0xff, 0x00},
    {0x00, 0x00, 0xff}, {0xff, 0x00, 0xff}, {0x00, 0xff, 0xff}, {0xff, 0xff, 0xff},
};

const double kPi = 3.14159265358979323846;

// A square of palette indices; coordinates are continuous, y grows downwards.
struct Canvas {
    int size;
    std::vector<int> px;
    // Smooth canvases keep true colour with coverage as alpha (straight, 0..1) instead.
    bool smooth = false;
    std::vector<double> rgba;
    explicit Canvas(int s, bool bSmooth = false)
        : size(s), px(s * s, Clear), smooth(bSmooth), rgba(bSmooth ? s * s * 4 : 0, 0.0) {}

    // Paints every pixel whose area is at least half inside the shape (4x4 supersampling),
    // which keeps small circles round without needing colours the palette lacks.
    void fill(const std::function<bool(double, double)>& inside, int colour) {
        if (smooth) return fillSmooth(inside, colour);
        for (int y = 0; y < size; ++y) {
            for (int x = 0; x < size; ++x) {
                int hits = 0;
                for (int sy = 0; sy < 4; ++sy)
                    for (int sx = 0; sx < 4; ++sx)
                        hits += inside(x + (sx + 0.5) / 4, y + (sy + 0.5) / 4);
                if (hits >= 8) px[y * size + x] = colour;
            }
        }
    }
    // The share of each pixel inside the shape (8x8 samples), painted over what is there.
    void fillSmooth(const std::function<bool(double, double)>& inside, int colour) {
        for (int y = 0; y < size; ++y) {
            for (int x = 0; x < size; ++x) {
                int hits = 0;
                for (int sy = 0; sy < 8; ++sy)
                    for (int sx = 0; sx < 8; ++sx)
                        hits += inside(x + (sx + 0.5) / 8, y + (sy + 0.5) / 8);
                if (hits == 0) continue;
                const double cover = hits / 64.0;
                double* p = &rgba[(y * size + x) * 4];
                const double alpha = cover + p[3] * (1 - cover);
                for (int i = 0; i < 3; ++i)
                    p[i] =
                        (kPalette[colour][i] / 255.0 * cover + p[i] * p[3] * (1 - cover)) / alpha;
                p[3] = alpha;
            }
        }
    }
    void rect(double x0, double y0, double x1, double y1, int colour) {
        fill([=](double x, double y) { return x >= x0 && x <= x1 && y >= y0 && y <= y1; }, colour);
    }
    void disc(double cx, double cy, double r, int colour) {
        fill([=](double x, double y) { return std::hypot(x - cx, y - cy) <= r; }, colour);
    }
    void ring(double cx, double cy, double r, double width, int colour) {
        fill([=](double x,
                 double y) { return std::fabs(std::hypot(x - cx, y - cy) - r) <= width / 2; },
             colour);
    }
    void dot(int x, int y, int colour) { px[y * size + x] = colour; }
};

// The sonar scope: disc, rim, range ring, sweep wedge and echo blips.
// From 32 pixels on, the 32 pixel design scaled by k; smooth draws it anti-aliased.
Canvas drawScope(int size, int face, int beam, bool smooth = false) {
    Canvas c(size, smooth);
    const double k = size >= 32 ? size / 32.0 : 1.0;
    const double mid = size / 2.0;
    const double r = mid - 0.25 * k;
    c.disc(mid, mid, r, Black);
    c.disc(mid, mid, r - size / 16.0, face);
    if (size >= 32) c.ring(mid, mid, r * 0.55, k, Black);

    // Wedge trailing anticlockwise behind a leading edge pointing up-right.
    const double lead = -kPi / 4;
    const double spread = size >= 32 ? kPi / 5 : kPi / 4;
    const double reach = r - size / 16.0;
    c.fill(
        [=](double x, double y) {
            double a = std::atan2(y - mid, x - mid);
            double behind = std::remainder(a - lead, 2 * kPi);
            return std::hypot(x - mid, y - mid) <= reach && behind >= 0 && behind <= spread;
        },
        beam);
    // A solid leading edge so the beam still reads as a line right down to the centre.
    c.fill(
        [=](double x, double y) {
            double along = (x - mid) * std::cos(lead) + (y - mid) * std::sin(lead);
            double across = -(x - mid) * std::sin(lead) + (y - mid) * std::cos(lead);
            return along >= 0 && along <= reach && std::fabs(across) <= 0.75 * k;
        },
        beam);

    // Echo blips: a bright pair at 32px, single pixels at 16px, away from the sweep.
    if (size >= 32) {
        const int blips[][2] = {{9, 11}, {21, 21}, {11, 20}};
        for (auto& b : blips) c.rect(b[0] * k, b[1] * k, (b[0] + 2) * k, (b[1] + 2) * k, beam);
    } else {
        const int blips[][2] = {{5, 5}, {10, 10}, {5, 10}};
        for (auto& b : blips) c.dot(b[0], b[1], beam);
    }
    c.disc(mid, mid, size >= 32 ? 1.5 * k : 1.0, beam);  // the transmitter at the centre
    return c;
}

// A red stop octagon with a white bar, tucked in the lower left corner.
void drawStopBadge(Canvas& c) {
    const int s = c.size;
    const double r = s >= 32 ? 7.5 : 4.0;
    const double cx = r, cy = s - r;
    auto octagon = [=](double grow) {
        return [=](double x, double y) {
            double dx = std::fabs(x - cx), dy = std::fabs(y - cy);
            double lim = r + grow;
            return dx <= lim && dy <= lim && dx + dy <= lim * 1.414;
        };
    };
    c.fill(octagon(0), DarkRed);
    c.fill(octagon(s >= 32 ? -1.0 : -0.5), Red);
    const double halfW = s >= 32 ? 4.5 : 2.5, halfH = s >= 32 ? 1.0 : 0.5;
    c.fill([=](double x,
               double y) { return std::fabs(x - cx) <= halfW && std::fabs(y - cy) <= halfH; },
           White);
}

void put16(std::string& out, unsigned v) {
    out += char(v & 0xff);
    out += char((v >> 8) & 0xff);
}
void put32(std::string& out, unsigned v) {
    put16(out, v & 0xffff);
    put16(out, v >> 16);
}

// BITMAPINFOHEADER, palette, 4-bpp colour rows, then the 1-bpp transparency mask; bottom-up.
std::string encodeBitmap(const Canvas& c) {
    const int s = c.size;
    const int xorStride = (s / 2 + 3) / 4 * 4;
    const int andStride = (s / 8 + 3) / 4 * 4;
    std::string out;
    put32(out, 40);
    put32(out, s);
    put32(out, 2 * s);  // height counts both bitmaps
    put16(out, 1);
    put16(out, 4);
    put32(out, 0);
    put32(out, (xorStride + andStride) * s);
    put32(out, 0);
    put32(out, 0);
    put32(out, 16);
    put32(out, 0);
    for (auto& rgb : kPalette) {
        out += char(rgb[2]);
        out += char(rgb[1]);
        out += char(rgb[0]);
        out += char(0);
    }
    for (int y = s - 1; y >= 0; --y) {
        std::string row(xorStride, '\0');
        for (int x = 0; x < s; ++x) {
            int v = c.px[y * s + x];
            row[x / 2] |= char((v < 0 ? 0 : v) << (x % 2 ? 0 : 4));
        }
        out += row;
    }
    for (int y = s - 1; y >= 0; --y) {
        std::string row(andStride, '\0');
        for (int x = 0; x < s; ++x)
            if (c.px[y * s + x] < 0) row[x / 8] |= char(0x80 >> (x % 8));
        out += row;
    }
    return out;
}

bool writeIco(const std::string& path, const std::vector<Canvas>& images) {
    std::string head, body;
    put16(head, 0);
    put16(head, 1);
    put16(head, unsigned(images.size()));
    unsigned offset = 6 + 16 * unsigned(images.size());
    for (const Canvas& c : images) {
        std::string bmp = encodeBitmap(c);
        head += char(c.size);
        head += char(c.size);
        head += char(16);
        head += char(0);
        put16(head, 1);
        put16(head, 4);
        put32(head, unsigned(bmp.size()));
        put32(head, offset);
        offset += unsigned(bmp.size());
        body += bmp;
    }
    std::ofstream f(path, std::ios::binary);
    f << head << body;
    return bool(f);
}

uint32_t crc32(const std::string& data) {
    uint32_t crc = 0xffffffffu;
    for (unsigned char b : data) {
        crc ^= b;
        for (int i = 0; i < 8; ++i) crc = (crc >> 1) ^ (0xedb88320u & (0u - (crc & 1)));
    }
    return ~crc;
}

void putBig32(std::string& out, uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8) out += char((v >> shift) & 0xff);
}

void chunk(std::string& png, const char* type, const std::string& data) {
    putBig32(png, uint32_t(data.size()));
    std::string body = std::string(type, 4) + data;
    png += body;
    putBig32(png, crc32(body));
}

// RGBA rows, 8 bits a channel, in a zlib stream of stored (uncompressed) deflate blocks: the
// icons are small, and the encoder stays a few lines.
bool writePng(const std::string& path, const Canvas& c) {
    std::string raw;
    for (int y = 0; y < c.size; ++y) {
        raw += char(0);  // no filter
        for (int x = 0; x < c.size; ++x) {
            const int i = y * c.size + x;
            if (c.smooth) {
                const double* p = &c.rgba[i * 4];
                for (int k = 0; k < 4; ++k) raw += char(std::lround(p[k] * 255));
            } else if (c.px[i] < 0) {
                raw += std::string(4, '\0');
            } else {
                for (int k = 0; k < 3; ++k) raw += char(kPalette[c.px[i]][k]);
                raw += char(0xff);
            }
        }
    }
    std::string z = "\x78\x01";
    for (size_t at = 0; at < raw.size() || at == 0; at += 65535) {
        const size_t n = std::min<size_t>(65535, raw.size() - at);
        z += char(at + n == raw.size() ? 1 : 0);
        put16(z, unsigned(n));
        put16(z, unsigned(~n & 0xffff));
        z += raw.substr(at, n);
    }
    uint32_t a = 1, b = 0;
    for (unsigned char ch : raw) {
        a = (a + ch) % 65521;
        b = (b + a) % 65521;
    }
    putBig32(z, (b << 16) | a);

    std::string ihdr;
    putBig32(ihdr, uint32_t(c.size));
    putBig32(ihdr, uint32_t(c.size));
    ihdr += "\x08\x06";            // 8 bits, RGBA
    ihdr += std::string(3, '\0');  // deflate, adaptive filtering, no interlace
    std::string png = "\x89PNG\r\n\x1a\n";
    chunk(png, "IHDR", ihdr);
    chunk(png, "IDAT", z);
    chunk(png, "IEND", "");
    std::ofstream f(path, std::ios::binary);
    f << png;
    return bool(f);
}

std::string hexColour(int colour) {
    char text[8];
    std::snprintf(text, sizeof text, "#%02x%02x%02x", kPalette[colour][0], kPalette[colour][1],
                  kPalette[colour][2]);
    return text;
}

// The main icon's 32 pixel design as vector shapes on a 32 unit canvas.
bool writeSvg(const std::string& path) {
    const double mid = 16, r = 15.75, reach = r - 2;
    const double lead = -kPi / 4, spread = kPi / 5;
    auto point = [&](double angle, double radius) {
        char text[64];
        std::snprintf(text, sizeof text, "%.3f %.3f", mid + radius * std::cos(angle),
                      mid + radius * std::sin(angle));
        return std::string(text);
    };
    const std::string dark = hexColour(DarkGreen), bright = hexColour(Green);
    std::string svg;
    svg += "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
    svg +=
        "<svg xmlns=\"http://www.w3.org/2000/svg\" version=\"1.1\" width=\"32\" height=\"32\" "
        "viewBox=\"0 0 32 32\">\n";
    svg += "  <title>Quorvane</title>\n";
    svg += "  <circle cx=\"16\" cy=\"16\" r=\"15.75\" fill=\"#000000\"/>\n";
    char disc[120];
    std::snprintf(disc, sizeof disc, "  <circle cx=\"16\" cy=\"16\" r=\"%.3f\" fill=\"%s\"/>\n",
                  reach, dark.c_str());
    svg += disc;
    char ring[160];
    std::snprintf(ring, sizeof ring,
                  "  <circle cx=\"16\" cy=\"16\" r=\"%.3f\" fill=\"none\" stroke=\"#000000\" "
                  "stroke-width=\"1\"/>\n",
                  r * 0.55);
    svg += ring;
    // The sweep: a wedge trailing behind its leading edge, and the edge itself as a bar.
    char sweep[400];
    std::snprintf(sweep, sizeof sweep,
                  "  <path d=\"M 16 16 L %s A %.3f %.3f 0 0 1 %s Z\" fill=\"%s\"/>\n"
                  "  <path d=\"M 16 16 L %s\" stroke=\"%s\" stroke-width=\"1.5\"/>\n",
                  point(lead, reach).c_str(), reach, reach, point(lead + spread, reach).c_str(),
                  bright.c_str(), point(lead, reach).c_str(), bright.c_str());
    svg += sweep;
    for (auto& b : {std::pair<int, int>{9, 11}, {21, 21}, {11, 20}})
        svg += "  <rect x=\"" + std::to_string(b.first) + "\" y=\"" + std::to_string(b.second) +
               "\" width=\"2\" height=\"2\" fill=\"" + bright + "\"/>\n";
    svg += "  <circle cx=\"16\" cy=\"16\" r=\"1.5\" fill=\"" + bright + "\"/>\n";
    svg += "</svg>\n";
    std::ofstream f(path, std::ios::binary);
    f << svg;
    return bool(f);
}

bool makeDirs(const std::string& path) {
    std::string at;
    for (size_t i = 0; i <= path.size(); ++i) {
        if (i == path.size() || path[i] == '/') {
            if (!at.empty()) mkdir(at.c_str(), 0755);
        }
        if (i < path.size()) at += path[i];
    }
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// The program's icon in the desktop's icon theme: hicolor/<n>x<n>/apps and scalable/apps.
bool writeTheme(const std::string& dir, const std::vector<Canvas>& pixelArt) {
    bool ok = true;
    auto place = [&](const std::string& size) {
        const std::string sub = dir + "hicolor/" + size + "/apps";
        ok = makeDirs(sub) && ok;
        return sub + "/quorvane";
    };
    for (const Canvas& c : pixelArt) {
        const std::string n = std::to_string(c.size);
        ok = writePng(place(n + "x" + n) + ".png", c) && ok;
    }
    for (int size : {48, 64, 128, 256}) {
        const std::string n = std::to_string(size);
        ok = writePng(place(n + "x" + n) + ".png", drawScope(size, DarkGreen, Green, true)) && ok;
    }
    return writeSvg(place("scalable") + ".svg") && ok;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <output-directory>\n", argv[0]);
        return 2;
    }
    const std::string dir = std::string(argv[1]) + "/";
    std::vector<Canvas> main, pinging, idle;
    for (int size : {32, 16}) {
        main.push_back(drawScope(size, DarkGreen, Green));
        pinging.push_back(drawScope(size, Green, DarkGreen));
        idle.push_back(drawScope(size, DarkGreen, Green));
        drawStopBadge(idle.back());
    }
    bool ok = writeIco(dir + "main.ico", main) && writeIco(dir + "pinging.ico", pinging) &&
              writeIco(dir + "idle.ico", idle) && writeTheme(dir, main);
    if (!ok) std::fprintf(stderr, "could not write icons into %s\n", argv[1]);
    return ok ? 0 : 1;
}
