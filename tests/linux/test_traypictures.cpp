// The tray pictures as users see them: the real program's icon photographed on each tray host
// (icewm's XEmbed tray; Xfce's and LXQt's panels, which read it from the session bus, on X11;
// waybar on sway, under Wayland), at scale 1 and 2, on a light and on a dark panel, in each of
// its three pictures (idle: no list; waiting: a server that answers; probing: one that never
// does, during the wait), in the loopback-only namespace. Each photograph is cut to the icon's
// square and measured: how closely it shows the program's own picture of that size, how sharp
// it is against the 16-pixel picture enlarged pixel by pixel to the same size, how far apart
// the three pictures are in lightness and hue, and how its outline stands out from the panel. The
// figures are printed, and the photographs put side by side in one contact sheet (tray-pictures.png
// beside the test, and QV_CONTACT_SHEET=FILE). The outline, the lightness apart and that every
// host shows the picture drawn for its size, unscaled, are goals.

#include <unistd.h>

#include <QColor>
#include <QElapsedTimer>
#include <QFont>
#include <QImage>
#include <QImageReader>
#include <QPainter>
#include <QtTest/QtTest>
#include <array>
#include <cmath>
#include <map>
#include <memory>
#include <optional>

#include "harness/desktop.h"
#include "harness/netns.h"
#include "harness/panellook.h"
#include "harness/picture.h"
#include "harness/program.h"
#include "harness/trayhost.h"
#include "harness/wayland.h"
#include "harness/wire.h"

