// The program's icons from its .ico resources, read here: Qt's ico handler is a plugin, and
// Qt finds a handler by loading every image plugin there is (gif and jpeg with libjpeg, here),
// each a library the program would carry for nothing. An .ico of ours holds 32-bit bitmaps
// with alpha and one PNG (256 pixels); PNG is built into QtGui, and read by name it loads no
// plugin.

#include <QBuffer>
#include <QFile>
#include <QIcon>
#include <QImage>
#include <QImageReader>
#include <QPixmap>
#include <QtEndian>
#include <map>

#include "framework/linux/qtbackend.h"

namespace {

constexpr int kIcoHeaderBytes = 6;
constexpr int kIcoEntryBytes = 16;
constexpr int kBitmapHeaderBytes = 40;
constexpr char kPngSignature[] = "\x89PNG\r\n\x1a\n";

// A PNG read by the handler built into QtGui. Told the format and to look no further, the reader
// asks no plugin; otherwise it loads them all first, to let one take the format over.
QImage PngOf(QIODevice* pDevice) {
    QImageReader reader(pDevice, "png");
    reader.setAutoDetectImageFormat(false);
    return reader.read();
}

// A 32-bit bitmap entry: a BITMAPINFOHEADER whose height counts the colour rows and the mask's,
// then the rows bottom-up in B, G, R, A; the mask after them is left out, the alpha says it.
// Null for any other kind of entry (the 16-colour art, which no Linux desktop needs).
QImage BitmapOf(const QByteArray& bytes) {
    if (bytes.size() < kBitmapHeaderBytes) return {};
    const auto* p = reinterpret_cast<const uchar*>(bytes.constData());
    const quint32 nHeaderBytes = qFromLittleEndian<quint32>(p);
    const qint32 nWidth = qFromLittleEndian<qint32>(p + 4);
    const qint32 nHeight = qFromLittleEndian<qint32>(p + 8) / 2;
    const quint16 nBits = qFromLittleEndian<quint16>(p + 14);
    const quint32 nCompression = qFromLittleEndian<quint32>(p + 16);
    if (nHeaderBytes != kBitmapHeaderBytes || nBits != 32 || nCompression != 0 || nWidth <= 0 ||
        nWidth > 256 || nHeight != nWidth)
        return {};
    const qsizetype nStride = qsizetype(nWidth) * 4;
    if (bytes.size() < kBitmapHeaderBytes + nStride * nHeight) return {};
    QImage image(nWidth, nHeight, QImage::Format_ARGB32);
    for (int y = 0; y < nHeight; ++y) {
        const uchar* pRow = p + kBitmapHeaderBytes + nStride * (nHeight - 1 - y);
        auto* pOut = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < nWidth; ++x, pRow += 4)
            pOut[x] = qRgba(pRow[2], pRow[1], pRow[0], pRow[3]);
    }
    return image;
}

// Every picture of an .ico file, by its width; null images are left out.
std::map<int, QImage> IcoImages(const QByteArray& ico) {
    std::map<int, QImage> images;
    const auto* p = reinterpret_cast<const uchar*>(ico.constData());
    if (ico.size() < kIcoHeaderBytes || qFromLittleEndian<quint16>(p + 2) != 1) return images;
    const int nCount = qFromLittleEndian<quint16>(p + 4);
    for (int i = 0; i < nCount; ++i) {
        const qsizetype at = kIcoHeaderBytes + qsizetype(i) * kIcoEntryBytes;
        if (at + kIcoEntryBytes > ico.size()) break;
        const quint32 nBytes = qFromLittleEndian<quint32>(p + at + 8);
        const quint32 nOffset = qFromLittleEndian<quint32>(p + at + 12);
        if (nOffset > quint64(ico.size()) || nBytes > quint64(ico.size()) - nOffset) continue;
        QByteArray entry = ico.mid(nOffset, nBytes);
        QBuffer buffer(&entry);
        const QImage image = !entry.startsWith(QByteArray(kPngSignature, 8)) ? BitmapOf(entry)
                             : buffer.open(QIODevice::ReadOnly)              ? PngOf(&buffer)
                                                                             : QImage();
        // Where a size comes twice, the later picture: the true-colour one that follows the
        // 16-colour art.
        if (!image.isNull()) images[image.width()] = image;
    }
    return images;
}

}  // namespace

QIcon QtIconOf(UINT nResourceId) {
    QFile file(QStringLiteral(":/icons/%1.ico").arg(nResourceId));
    const std::map<int, QImage> images =
        file.open(QIODevice::ReadOnly) ? IcoImages(file.readAll()) : std::map<int, QImage>();
    QIcon icon;
    for (const auto& [size, image] : images) icon.addPixmap(QPixmap::fromImage(image));
    // The program's icon has the theme's larger pictures too, for the window and the About
    // box on screens of a higher density.
    for (int size : {128, 256}) {
        QFile png(QStringLiteral(":/icons/%1-%2.png").arg(nResourceId).arg(size));
        if (images.count(size) == 0 && png.open(QIODevice::ReadOnly)) {
            const QImage image = PngOf(&png);
            if (!image.isNull()) icon.addPixmap(QPixmap::fromImage(image));
        }
    }
    return icon;
}

QPixmap QtPixmapOf(HICON icon) {
    if (icon == nullptr) return {};
    return QtIconOf(icon->nResourceId).pixmap(QSize(icon->cx, icon->cy));
}
