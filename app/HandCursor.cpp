#include "app/HandCursor.h"

#include <QBuffer>
#include <QFile>
#include <QImage>
#include <QImageReader>
#include <QPixmap>
#include <QtEndian>

std::optional<QCursor> LoadCursorFile(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    // Cursor files are small; anything large is not one.
    if (file.size() > 1024 * 1024)
        return std::nullopt;
    const QByteArray bytes = file.readAll();
    // Header: reserved (0), type (2 = cursor), count; then 16-byte entries
    // whose bytes 4..7 hold the hot spot.
    if (bytes.size() < 6 + 16)
        return std::nullopt;
    const auto* p = reinterpret_cast<const uchar*>(bytes.constData());
    if (qFromLittleEndian<quint16>(p) != 0 || qFromLittleEndian<quint16>(p + 2) != 2 ||
        qFromLittleEndian<quint16>(p + 4) == 0)
        return std::nullopt;
    const int hotX = qFromLittleEndian<quint16>(p + 6 + 4);
    const int hotY = qFromLittleEndian<quint16>(p + 6 + 6);

    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer, "cur");
    QImage image = reader.read();
    if (image.isNull())
        return std::nullopt;
    if (hotX >= image.width() || hotY >= image.height())
        return std::nullopt;
    return QCursor(QPixmap::fromImage(image), hotX, hotY);
}