namespace {

// The goals, measured on the photographs of the true-colour pictures drawn at every size and
// of the 16-colour ones (16 and 32 pixels) they replaced. Each row of the figures is one host,
// scale and panel.
// The outline stands out from the panel: along the icon's outermost ring (its extent on either
// panel), the strongest lightness difference (CIE L*, 0 to 100) from the panel within one pixel
// per scale step, on average. Measured: 51.6 to 93.4 (a light halo outside a black rim); the
// 16-colour pictures 82 to 93 on light panels but 12.9 to 42.5 on dark ones, where their black
// rim vanishes (71.3 where the bright probing disc lies right inside a 1-pixel rim).
constexpr double kMinOutlineContrast = 45.0;
// The three pictures apart for a user who does not tell the colours apart: the root mean square
// of the lightness difference between each two, pixel by pixel over the square. Measured: 15.8
// to 35.7 (and 14.9 to 34.8 for the 16-colour ones); two pictures apart in hue alone come to
// a few L* of antialiasing.
constexpr double kMinLightnessApart = 10.0;
// Their hue (of each picture's mean colour, CIELAB) is printed beside it: waiting and probing
// are both green, apart by brightness and shape; idle is 40 degrees from them. A grey picture
// (chroma under kGreyChroma) is as far from a coloured one as hues go.
constexpr double kGreyChroma = 8.0;
// Drawn at the size: the photograph differs from the program's own picture of that size, on the
// same panel, by at most this root mean square lightness. Measured: 0.0 on every host at scale 1
// and 2; Xfce's panel and waybar, which scale the largest of an item's pixels when it names no
// picture of a theme, 9.2 to 13.4 at scale 1, 2.9 to 4.5 at scale 2; the 16-colour pictures, at
// 16 and 32 pixels only, 23 to 45 at 22 and 24 pixels, and none at 44 and 48.
constexpr double kMaxDrawnApart = 1.0;
// Sharpness, printed beside them: the edge steepness (the lightness step per pixel across the
// edges, each pixel weighted by its own gradient) over that of the 16-colour 16-pixel picture
// enlarged pixel by pixel to the same size on the same panel. It follows the edges' contrast
// as much as their width: a smooth enlargement scores 0.3 to 0.5, an antialiased picture drawn
// at the size 0.66 (QPainter, 22 to 48 pixels), and on the hosts the true-colour pictures 0.54
// to 1.07 against 0.41 to 0.69 for the 16-colour ones enlarged: too close for a goal.

// Pixels that differ from the panel by more than this in a channel are the icon's.
constexpr int kMaskTolerance = 12;

// The panels' colours: a light theme's and a dark theme's.
const QColor kLight(0xec, 0xec, 0xec);
const QColor kDark(0x20, 0x20, 0x20);

// One server that answers; one that never does, whose first request waits 5 s (3 tries with
// Cycle on No Contact off), sent after the delay of 3 s.
constexpr char kAnsweringList[] = "3\r\n0\r\n0\r\n127.0.0.1\r\n";
constexpr char kSilentServer[] = "127.0.0.30";
constexpr char kSilentList[] = "3\r\n0\r\n0\r\n127.0.0.30\r\n";

enum class EHost { Icewm, Xfce, Lxqt, Waybar };
const char* NameOf(EHost host) {
    switch (host) {
        case EHost::Icewm:
            return "icewm";
        case EHost::Xfce:
            return "xfce4-panel";
        case EHost::Lxqt:
            return "lxqt-panel";
        default:
            return "waybar";
    }
}

constexpr std::array<EPicture, 3> kStates = {EPicture::Idle, EPicture::Waiting, EPicture::Probing};

// --- Measures ---------------------------------------------------------------------------------

// CIE L* of an sRGB colour, 0 to 100.
double Lightness(QRgb pixel) {
    const auto linear = [](int n) {
        const double c = n / 255.0;
        return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
    };
    const double y = 0.2126 * linear(qRed(pixel)) + 0.7152 * linear(qGreen(pixel)) +
                     0.0722 * linear(qBlue(pixel));
    return y > 216.0 / 24389 ? 116 * std::cbrt(y) - 16 : y * 24389.0 / 27;
}

// CIELAB a* and b* of an sRGB colour.
QPointF Chroma(QRgb pixel) {
    const auto linear = [](int n) {
        const double c = n / 255.0;
        return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
    };
    const double r = linear(qRed(pixel)), g = linear(qGreen(pixel)), b = linear(qBlue(pixel));
    const auto f = [](double t) {
        return t > 216.0 / 24389 ? std::cbrt(t) : (t * 24389.0 / 27 + 16) / 116;
    };
    const double x = f((0.4124 * r + 0.3576 * g + 0.1805 * b) / 0.95047);
    const double y = f(0.2126 * r + 0.7152 * g + 0.0722 * b);
    const double z = f((0.0193 * r + 0.1192 * g + 0.9505 * b) / 1.08883);
    return {500 * (x - y), 200 * (y - z)};
}

// The steepness of an image's edges: the sum of squared lightness gradients over the sum of
// gradients. A step of contrast C drawn within one pixel gives C, spread over k pixels C/k,
// however many edges there are.
double Steepness(const QImage& image) {
    double sum = 0, sumSquares = 0;
    for (int y = 0; y + 1 < image.height(); ++y) {
        for (int x = 0; x + 1 < image.width(); ++x) {
            const double l = Lightness(image.pixel(x, y));
            const double g = std::hypot(Lightness(image.pixel(x + 1, y)) - l,
                                        Lightness(image.pixel(x, y + 1)) - l);
            sum += g;
            sumSquares += g * g;
        }
    }
    return sum > 0 ? sumSquares / sum : 0;
}

// Which pixels differ from the panel.
using CMask = std::vector<bool>;
CMask MaskOf(const QImage& image, const QColor& panel) {
    CMask mask(static_cast<std::size_t>(image.width() * image.height()));
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QRgb p = image.pixel(x, y);
            mask[static_cast<std::size_t>(y * image.width() + x)] =
                std::abs(qRed(p) - panel.red()) > kMaskTolerance ||
                std::abs(qGreen(p) - panel.green()) > kMaskTolerance ||
                std::abs(qBlue(p) - panel.blue()) > kMaskTolerance;
        }
    }
    return mask;
}

// The hue of the mean colour of the masked pixels, in degrees; and its chroma.
std::pair<double, double> HueOf(const QImage& image, const CMask& mask) {
    QPointF sum;
    int n = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            if (!mask[static_cast<std::size_t>(y * image.width() + x)]) continue;
            sum += Chroma(image.pixel(x, y));
            ++n;
        }
    }
    if (n == 0) return {0, 0};
    sum /= n;
    return {std::atan2(sum.y(), sum.x()) * 180 / M_PI, std::hypot(sum.x(), sum.y())};
}

// Hues and chromas.
double HueApart(const std::pair<double, double>& a, const std::pair<double, double>& b) {
    const bool bGreyA = a.second < kGreyChroma, bGreyB = b.second < kGreyChroma;
    if (bGreyA || bGreyB) return bGreyA == bGreyB ? 0 : 180;
    const double d = std::fmod(std::abs(a.first - b.first), 360.0);
    return d > 180 ? 360 - d : d;
}

