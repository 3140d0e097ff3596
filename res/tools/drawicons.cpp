// Draws Quorvane's tray and window icons as 16-colour .ico files (32x32 and 16x16 each).
// Regenerate with:
//   c++ -std=c++17 -O2 res/tools/drawicons.cpp -o /tmp/drawicons && /tmp/drawicons res/icons
// The icons are drawn rather than painted so that both sizes stay in step when the design changes.

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
    explicit Canvas(int s) : size(s), px(s * s, Clear) {}

    // Paints every pixel whose area is at least half inside the shape (4x4 supersampling),
    // which keeps small circles round without needing colours the palette lacks.
    void fill(const std::function<bool(double, double)>& inside, int colour) {
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
Canvas drawScope(int size, int face, int beam) {
    Canvas c(size);
    const double mid = size / 2.0;
    const double r = mid - 0.25;
    c.disc(mid, mid, r, Black);
    c.disc(mid, mid, r - size / 16.0, face);
    if (size >= 32) c.ring(mid, mid, r * 0.55, 1.0, Black);

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
            return along >= 0 && along <= reach && std::fabs(across) <= 0.75;
        },
        beam);

    // Echo blips: a bright pair at 32px, single pixels at 16px, away from the sweep.
    if (size >= 32) {
        const int blips[][2] = {{9, 11}, {21, 21}, {11, 20}};
        for (auto& b : blips) {
            c.dot(b[0], b[1], beam);
            c.dot(b[0] + 1, b[1], beam);
            c.dot(b[0], b[1] + 1, beam);
            c.dot(b[0] + 1, b[1] + 1, beam);
        }
    } else {
        const int blips[][2] = {{5, 5}, {10, 10}, {5, 10}};
        for (auto& b : blips) c.dot(b[0], b[1], beam);
    }
    c.disc(mid, mid, size >= 32 ? 1.5 : 1.0, beam);  // the transmitter at the centre
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
              writeIco(dir + "idle.ico", idle);
    if (!ok) std::fprintf(stderr, "could not write icons into %s\n", argv[1]);
    return ok ? 0 : 1;
}
