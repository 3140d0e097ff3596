#include "platform/linux/qticontheme.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QIcon>
#include <QImage>
#include <QPixmap>
#include <QSaveFile>
#include <QStandardPaths>
#include <QtEndian>

#include "framework/linux/qtbackend.h"

namespace {

// The status sizes of the hicolor theme that panels of 16 to 32 pixels ask for, at scale 1 and
// 2: a host that reads the desktop's hicolor index finds them in the same folders.
struct CThemeFolder {
    int nSize;
    int nScale;
};
constexpr CThemeFolder kFolders[] = {{16, 1}, {22, 1}, {24, 1}, {32, 1}, {48, 1},
                                     {64, 1}, {16, 2}, {22, 2}, {24, 2}, {32, 2}};

QString FolderName(const CThemeFolder& folder) {
    return QStringLiteral("%1x%1%2/status")
        .arg(folder.nSize)
        .arg(folder.nScale > 1 ? QStringLiteral("@%1").arg(folder.nScale) : QString());
}

// Writes the bytes unless the file holds them already.
bool Put(const QString& strPath, const QByteArray& bytes) {
    QFile existing(strPath);
    if (existing.open(QIODevice::ReadOnly) && existing.readAll() == bytes) return true;
    QSaveFile file(strPath);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.commit();
}

// A PNG of the image, written here: Qt's writer first loads every image plugin there is (gif,
// ico, jpeg with libjpeg), in case one would rather write the format. The rows unfiltered,
// compressed by zlib through QtCore: these are a few kilobytes in the runtime directory.
QByteArray PngOf(const QImage& image) {
    const QImage rgba = image.convertToFormat(QImage::Format_RGBA8888);
    QByteArray rows;
    rows.reserve((qsizetype(rgba.width()) * 4 + 1) * rgba.height());
    for (int y = 0; y < rgba.height(); ++y) {
        rows += '\0';  // no filter
        rows.append(reinterpret_cast<const char*>(rgba.constScanLine(y)), rgba.width() * 4);
    }
    QByteArray png("\x89PNG\r\n\x1a\n", 8);
    auto putBig32 = [&png](quint32 nValue) {
        char bytes[4];
        qToBigEndian(nValue, bytes);
        png.append(bytes, 4);
    };
    auto chunk = [&](const char* pszType, const QByteArray& data) {
        putBig32(quint32(data.size()));
        const qsizetype nStart = png.size();
        png.append(pszType, 4).append(data);
        quint32 nCrc = 0xffffffffu;
        for (qsizetype i = nStart; i < png.size(); ++i) {
            nCrc ^= uchar(png[i]);
            for (int k = 0; k < 8; ++k) nCrc = (nCrc >> 1) ^ (0xedb88320u & (0u - (nCrc & 1)));
        }
        putBig32(~nCrc);
    };
    QByteArray header(13, '\0');
    qToBigEndian(quint32(rgba.width()), header.data());
    qToBigEndian(quint32(rgba.height()), header.data() + 4);
    header[8] = 8;  // bits a channel
    header[9] = 6;  // RGBA
    chunk("IHDR", header);
    // qCompress puts the length in front of the zlib stream.
    chunk("IDAT", qCompress(rows, 9).mid(4));
    chunk("IEND", QByteArray());
    return png;
}

QByteArray IndexTheme() {
    QByteArray index = "[Icon Theme]\nName=Quorvane\nComment=The tray pictures\nDirectories=";
    for (const CThemeFolder& folder : kFolders)
        index += FolderName(folder).toLatin1() + (&folder == std::end(kFolders) - 1 ? "\n" : ",");
    for (const CThemeFolder& folder : kFolders) {
        index += "\n[" + FolderName(folder).toLatin1() +
                 "]\nSize=" + QByteArray::number(folder.nSize) +
                 "\nScale=" + QByteArray::number(folder.nScale) + "\nContext=Status\nType=Fixed\n";
    }
    return index;
}

}  // namespace

QString IconThemeName(const QString& strAppName, UINT nResourceId) {
    return strAppName.toLower() + QLatin1Char('-') + QString::number(nResourceId);
}

QString ExportIconTheme(const QString& strAppName) {
    // Private to the user (Qt makes it so, and gives nothing when it is not).
    const QString runtime = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (runtime.isEmpty()) return {};
    const QString root =
        runtime + QLatin1Char('/') + strAppName.toLower() + QStringLiteral("-icons");
    const QString theme = root + QStringLiteral("/hicolor");
    bool bOk = QDir().mkpath(theme) && Put(theme + QStringLiteral("/index.theme"), IndexTheme());
    for (const QString& ico :
         QDir(QStringLiteral(":/icons")).entryList({QStringLiteral("*.ico")})) {
        const UINT nId = ico.section(QLatin1Char('.'), 0, 0).toUInt();
        const QIcon icon = QtIconOf(nId);
        for (const CThemeFolder& folder : kFolders) {
            const QString dir = theme + QLatin1Char('/') + FolderName(folder);
            const int nPixels = folder.nSize * folder.nScale;
            // Only a picture drawn at that size: a scaled one is what the theme is there to avoid.
            if (nId == 0 || !icon.availableSizes().contains(QSize(nPixels, nPixels))) continue;
            bOk = bOk && QDir().mkpath(dir) &&
                  Put(dir + QLatin1Char('/') + IconThemeName(strAppName, nId) +
                          QStringLiteral(".png"),
                      PngOf(icon.pixmap(QSize(nPixels, nPixels), 1.0).toImage()));
        }
    }
    return bOk ? root : QString();
}