double LightnessApart(const QImage& a, const QImage& b) {
    double sum = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x)
            sum += std::pow(Lightness(a.pixel(x, y)) - Lightness(b.pixel(x, y)), 2);
    return std::sqrt(sum / (a.width() * a.height()));
}

// How the outline stands out from the panel: along the mask's outermost ring, the strongest
// lightness difference from the panel within nWidth pixels of each of its pixels, inside the
// mask; the mean of those. A light halo that vanishes on a light panel leaves the dark rim
// next to it to stand out, and the other way round.
double OutlineContrast(const QImage& image, const CMask& mask, const QColor& panel, int nWidth) {
    const int w = image.width(), h = image.height();
    const auto in = [&](int x, int y) {
        return x >= 0 && y >= 0 && x < w && y < h && mask[static_cast<std::size_t>(y * w + x)];
    };
    const double lPanel = Lightness(panel.rgb());
    double sum = 0;
    int n = 0;
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            if (!in(x, y) || (in(x - 1, y) && in(x + 1, y) && in(x, y - 1) && in(x, y + 1)))
                continue;
            double strongest = 0;
            for (int dy = -nWidth; dy <= nWidth; ++dy)
                for (int dx = -nWidth; dx <= nWidth; ++dx)
                    if (in(x + dx, y + dy))
                        strongest = std::max(
                            strongest, std::abs(Lightness(image.pixel(x + dx, y + dy)) - lPanel));
            sum += strongest;
            ++n;
        }
    }
    return n > 0 ? sum / n : 0;
}

// The pictures of a state in the program's icon file, in the file's order.
QList<QImage> Pictures(EPicture state) {
    const char* pszFile = state == EPicture::Idle      ? "idle.ico"
                          : state == EPicture::Waiting ? "main.ico"
                                                       : "pinging.ico";
    QImageReader reader(QStringLiteral(QV_ICONS_DIR "/") + pszFile);
    QList<QImage> pictures;
    for (int i = 0; i < reader.imageCount() && reader.jumpToImage(i); ++i)
        pictures << reader.read().convertToFormat(QImage::Format_ARGB32);
    return pictures;
}

// The 16-pixel picture of a state in 16 colours: the first of that size in the file, which
// keeps that art first; the same reference whatever else the file holds.
QImage Picture16(EPicture state) {
    for (const QImage& picture : Pictures(state))
        if (picture.size() == QSize(16, 16)) return picture;
    return {};
}

// The lightness of every pixel, row by row.
std::vector<double> LightnessOf(const QImage& image) {
    std::vector<double> l;
    l.reserve(static_cast<std::size_t>(image.width() * image.height()));
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) l.push_back(Lightness(image.pixel(x, y)));
    return l;
}

// How closely a photograph shows one of the program's own pictures as drawn, unscaled: the
// root mean square lightness difference (L*) to the closest of them, of its size or a little
// larger (a host may leave a transparent margin out of the square), on the same panel, at
// the place where it fits best. -1 when the program has no picture of about that size. Where
// the program offers pictures at every size a host asks for, a host that scales shows none
// of them exactly.
double DrawnApart(const QImage& crop, EPicture state, const QColor& panel) {
    const int nSide = crop.width();
    // The photograph on a margin of the panel's colour, wide enough for every place tried.
    constexpr int kMargin = 12;
    QImage canvas(nSide + 2 * kMargin, nSide + 2 * kMargin, QImage::Format_RGB32);
    canvas.fill(panel);
    QPainter painter(&canvas);
    painter.drawImage(kMargin, kMargin, crop);
    painter.end();
    const std::vector<double> shown = LightnessOf(canvas);
    const double lPanel = Lightness(panel.rgb());
    double best = -1;
    QList<QImage> pictures = Pictures(state);
    for (const QImage& picture : pictures) {
        const int nSize = picture.width();
        if (nSize < nSide || nSize >= nSide + kMargin) continue;
        QImage on(picture.size(), QImage::Format_RGB32);
        on.fill(panel);
        QPainter onPainter(&on);
        onPainter.drawImage(0, 0, picture);
        onPainter.end();
        const std::vector<double> drawn = LightnessOf(on);
        // Every place where the picture covers the square.
        for (int dy = kMargin + nSide - nSize - 1; dy <= kMargin + 1; ++dy) {
            for (int dx = kMargin + nSide - nSize - 1; dx <= kMargin + 1; ++dx) {
                double sum = 0;
                int n = 0;
                // Over the square and the picture's place together; the panel elsewhere.
                const QRect over =
                    QRect(kMargin, kMargin, nSide, nSide) | QRect(dx, dy, nSize, nSize);
                for (int y = over.top(); y <= over.bottom(); ++y) {
                    for (int x = over.left(); x <= over.right(); ++x) {
                        const int px = x - dx, py = y - dy;
                        const double l = px >= 0 && py >= 0 && px < nSize && py < nSize
                                             ? drawn[static_cast<std::size_t>(py * nSize + px)]
                                             : lPanel;
                        const double d =
                            shown[static_cast<std::size_t>(y * canvas.width() + x)] - l;
                        sum += d * d;
                        ++n;
                    }
                }
                const double rms = std::sqrt(sum / n);
                if (best < 0 || rms < best) best = rms;
            }
        }
    }
    return best;
}

