// Draws Quorvane's tray and window icons, and the program's icon for the desktop's icon theme:
// - each .ico holds the classic pixel art first (32x32 and 16x16 in 16 colours, what a
//   16-colour display shows), then the true-colour pictures with alpha at every size a tray or
//   a window asks for, up to 256 pixels (stored as PNG, as the system expects at that size);
// - each picture as a scalable SVG, drawn from the same shapes as its true-colour pixels;
// - the program's icon in the hicolor theme, at the theme's sizes and scalable.
// Regenerate with:
//   cmake --build --preset dev --target drawicons && build/dev/res/drawicons res/icons
// The icons are drawn rather than painted so that every size stays in step when the design
// changes. The output is the same bytes on every run.

#include <sys/stat.h>

#include <algorithm>
#include <array>
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

// ---- The classic pixel art: 16 colours, every pixel either painted or clear ----

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
// From 32 pixels on, the 32 pixel design scaled by k.
Canvas drawScope(int size, int face, int beam) {
    Canvas c(size);
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

// ---- The true-colour pictures: one list of shapes, rasterised at each size or written as SVG ----

enum class Picture { Waiting, Probing, Idle };

struct Rgba {
    uint8_t r, g, b;
    double a;
};

const Rgba kHalo{0xff, 0xff, 0xff, 0.85};
const Rgba kRim{0x00, 0x00, 0x00, 1};
const Rgba kDark{0x00, 0x80, 0x00, 1};
const Rgba kBright{0x00, 0xff, 0x00, 1};
const Rgba kWhite{0xff, 0xff, 0xff, 1};
const Rgba kStop{0xff, 0x00, 0x00, 1};

struct Shape {
    enum Kind { Disc, Ring, Wedge, Bar, Box, Octagon } kind;
    // Disc, Ring, Octagon: centre x, y and radius (Ring: to the middle of its width).
    // Wedge: centre, radius, start angle and sweep. Bar: from x, y to x2, y2. Box: x, y, x2, y2.
    double x, y, r, x2, y2;
    double width;  // Ring and Bar
    Rgba colour;

    bool inside(double px, double py) const {
        switch (kind) {
            case Disc:
                return std::hypot(px - x, py - y) <= r;
            case Ring:
                return std::fabs(std::hypot(px - x, py - y) - r) <= width / 2;
            case Wedge: {
                const double behind = std::remainder(std::atan2(py - y, px - x) - x2, 2 * kPi);
                return std::hypot(px - x, py - y) <= r && behind >= 0 && behind <= y2;
            }
            case Bar: {
                const double len = std::hypot(x2 - x, y2 - y);
                const double ux = (x2 - x) / len, uy = (y2 - y) / len;
                const double along = (px - x) * ux + (py - y) * uy;
                const double across = -(px - x) * uy + (py - y) * ux;
                return along >= 0 && along <= len && std::fabs(across) <= width / 2;
            }
            case Box:
                return px >= x && px <= x2 && py >= y && py <= y2;
            case Octagon: {
                const double dx = std::fabs(px - x), dy = std::fabs(py - y);
                return dx <= r && dy <= r && dx + dy <= r * 1.414;
            }
        }
        return false;
    }
    // What it may touch, for rasterising only there.
    void bounds(double& x0, double& y0, double& x1, double& y1) const {
        if (kind == Bar || kind == Box) {
            const double grow = kind == Bar ? width / 2 : 0;
            x0 = std::min(x, x2) - grow, x1 = std::max(x, x2) + grow;
            y0 = std::min(y, y2) - grow, y1 = std::max(y, y2) + grow;
            return;
        }
        const double reach = r + (kind == Ring ? width / 2 : 0);
        x0 = x - reach, y0 = y - reach, x1 = x + reach, y1 = y + reach;
    }
};

// The picture at a size in pixels, as shapes in pixel coordinates. Lines are never thinner
// than a pixel, and the blips sit on whole pixels, so the small sizes stay crisp; from 32
// pixels on it is the 32 unit design scaled. The scalable picture is the 32 pixel one.
//   - a light halo outside a black rim: the disc stands out on light and dark panels alike;
//   - waiting: dark disc, bright sweep and blips;
//   - probing: bright disc, dark sweep and blips, a white leading edge, centre and range ring:
//     it differs in shape and brightness, not only in colour;
//   - idle: the waiting scope with a red stop badge, outlined white, in the lower left corner.
std::vector<Shape> design(Picture picture, int size) {
    const double u = size / 32.0;
    auto atLeastPixel = [&](double units) { return std::max(1.0, units * u); };
    const double mid = size / 2.0;
    const double halo = atLeastPixel(1), rim = atLeastPixel(1.5);
    const double face = mid - halo - rim;
    const bool probing = picture == Picture::Probing;
    const Rgba disc = probing ? kBright : kDark, beam = probing ? kDark : kBright;
    const Rgba accent = probing ? kWhite : kBright;
    const double lead = -kPi / 4, spread = kPi / 5;

    std::vector<Shape> shapes;
    shapes.push_back({Shape::Disc, mid, mid, mid, 0, 0, 0, kHalo});
    shapes.push_back({Shape::Disc, mid, mid, mid - halo, 0, 0, 0, kRim});
    shapes.push_back({Shape::Disc, mid, mid, face, 0, 0, 0, disc});
    shapes.push_back({Shape::Ring, mid, mid, face * 0.6, 0, 0,
                      probing ? atLeastPixel(2) : atLeastPixel(1), probing ? kWhite : kRim});
    shapes.push_back({Shape::Wedge, mid, mid, face, lead, spread, 0, beam});
    shapes.push_back({Shape::Bar, mid, mid, 0, mid + face * std::cos(lead),
                      mid + face * std::sin(lead), atLeastPixel(1.5), accent});
    const double blip = std::max(1.0, std::round(2 * u));
    for (auto& b : {std::array<int, 2>{9, 11}, {21, 21}, {11, 20}}) {
        const double bx = std::round(b[0] * u), by = std::round(b[1] * u);
        shapes.push_back({Shape::Box, bx, by, 0, bx + blip, by + blip, 0, beam});
    }
    shapes.push_back({Shape::Disc, mid, mid, atLeastPixel(1.5), 0, 0, 0, accent});

    if (picture == Picture::Idle) {
        const double r = size * 0.3, outline = atLeastPixel(1);
        const double cx = r, cy = size - r;
        shapes.push_back({Shape::Octagon, cx, cy, r, 0, 0, 0, kWhite});
        shapes.push_back({Shape::Octagon, cx, cy, r - outline, 0, 0, 0, kStop});
        const double halfW = r * 0.6, halfH = std::max(0.5, r * 0.14);
        shapes.push_back(
            {Shape::Box, cx - halfW, cy - halfH, 0, cx + halfW, cy + halfH, 0, kWhite});
    }
    return shapes;
}

// Straight (not premultiplied) RGBA, 0..1.
struct Image {
    int size;
    std::vector<double> rgba;
    explicit Image(int s) : size(s), rgba(size_t(s) * s * 4, 0.0) {}
    uint8_t byte(int x, int y, int channel) const {
        return uint8_t(std::lround(rgba[(size_t(y) * size + x) * 4 + channel] * 255));
    }
};

// Each shape covers each pixel by the share of 8x8 samples inside it, painted over what is
// there.
Image render(Picture picture, int size) {
    Image image(size);
    for (const Shape& shape : design(picture, size)) {
        double bx0, by0, bx1, by1;
        shape.bounds(bx0, by0, bx1, by1);
        const int x0 = std::max(0, int(std::floor(bx0))), y0 = std::max(0, int(std::floor(by0)));
        const int x1 = std::min(size - 1, int(std::ceil(bx1))),
                  y1 = std::min(size - 1, int(std::ceil(by1)));
        for (int y = y0; y <= y1; ++y) {
            for (int x = x0; x <= x1; ++x) {
                int hits = 0;
                for (int sy = 0; sy < 8; ++sy)
                    for (int sx = 0; sx < 8; ++sx)
                        hits += shape.inside(x + (sx + 0.5) / 8, y + (sy + 0.5) / 8);
                if (hits == 0) continue;
                const double cover = hits / 64.0 * shape.colour.a;
                double* p = &image.rgba[(size_t(y) * size + x) * 4];
                const double alpha = cover + p[3] * (1 - cover);
                const uint8_t rgb[3] = {shape.colour.r, shape.colour.g, shape.colour.b};
                for (int i = 0; i < 3; ++i)
                    p[i] = (rgb[i] / 255.0 * cover + p[i] * p[3] * (1 - cover)) / alpha;
                p[3] = alpha;
            }
        }
    }
    return image;
}

// ---- Encoders ----

void put16(std::string& out, unsigned v) {
    out += char(v & 0xff);
    out += char((v >> 8) & 0xff);
}
void put32(std::string& out, unsigned v) {
    put16(out, v & 0xffff);
    put16(out, v >> 16);
}

void putBitmapHeader(std::string& out, int size, int bits, unsigned imageBytes, int colours) {
    put32(out, 40);
    put32(out, size);
    put32(out, 2 * size);  // height counts both bitmaps
    put16(out, 1);
    put16(out, bits);
    put32(out, 0);
    put32(out, imageBytes);
    put32(out, 0);
    put32(out, 0);
    put32(out, colours);
    put32(out, 0);
}

// The 1-bpp transparency mask, bottom-up.
std::string encodeMask(int s, const std::function<bool(int, int)>& clear) {
    const int andStride = (s / 8 + 3) / 4 * 4;
    std::string out;
    for (int y = s - 1; y >= 0; --y) {
        std::string row(andStride, '\0');
        for (int x = 0; x < s; ++x)
            if (clear(x, y)) row[x / 8] |= char(0x80 >> (x % 8));
        out += row;
    }
    return out;
}

// BITMAPINFOHEADER, palette, 4-bpp colour rows, then the mask; bottom-up.
std::string encodeBitmap(const Canvas& c) {
    const int s = c.size;
    const int xorStride = (s / 2 + 3) / 4 * 4;
    const int andStride = (s / 8 + 3) / 4 * 4;
    std::string out;
    putBitmapHeader(out, s, 4, unsigned((xorStride + andStride) * s), 16);
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
    return out + encodeMask(s, [&](int x, int y) { return c.px[y * s + x] < 0; });
}

// BITMAPINFOHEADER, 32-bpp BGRA rows with straight alpha, then the mask; bottom-up.
std::string encodeBitmap(const Image& image) {
    const int s = image.size;
    const int andStride = (s / 8 + 3) / 4 * 4;
    std::string out;
    putBitmapHeader(out, s, 32, unsigned((s * 4 + andStride) * s), 0);
    for (int y = s - 1; y >= 0; --y)
        for (int x = 0; x < s; ++x)
            for (int channel : {2, 1, 0, 3}) out += char(image.byte(x, y, channel));
    return out + encodeMask(s, [&](int x, int y) { return image.byte(x, y, 3) == 0; });
}

// Deflate in one block, greedy LZ77 matches (a 32 KiB window, hash chains) coded with
// Huffman codes made for the data, or the fixed ones where those come out shorter: a few
// dozen lines, and the same bytes on every run and every machine.
class Deflater {
public:
    std::string compress(const std::string& data) {
        tokenize(data);
        std::vector<int> litFreq(286, 0), distFreq(30, 0);
        for (const Token& t : m_tokens) {
            if (t.len == 0) {
                ++litFreq[t.lit];
            } else {
                ++litFreq[257 + lengthCode(t.len)];
                ++distFreq[distCode(t.dist)];
            }
        }
        ++litFreq[256];
        // Two codes at least in each alphabet: a decoder takes no code of one symbol.
        for (int k = 0; k < 2; ++k)
            if (std::count_if(distFreq.begin(), distFreq.end(), [](int f) { return f > 0; }) < 2)
                ++distFreq[k];
        std::vector<int> litLen = codeLengths(litFreq, 15), distLen = codeLengths(distFreq, 15);
        std::vector<int> fixedLit(288, 8), fixedDist(30, 5);
        std::fill(fixedLit.begin() + 144, fixedLit.begin() + 256, 9);
        std::fill(fixedLit.begin() + 256, fixedLit.begin() + 280, 7);

        bits(1, 1);  // the last block
        const std::string header = dynamicHeader(litLen, distLen);
        if (dataBits(litLen, distLen) + header.size() < dataBits(fixedLit, fixedDist)) {
            bits(2, 2);
            for (char bit : header) bits(unsigned(bit), 1);
            emit(litLen, distLen);
        } else {
            bits(1, 2);
            emit(fixedLit, fixedDist);
        }
        if (m_nBits > 0) m_out += char(m_acc);
        return m_out;
    }

private:
    struct Token {
        uint16_t len;  // 0 for a literal
        uint16_t dist;
        uint8_t lit;
    };
    static constexpr int kLenBase[] = {3,  4,  5,  6,   7,   8,   9,   10,  11, 13,
                                       15, 17, 19, 23,  27,  31,  35,  43,  51, 59,
                                       67, 83, 99, 115, 131, 163, 195, 227, 258};
    static constexpr int kLenExtra[] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                        2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
    static constexpr int kDistBase[] = {
        1,   2,   3,   4,   5,   7,    9,    13,   17,   25,   33,   49,   65,    97,    129,
        193, 257, 385, 513, 769, 1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
    static constexpr int kDistExtra[] = {0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,
                                         6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};

    static int lengthCode(int len) {
        int l = 28;
        while (kLenBase[l] > len) --l;
        return l;
    }
    static int distCode(int dist) {
        int d = 29;
        while (kDistBase[d] > dist) --d;
        return d;
    }

    void tokenize(const std::string& data) {
        const size_t n = data.size();
        std::vector<int> head(1 << 15, -1), prev(1 << 15, -1);
        auto hash = [&](size_t i) {
            return ((uint8_t(data[i]) << 10) ^ (uint8_t(data[i + 1]) << 5) ^ uint8_t(data[i + 2])) &
                   0x7fff;
        };
        auto insert = [&](size_t i) {
            if (i + 2 >= n) return;
            const int h = hash(i);
            prev[i & 0x7fff] = head[h];
            head[h] = int(i);
        };
        size_t i = 0;
        while (i < n) {
            size_t bestLen = 0, bestDist = 0;
            if (i + 2 < n) {
                int candidate = head[hash(i)];
                for (int chain = 0; candidate >= 0 && chain < 128; ++chain) {
                    const size_t dist = i - size_t(candidate);
                    if (dist > 32768) break;
                    size_t len = 0;
                    while (len < 258 && i + len < n && data[candidate + len] == data[i + len])
                        ++len;
                    if (len > bestLen) bestLen = len, bestDist = dist;
                    if (len == 258) break;
                    candidate = prev[candidate & 0x7fff];
                }
            }
            if (bestLen >= 3) {
                m_tokens.push_back({uint16_t(bestLen), uint16_t(bestDist), 0});
                for (size_t k = 0; k < bestLen; ++k) insert(i + k);
                i += bestLen;
            } else {
                m_tokens.push_back({0, 0, uint8_t(data[i])});
                insert(i);
                ++i;
            }
        }
    }

    // Huffman code lengths for the frequencies, none longer than maxLen: where the tree comes
    // out deeper, the rare symbols are made less rare and it is built again.
    static std::vector<int> codeLengths(std::vector<int> freq, int maxLen) {
        const int n = int(freq.size());
        while (true) {
            // Nodes: the symbols, then the merged pairs; ties go to the lower index.
            std::vector<long> weight;
            std::vector<int> parent, live;
            for (int s = 0; s < n; ++s) {
                weight.push_back(freq[s]);
                parent.push_back(-1);
                if (freq[s] > 0) live.push_back(s);
            }
            while (live.size() > 1) {
                std::stable_sort(live.begin(), live.end(),
                                 [&](int a, int b) { return weight[a] < weight[b]; });
                const int node = int(weight.size());
                weight.push_back(weight[live[0]] + weight[live[1]]);
                parent.push_back(-1);
                parent[live[0]] = parent[live[1]] = node;
                live.erase(live.begin(), live.begin() + 2);
                live.push_back(node);
            }
            std::vector<int> lengths(n, 0);
            int deepest = 0;
            for (int s = 0; s < n; ++s) {
                if (freq[s] == 0) continue;
                for (int p = parent[s]; p >= 0; p = parent[p]) ++lengths[s];
                deepest = std::max(deepest, lengths[s]);
            }
            if (deepest <= maxLen) return lengths;
            for (int& f : freq)
                if (f > 0) f = (f + 1) / 2;
        }
    }

    // The codes of the lengths, as RFC 1951 makes them: shorter first, then in symbol order.
    static std::vector<unsigned> codesOf(const std::vector<int>& lengths) {
        std::vector<int> count(16, 0);
        for (int len : lengths) ++count[len];
        count[0] = 0;
        std::vector<unsigned> next(16, 0), codes(lengths.size(), 0);
        unsigned code = 0;
        for (int len = 1; len < 16; ++len) next[len] = code = (code + count[len - 1]) << 1;
        for (size_t s = 0; s < lengths.size(); ++s)
            if (lengths[s] > 0) codes[s] = next[lengths[s]]++;
        return codes;
    }

    size_t dataBits(const std::vector<int>& litLen, const std::vector<int>& distLen) const {
        size_t total = size_t(litLen[256]);
        for (const Token& t : m_tokens) {
            if (t.len == 0) {
                total += size_t(litLen[t.lit]);
            } else {
                const int l = lengthCode(t.len), d = distCode(t.dist);
                total += size_t(litLen[257 + l] + kLenExtra[l] + distLen[d] + kDistExtra[d]);
            }
        }
        return total;
    }

    // The dynamic block's header after its type, one char per bit ('\0' or '\1').
    static std::string dynamicHeader(const std::vector<int>& litLen,
                                     const std::vector<int>& distLen) {
        int nLit = 286, nDist = 30;
        while (nLit > 257 && litLen[nLit - 1] == 0) --nLit;
        while (nDist > 1 && distLen[nDist - 1] == 0) --nDist;
        std::vector<int> all(litLen.begin(), litLen.begin() + nLit);
        all.insert(all.end(), distLen.begin(), distLen.begin() + nDist);
        // The lengths run-length coded: 16 repeats the last 3-6 times, 17 and 18 put 3-10 and
        // 11-138 zeros.
        struct Run {
            int symbol, extra, extraBits;
        };
        std::vector<Run> runs;
        for (size_t i = 0; i < all.size();) {
            size_t same = 1;
            while (i + same < all.size() && all[i + same] == all[i]) ++same;
            if (all[i] == 0 && same >= 11) {
                same = std::min<size_t>(same, 138);
                runs.push_back({18, int(same) - 11, 7});
            } else if (all[i] == 0 && same >= 3) {
                runs.push_back({17, int(same) - 3, 3});
            } else if (all[i] != 0 && i > 0 && all[i - 1] == all[i] && same >= 3) {
                same = std::min<size_t>(same, 6);
                runs.push_back({16, int(same) - 3, 2});
            } else {
                same = 1;
                runs.push_back({all[i], 0, 0});
            }
            i += same;
        }
        std::vector<int> freq(19, 0);
        for (const Run& r : runs) ++freq[r.symbol];
        for (int k = 0; k < 2; ++k)
            if (std::count_if(freq.begin(), freq.end(), [](int f) { return f > 0; }) < 2) ++freq[k];
        const std::vector<int> lengths = codeLengths(freq, 7);
        const std::vector<unsigned> codes = codesOf(lengths);
        static const int kOrder[19] = {16, 17, 18, 0, 8,  7, 9,  6, 10, 5,
                                       11, 4,  12, 3, 13, 2, 14, 1, 15};
        int nCodes = 19;
        while (nCodes > 4 && lengths[kOrder[nCodes - 1]] == 0) --nCodes;

        std::string out;
        auto put = [&](unsigned value, int count) {  // least significant bit first
            for (int k = 0; k < count; ++k) out += char((value >> k) & 1);
        };
        auto putCode = [&](unsigned code, int len) {  // most significant bit first
            for (int k = len - 1; k >= 0; --k) out += char((code >> k) & 1);
        };
        put(unsigned(nLit - 257), 5);
        put(unsigned(nDist - 1), 5);
        put(unsigned(nCodes - 4), 4);
        for (int k = 0; k < nCodes; ++k) put(unsigned(lengths[kOrder[k]]), 3);
        for (const Run& r : runs) {
            putCode(codes[r.symbol], lengths[r.symbol]);
            put(unsigned(r.extra), r.extraBits);
        }
        return out;
    }

    void emit(const std::vector<int>& litLen, const std::vector<int>& distLen) {
        const std::vector<unsigned> litCodes = codesOf(litLen), distCodes = codesOf(distLen);
        for (const Token& t : m_tokens) {
            if (t.len == 0) {
                code(litCodes[t.lit], litLen[t.lit]);
                continue;
            }
            const int l = lengthCode(t.len), d = distCode(t.dist);
            code(litCodes[257 + l], litLen[257 + l]);
            bits(unsigned(t.len - kLenBase[l]), kLenExtra[l]);
            code(distCodes[d], distLen[d]);
            bits(unsigned(t.dist - kDistBase[d]), kDistExtra[d]);
        }
        code(litCodes[256], litLen[256]);  // end of block
    }

    void bits(unsigned value, int count) {
        for (int k = 0; k < count; ++k) {
            m_acc |= ((value >> k) & 1) << m_nBits;
            if (++m_nBits == 8) m_out += char(m_acc), m_acc = 0, m_nBits = 0;
        }
    }
    // Huffman codes go most significant bit first.
    void code(unsigned value, int count) {
        for (int k = count - 1; k >= 0; --k) bits((value >> k) & 1, 1);
    }

    std::vector<Token> m_tokens;
    std::string m_out;
    unsigned m_acc = 0;
    int m_nBits = 0;
};

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

// The rows filtered one way (0 to 4: every row with that filter), or with 5 each row with the
// filter that leaves it the smallest differences.
std::string filterRows(const std::vector<std::string>& rows, int mode) {
    const size_t stride = rows.front().size();
    std::string raw, above(stride, '\0');
    for (const std::string& row : rows) {
        std::string best;
        long bestCost = -1;
        for (int filter = 0; filter < 5; ++filter) {
            if (mode < 5 && filter != mode) continue;
            std::string out(1, char(filter));
            long cost = 0;
            for (size_t i = 0; i < stride; ++i) {
                const int a = i >= 4 ? uint8_t(row[i - 4]) : 0, b = uint8_t(above[i]);
                const int c = i >= 4 ? uint8_t(above[i - 4]) : 0;
                int predicted = 0;
                if (filter == 1) predicted = a;
                if (filter == 2) predicted = b;
                if (filter == 3) predicted = (a + b) / 2;
                if (filter == 4) {
                    const int p = a + b - c, pa = std::abs(p - a), pb = std::abs(p - b),
                              pc = std::abs(p - c);
                    predicted = pa <= pb && pa <= pc ? a : pb <= pc ? b : c;
                }
                const auto v = uint8_t(uint8_t(row[i]) - predicted);
                out += char(v);
                cost += v < 128 ? v : 256 - v;
            }
            if (bestCost < 0 || cost < bestCost) bestCost = cost, best = out;
        }
        raw += best;
        above = row;
    }
    return raw;
}

// RGBA, 8 bits a channel, filtered whichever way compresses smallest: flat colours with soft
// edges, as these pictures are, often compress best unfiltered, which the usual guess (the
// filter leaving the smallest differences) never picks.
std::string encodePng(int size, const std::function<uint8_t(int, int, int)>& byteAt) {
    std::vector<std::string> rows(size_t(size), std::string(size_t(size) * 4, '\0'));
    for (int y = 0; y < size; ++y)
        for (int x = 0; x < size; ++x)
            for (int k = 0; k < 4; ++k) rows[size_t(y)][size_t(x) * 4 + k] = char(byteAt(x, y, k));
    std::string raw, compressed;
    for (int mode = 0; mode <= 5; ++mode) {
        std::string filtered = filterRows(rows, mode);
        std::string z = Deflater().compress(filtered);
        if (compressed.empty() || z.size() < compressed.size()) {
            compressed = std::move(z);
            raw = std::move(filtered);
        }
    }
    std::string z = "\x78\x01" + compressed;
    uint32_t a = 1, b = 0;
    for (unsigned char ch : raw) {
        a = (a + ch) % 65521;
        b = (b + a) % 65521;
    }
    putBig32(z, (b << 16) | a);

    std::string ihdr;
    putBig32(ihdr, uint32_t(size));
    putBig32(ihdr, uint32_t(size));
    ihdr += "\x08\x06";            // 8 bits, RGBA
    ihdr += std::string(3, '\0');  // deflate, adaptive filtering, no interlace
    std::string png = "\x89PNG\r\n\x1a\n";
    chunk(png, "IHDR", ihdr);
    chunk(png, "IDAT", z);
    chunk(png, "IEND", "");
    return png;
}

std::string encodePng(const Image& image) {
    return encodePng(image.size, [&](int x, int y, int k) { return image.byte(x, y, k); });
}

bool writeFile(const std::string& path, const std::string& bytes) {
    std::ofstream f(path, std::ios::binary);
    f << bytes;
    return bool(f);
}

// The true-colour sizes of each .ico: the system's small and large icons at 100 % to 200 %,
// the sizes tray hosts ask for, and 256 (as PNG, the only size stored so).
const int kIcoSizes[] = {16, 20, 22, 24, 32, 40, 44, 48, 64, 256};

bool writeIco(const std::string& path, const std::vector<Canvas>& art, Picture picture) {
    std::vector<std::pair<int, std::string>> entries;  // size, data
    for (const Canvas& c : art) entries.emplace_back(c.size, encodeBitmap(c));
    for (int size : kIcoSizes) {
        const Image image = render(picture, size);
        entries.emplace_back(size, size >= 256 ? encodePng(image) : encodeBitmap(image));
    }
    std::string head, body;
    put16(head, 0);
    put16(head, 1);
    put16(head, unsigned(entries.size()));
    unsigned offset = 6 + 16 * unsigned(entries.size());
    for (size_t i = 0; i < entries.size(); ++i) {
        const bool classic = i < art.size();
        const int size = entries[i].first;
        head += char(size >= 256 ? 0 : size);
        head += char(size >= 256 ? 0 : size);
        head += char(classic ? 16 : 0);
        head += char(0);
        put16(head, 1);
        put16(head, classic ? 4 : 32);
        put32(head, unsigned(entries[i].second.size()));
        put32(head, offset);
        offset += unsigned(entries[i].second.size());
        body += entries[i].second;
    }
    return writeFile(path, head + body);
}

std::string hex(const Rgba& colour) {
    char text[8];
    std::snprintf(text, sizeof text, "#%02x%02x%02x", colour.r, colour.g, colour.b);
    return text;
}

std::string num(double v) {
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", v);
    std::string s = text;
    while (s.back() == '0') s.pop_back();
    if (s.back() == '.') s.pop_back();
    return s;
}

// The 32 pixel picture's shapes as vectors on a 32 unit canvas.
std::string svgOf(Picture picture) {
    std::string svg =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<svg xmlns=\"http://www.w3.org/2000/svg\" version=\"1.1\" width=\"32\" height=\"32\" "
        "viewBox=\"0 0 32 32\">\n"
        "  <title>Quorvane</title>\n";
    for (const Shape& s : design(picture, 32)) {
        std::string paint = "fill=\"" + hex(s.colour) + "\"";
        if (s.colour.a < 1) paint += " fill-opacity=\"" + num(s.colour.a) + "\"";
        switch (s.kind) {
            case Shape::Disc:
                svg += "  <circle cx=\"" + num(s.x) + "\" cy=\"" + num(s.y) + "\" r=\"" + num(s.r) +
                       "\" " + paint + "/>\n";
                break;
            case Shape::Ring:
                svg += "  <circle cx=\"" + num(s.x) + "\" cy=\"" + num(s.y) + "\" r=\"" + num(s.r) +
                       "\" fill=\"none\" stroke=\"" + hex(s.colour) + "\" stroke-width=\"" +
                       num(s.width) + "\"/>\n";
                break;
            case Shape::Wedge: {
                const double a0 = s.x2, a1 = s.x2 + s.y2;
                svg += "  <path d=\"M " + num(s.x) + " " + num(s.y) + " L " +
                       num(s.x + s.r * std::cos(a0)) + " " + num(s.y + s.r * std::sin(a0)) + " A " +
                       num(s.r) + " " + num(s.r) + " 0 0 1 " + num(s.x + s.r * std::cos(a1)) + " " +
                       num(s.y + s.r * std::sin(a1)) + " Z\" " + paint + "/>\n";
                break;
            }
            case Shape::Bar:
                svg += "  <path d=\"M " + num(s.x) + " " + num(s.y) + " L " + num(s.x2) + " " +
                       num(s.y2) + "\" stroke=\"" + hex(s.colour) + "\" stroke-width=\"" +
                       num(s.width) + "\"/>\n";
                break;
            case Shape::Box:
                svg += "  <rect x=\"" + num(s.x) + "\" y=\"" + num(s.y) + "\" width=\"" +
                       num(s.x2 - s.x) + "\" height=\"" + num(s.y2 - s.y) + "\" " + paint + "/>\n";
                break;
            case Shape::Octagon: {
                // The corners where |dx| + |dy| = 1.414 r meets |dx| = r or |dy| = r.
                const double c = s.r * 0.414;
                const double pts[8][2] = {{-c, -s.r}, {c, -s.r}, {s.r, -c}, {s.r, c},
                                          {c, s.r},   {-c, s.r}, {-s.r, c}, {-s.r, -c}};
                std::string points;
                for (auto& p : pts)
                    points += (points.empty() ? "" : " ") + num(s.x + p[0]) + "," + num(s.y + p[1]);
                svg += "  <polygon points=\"" + points + "\" " + paint + "/>\n";
                break;
            }
        }
    }
    return svg + "</svg>\n";
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
bool writeTheme(const std::string& dir) {
    bool ok = true;
    auto place = [&](const std::string& size) {
        const std::string sub = dir + "hicolor/" + size + "/apps";
        ok = makeDirs(sub) && ok;
        return sub + "/quorvane";
    };
    for (int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
        const std::string n = std::to_string(size);
        ok =
            writeFile(place(n + "x" + n) + ".png", encodePng(render(Picture::Waiting, size))) && ok;
    }
    return writeFile(place("scalable") + ".svg", svgOf(Picture::Waiting)) && ok;
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
    bool ok = writeIco(dir + "main.ico", main, Picture::Waiting) &&
              writeIco(dir + "pinging.ico", pinging, Picture::Probing) &&
              writeIco(dir + "idle.ico", idle, Picture::Idle) &&
              writeFile(dir + "main.svg", svgOf(Picture::Waiting)) &&
              writeFile(dir + "pinging.svg", svgOf(Picture::Probing)) &&
              writeFile(dir + "idle.svg", svgOf(Picture::Idle)) && writeTheme(dir);
    if (!ok) std::fprintf(stderr, "could not write icons into %s\n", argv[1]);
    return ok ? 0 : 1;
}