// The 16-pixel picture on the panel, enlarged pixel by pixel to nSize.
QImage Enlarged16(EPicture state, const QColor& panel, int nSize) {
    QImage on(16, 16, QImage::Format_RGB32);
    on.fill(panel);
    QPainter painter(&on);
    painter.drawImage(0, 0, Picture16(state));
    painter.end();
    return on.scaled(nSize, nSize, Qt::IgnoreAspectRatio, Qt::FastTransformation);
}

// --- Photographs ------------------------------------------------------------------------------

// The commonest colour of an image: a panel's own. bSkipTransparent: of its opaque pixels.
QColor Commonest(const QImage& image, bool bSkipTransparent = false) {
    std::map<QRgb, int> counts;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QRgb pixel = image.pixel(x, y);
            if (!bSkipTransparent || qAlpha(pixel) == 255) ++counts[pixel | 0xff000000];
        }
    }
    QRgb best = 0;
    int nBest = -1;
    for (const auto& [rgb, n] : counts) {
        if (n > nBest) {
            best = rgb;
            nBest = n;
        }
    }
    return QColor(best);
}

// One host's session as the test photographs it: the area of the screen that shows the
// program's icon (in the screen's own pixels), and how the program starts there.
class CHostSession {
public:
    virtual ~CHostSession() = default;
    // Empty when it is up.
    virtual QString Failure() const = 0;
    virtual QStringList Session() const = 0;
    virtual QStringList Wrapper() const { return {}; }
    // Where the icon shows now, in screen pixels; empty when nothing shows it.
    virtual QRect Area() = 0;
    virtual QImage Grab(const QRect& area) = 0;
    // The panel's colour around the icon in the area: the commonest of the area's own, where
    // the area is the panel.
    virtual QColor Panel(const QRect& /*area*/, const QImage& image) { return Commonest(image); }
    // The area as it shows without the icon; null where the area exists only with it (the
    // docked window of an XEmbed icon).
    QImage m_empty;
};

// On X11: icewm's tray, or a panel of the hosts' table with icewm managing the windows.
class CX11Session : public CHostSession {
public:
    CX11Session(EHost host, const CPanelLook& look)
        : m_host(host), m_desktop(host == EHost::Icewm, look) {
        if (!m_desktop.IsUp()) {
            m_strFailure = "no desktop session";
            return;
        }
        if (host == EHost::Icewm) return;
        m_pBus = std::make_unique<CBus>(m_desktop.BusAddress());
        m_pTray = std::make_unique<CTrayHost>(m_desktop, *m_pBus, NameOf(host), look.background);
        if (!m_desktop.StartWindowManager() || !m_pTray->Start()) {
            m_strFailure = QStringLiteral("%1 is not up").arg(NameOf(host));
            return;
        }
        m_desktop.PointerAway();
        m_panel = m_pTray->Area();
        // Drawn, and still.
        m_empty = SteadyScreen([this] { return m_desktop.Screen(m_panel); }, QRect(), 5000);
        if (m_panel.isEmpty() || m_empty.isNull()) m_strFailure = "no panel on the screen";
    }
    QString Failure() const override { return m_strFailure; }
    QStringList Session() const override { return m_desktop.Session(); }
    QRect Area() override {
        if (m_host != EHost::Icewm) return m_panel;
        const xcb_window_t icon = m_desktop.TrayIcon(0);
        return icon == XCB_NONE ? QRect() : m_desktop.Geometry(icon);
    }
    QImage Grab(const QRect& area) override { return m_desktop.Screen(area); }
    // The docked window is mostly icon: the commonest colour in a ring of the taskbar around it.
    QColor Panel(const QRect& area, const QImage& image) override {
        if (m_host != EHost::Icewm) return CHostSession::Panel(area, image);
        constexpr int kRing = 4;
        const QRect ring = area.adjusted(-kRing, -kRing, kRing, kRing) & QRect(0, 0, 1024, 768);
        QImage around = Grab(ring).convertToFormat(QImage::Format_ARGB32);
        QPainter painter(&around);
        painter.setCompositionMode(QPainter::CompositionMode_Source);
        painter.fillRect(area.translated(-ring.topLeft()), Qt::transparent);
        painter.end();
        return Commonest(around, true);
    }

private:
    EHost m_host;
    CDesktop m_desktop;
    std::unique_ptr<CBus> m_pBus;
    std::unique_ptr<CTrayHost> m_pTray;
    QRect m_panel;
    QString m_strFailure;
};

// On Wayland: waybar on sway, the whole session as nobody.
class CWaylandSession : public CHostSession {
public:
    explicit CWaylandSession(const CPanelLook& look)
        : m_session(EDesktop::Sway, look), m_nScale(look.nScale) {
        if (!m_session.IsUp() || !m_session.StartBar()) return;
        const QRect bar = m_session.Bar();
        m_area = QRect(bar.topLeft() * m_nScale, bar.size() * m_nScale);
        m_empty = SteadyScreen([this] { return m_session.Screen(m_session.Bar()); }, QRect(), 5000);
    }
    QString Failure() const override {
        if (!m_session.IsUp()) return m_session.Failure();
        return m_empty.isNull() ? QStringLiteral("waybar is not up") : QString();
    }
    QStringList Session() const override { return m_session.Session(); }
    QStringList Wrapper() const override { return m_session.Wrapper(); }
    QRect Area() override { return m_area; }
    // grim takes the area in logical pixels and gives the screen's.
    QImage Grab(const QRect& area) override {
        return m_session.Screen(QRect(area.topLeft() / m_nScale, area.size() / m_nScale));
    }

private:
    CSession m_session;
    int m_nScale;
    QRect m_area;
};

// One photograph: the area grabbed, where it is on the screen, and the panel's colour there.
struct CShot {
    QImage image;
    QRect area;
    QImage empty;
    QColor panel;
    // Around the icon's pixels, in screen coordinates: what differs from the panel's colour
    // and from the area as it was without the icon (the panel's own decorations).
    QRect Icon() const {
        const auto differs = [](QRgb a, QRgb b) {
            return std::abs(qRed(a) - qRed(b)) > kMaskTolerance ||
                   std::abs(qGreen(a) - qGreen(b)) > kMaskTolerance ||
                   std::abs(qBlue(a) - qBlue(b)) > kMaskTolerance;
        };
        QRect found;
        for (int y = 0; y < image.height(); ++y) {
            for (int x = 0; x < image.width(); ++x) {
                const QRgb p = image.pixel(x, y);
                if (differs(p, panel.rgb()) && (empty.isNull() || differs(p, empty.pixel(x, y))))
                    found |= QRect(x, y, 1, 1);
            }
        }
        return found.translated(area.topLeft());
    }
    // A square of the screen as this photograph has it; the panel's colour outside it.
    QImage Crop(const QRect& square) const {
        QImage crop(square.size(), QImage::Format_RGB32);
        crop.fill(panel);
        QPainter painter(&crop);
        painter.drawImage(area.topLeft() - square.topLeft(), image);
        return crop;
    }
};

struct CRow {
    EHost host;
    int nScale;
    bool bDark;
    std::array<CShot, 3> shots;
    QString Name() const {
        return QStringLiteral("%1 x%2 %3")
            .arg(NameOf(host))
            .arg(nScale)
            .arg(bDark ? "dark" : "light");
    }
};

}  // namespace

class CTestTrayPictures : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void Photographs_data();
    void Photographs();
    void FiguresAndContactSheet();

private:
    // The icon in one state on a session's host, once it shows and holds still.
    std::optional<CShot> Photograph(CHostSession& session, EPicture state, QString* pstrWhy);

    std::vector<CRow> m_rows;
};

void CTestTrayPictures::initTestCase() {
    if (!OnlyLoopback()) QSKIP("real echo requests only in a namespace that holds nothing but lo");
    // The probing picture is taken once the request is seen on the wire.
    if (!CCapture().IsOpen()) QSKIP("no packet capture here (needs CAP_NET_RAW)");
    QVERIFY2(!Picture16(EPicture::Idle).isNull(), "no 16-pixel picture in " QV_ICONS_DIR);
}

// Each host at each scale, on both panels: the rows of the contact sheet two by two.
void CTestTrayPictures::Photographs_data() {
    QTest::addColumn<int>("host");
    QTest::addColumn<int>("scale");
    for (const EHost host : {EHost::Icewm, EHost::Xfce, EHost::Lxqt, EHost::Waybar})
        for (const int nScale : {1, 2})
            QTest::addRow("%s x%d", NameOf(host), nScale) << int(host) << nScale;
}

std::optional<CShot> CTestTrayPictures::Photograph(CHostSession& session, EPicture state,
                                                   QString* pstrWhy) {
    QTemporaryDir noList;
    std::unique_ptr<CProgram> program;
    if (state == EPicture::Idle)
        program = std::make_unique<CProgram>(CInFolder{noList.path()}, session.Session(),
                                             session.Wrapper());
    else
        program = std::make_unique<CProgram>(
            QByteArray(state == EPicture::Waiting ? kAnsweringList : kSilentList),
            session.Session(), session.Wrapper());
    CCapture capture;
    if (!program->Started()) {
        *pstrWhy = "the program does not start";
        return std::nullopt;
    }
    QElapsedTimer clock;
    clock.start();
    if (state == EPicture::Probing) {
        // Into the wait, the host having heard of the change.
        if (!capture.RunUntilSeen({kSilentServer}, 15.0)) {
            *pstrWhy = "no echo request to the silent server: " + program->Outcome();
            return std::nullopt;
        }
        Sleep(800);
    }
    std::optional<CShot> shot;
    CShot last;
    while (!shot && clock.elapsed() < 10000) {
        Sleep(100);
        CShot now;
        now.area = session.Area();
        if (now.area.isEmpty()) continue;
        now.empty = session.m_empty;
        now.image = SteadyScreen([&] { return session.Grab(now.area); }, QRect(), 2000);
        if (now.image.isNull() || session.Area() != now.area) continue;
        now.panel = session.Panel(now.area, now.image);
        last = now;
        const QRect icon = now.Icon();
        if (icon.width() < 8 || icon.height() < 8 || icon.width() > 128) continue;
        // A tick's probing picture in passing is not the waiting one.
        if (state != EPicture::Probing && PictureOf(now.image) == EPicture::Probing) continue;
        shot = now;
    }
    if (!shot) {
        // What was seen instead, beside the test.
        const QString strSeen = QCoreApplication::applicationDirPath() + "/tray-pictures-seen.png";
        last.image.save(strSeen);
        last.empty.save(QCoreApplication::applicationDirPath() + "/tray-pictures-empty.png");
        *pstrWhy = QStringLiteral("no %1 icon (last seen: %2 in %3, %4; empty %5): %6")
                       .arg(::NameOf(state), Describe(last.Icon()), Describe(last.area), strSeen,
                            Describe(last.empty.rect()), program->Outcome());
    }
    // Gone before the next one comes to the same place.
    if (!program->EndCleanly()) {
        *pstrWhy = "the program did not end cleanly: " + program->Outcome();
        return std::nullopt;
    }
    QElapsedTimer gone;
    gone.start();
    while (gone.elapsed() < 5000) {
        const QRect area = session.Area();
        if (area.isEmpty()) break;
        CShot after{session.Grab(area), area, session.m_empty, shot ? shot->panel : QColor()};
        if (!after.empty.isNull() && after.Icon().isEmpty()) break;
        Sleep(100);
    }
    return shot;
}

void CTestTrayPictures::Photographs() {
    QFETCH(int, host);
    QFETCH(int, scale);
    if (EHost(host) == EHost::Waybar && geteuid() != 0)
        QSKIP("the Wayland session runs as nobody, which needs root to start");
    CSilentServers silent({kSilentServer});
    QVERIFY(silent.IsSet());
    for (const bool bDark : {false, true}) {
        QElapsedTimer clock;
        clock.start();
        const CPanelLook look{scale, bDark ? kDark : kLight};
        std::unique_ptr<CHostSession> session;
        if (EHost(host) == EHost::Waybar)
            session = std::make_unique<CWaylandSession>(look);
        else
            session = std::make_unique<CX11Session>(EHost(host), look);
        QVERIFY2(session->Failure().isEmpty(), qPrintable(session->Failure()));
        CRow row{EHost(host), scale, bDark, {}};
        for (std::size_t i = 0; i < kStates.size(); ++i) {
            QString strWhy;
            const std::optional<CShot> shot = Photograph(*session, kStates[i], &strWhy);
            QVERIFY2(shot, qPrintable(row.Name() + ": " + strWhy));
            row.shots[i] = *shot;
        }
        qInfo("%s: photographed in %lld ms", qPrintable(row.Name()), clock.elapsed());
        m_rows.push_back(row);
    }
}

void CTestTrayPictures::FiguresAndContactSheet() {
    if (m_rows.empty()) QSKIP("nothing was photographed");
    QStringList failures, scaled;
    const auto goal = [&](bool bMet, const QString& strWhat) {
        if (!bMet) failures << strWhat;
    };

    // One square per host and scale: the icon's pixels in every photograph of both panels.
    std::map<std::pair<EHost, int>, QRect> squares;
    for (const CRow& row : m_rows) {
        QRect& square = squares[{row.host, row.nScale}];
        for (const CShot& shot : row.shots) {
            square |= shot.Icon();
        }
    }
    for (auto& [key, square] : squares) {
        const int nSide = std::max(square.width(), square.height());
        square = QRect(square.x() + (square.width() - nSide) / 2,
                       square.y() + (square.height() - nSide) / 2, nSide, nSide);
    }
    // The icon's extent: its pixels on either panel.
    std::map<std::pair<EHost, int>, std::array<CMask, 3>> extents;
    for (const CRow& row : m_rows) {
        const QRect square = squares[{row.host, row.nScale}];
        auto& masks = extents[{row.host, row.nScale}];
        for (std::size_t i = 0; i < 3; ++i) {
            const CMask mask = MaskOf(row.shots[i].Crop(square), row.shots[i].panel);
            if (masks[i].empty()) masks[i] = mask;
            for (std::size_t p = 0; p < mask.size(); ++p) masks[i][p] = masks[i][p] || mask[p];
        }
    }

    // size: the square's side in screen pixels; drawn: apart from the program's own picture of
    // that size (L*, - for none); steep: the edge steepness (L* per pixel) of
    // the photograph, ref16: of the 16-pixel picture enlarged to it, sharp: their ratio;
    // outline: its outermost ring against the panel (L*); hue: of its mean colour (degrees).
    qInfo("%-24s %-8s %5s %6s %6s %6s %6s %7s %6s", "host scale panel", "state", "size", "drawn",
          "steep", "ref16", "sharp", "outline", "hue");
    std::vector<std::array<QImage, 3>> crops;
    for (const CRow& row : m_rows) {
        const QRect square = squares[{row.host, row.nScale}];
        const auto& masks = extents[{row.host, row.nScale}];
        std::array<QImage, 3> crop;
        std::array<std::pair<double, double>, 3> hues{};
        for (std::size_t i = 0; i < 3; ++i) {
            const CShot& shot = row.shots[i];
            crop[i] = shot.Crop(square);
            const double steep = Steepness(crop[i]);
            const double ref = Steepness(Enlarged16(kStates[i], shot.panel, square.width()));
            const double sharp = ref > 0 ? steep / ref : 0;
            const double outline = OutlineContrast(crop[i], masks[i], shot.panel, row.nScale);
            hues[i] = HueOf(crop[i], masks[i]);
            const double drawn = DrawnApart(crop[i], kStates[i], shot.panel);
            qInfo("%-24s %-8s %5d %6s %6.1f %6.1f %6.2f %7.1f %6.0f", qPrintable(row.Name()),
                  ::NameOf(kStates[i]), square.width(),
                  drawn < 0 ? "-" : qPrintable(QString::number(drawn, 'f', 1)), steep, ref, sharp,
                  outline, hues[i].first);
            if (drawn < 0 || drawn > kMaxDrawnApart)
                scaled << QStringLiteral("%1 %2: not drawn at %3 pixels (%4)")
                              .arg(row.Name(), ::NameOf(kStates[i]))
                              .arg(square.width())
                              .arg(drawn < 0
                                       ? QStringLiteral("the program has no picture of that size")
                                       : QStringLiteral("%1 L* apart").arg(drawn, 0, 'f', 1));
            goal(outline >= kMinOutlineContrast, QStringLiteral("%1 %2: outline %3")
                                                     .arg(row.Name(), ::NameOf(kStates[i]))
                                                     .arg(outline, 0, 'f', 1));
        }
        QStringList apart;
        for (const auto& [a, b] : {std::pair<int, int>{0, 1}, {0, 2}, {1, 2}}) {
            const double lightness = LightnessApart(crop[a], crop[b]);
            const double hue = HueApart(hues[a], hues[b]);
            apart << QStringLiteral("%1-%2 L* %3, hue %4")
                         .arg(::NameOf(kStates[a]), ::NameOf(kStates[b]))
                         .arg(lightness, 0, 'f', 1)
                         .arg(hue, 0, 'f', 0);
            goal(lightness >= kMinLightnessApart,
                 QStringLiteral("%1 %2-%3: lightness apart %4")
                     .arg(row.Name(), ::NameOf(kStates[a]), ::NameOf(kStates[b]))
                     .arg(lightness, 0, 'f', 1));
        }
        qInfo("%-24s apart: %s", qPrintable(row.Name()), qPrintable(apart.join("; ")));
        crops.push_back(crop);
        // Each photograph as taken, beside the test, for a closer look.
        const QDir shots(QCoreApplication::applicationDirPath() + "/tray-pictures");
        shots.mkpath(".");
        for (std::size_t i = 0; i < 3; ++i)
            crop[i].save(shots.filePath(QStringLiteral("%1 %2.png")
                                            .arg(row.Name(), ::NameOf(kStates[i]))
                                            .replace(' ', '-')));
    }

    // The contact sheet: a row per host, scale and panel; a column per picture.
    constexpr int kCell = 96, kLabel = 16, kRowLabel = 170, kGap = 8;
    QImage sheet(kRowLabel + 3 * (kCell + kGap) + kGap,
                 kLabel + int(m_rows.size()) * (kCell + kLabel + kGap) + kGap,
                 QImage::Format_RGB32);
    sheet.fill(Qt::white);
    QPainter painter(&sheet);
    QFont font = painter.font();
    font.setPixelSize(12);
    painter.setFont(font);
    painter.setPen(Qt::black);
    for (std::size_t i = 0; i < 3; ++i)
        painter.drawText(QRect(kRowLabel + int(i) * (kCell + kGap), 0, kCell, kLabel),
                         Qt::AlignCenter, ::NameOf(kStates[i]));
    for (std::size_t r = 0; r < m_rows.size(); ++r) {
        const int y = kLabel + int(r) * (kCell + kLabel + kGap);
        painter.drawText(QRect(kGap, y, kRowLabel - kGap, kCell), Qt::AlignVCenter | Qt::AlignLeft,
                         m_rows[r].Name());
        for (std::size_t i = 0; i < 3; ++i) {
            const int x = kRowLabel + int(i) * (kCell + kGap);
            painter.drawImage(
                x, y,
                crops[r][i].scaled(kCell, kCell, Qt::IgnoreAspectRatio, Qt::FastTransformation));
            painter.drawText(QRect(x, y + kCell, kCell, kLabel), Qt::AlignCenter,
                             QStringLiteral("%1 px").arg(crops[r][i].width()));
        }
    }
    painter.end();
    QStringList paths{QCoreApplication::applicationDirPath() + "/tray-pictures.png"};
    if (!qEnvironmentVariableIsEmpty("QV_CONTACT_SHEET"))
        paths << qEnvironmentVariable("QV_CONTACT_SHEET");
    for (const QString& strPath : paths) {
        QVERIFY2(sheet.save(strPath, "PNG"), qPrintable("cannot write " + strPath));
        qInfo("contact sheet: %s", qPrintable(strPath));
    }

    qInfo("%lld photographs of pictures not drawn at the size shown",
          static_cast<long long>(scaled.size()));
    for (const QString& strScaled : scaled) qInfo("  %s", qPrintable(strScaled));
    failures += scaled;
    QVERIFY2(failures.isEmpty(), qPrintable(failures.join("\n")));
}

QTEST_MAIN(CTestTrayPictures)
#include "test_traypictures.moc"
