#include "app/MainModule.h"

#include "core/MessageSeam.h"
#include "core/VbError.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QPalette>
#include <QRadioButton>
#include <QStandardPaths>
#include <QWidget>

namespace {
SpecialFolderLookup& lookup() {
    static SpecialFolderLookup l;
    return l;
}
QString& programFolderOverride() {
    static QString f;
    return f;
}

QString platformSpecialFolder(int folderId) {
    if (folderId != 0)
        return {};
    return QStandardPaths::writableLocation(QStandardPaths::DesktopLocation);
}

void setBackground(QWidget* w, const QColor& colour) {
    QPalette p = w->palette();
    p.setColor(QPalette::Window, colour);
    w->setPalette(p);
    w->setAutoFillBackground(true);
}

template <typename Paint> void colourWindow(QWidget* window, Paint paint) {
    paint(window);
    const auto children = window->findChildren<QWidget*>();
    for (QWidget* child : children) {
        if (qobject_cast<QGroupBox*>(child) || qobject_cast<QLabel*>(child) ||
            qobject_cast<QRadioButton*>(child) || qobject_cast<QCheckBox*>(child))
            paint(child);
    }
}
} // namespace

QString ApplicationTitleFor(const QString& displayName) {
    QString title = displayName;
    if (!title.contains(QLatin1Char(' ')))
        return title;
    do {
        const qsizetype blank = title.lastIndexOf(QLatin1Char(' '));
        if (blank < 0)
            break;
        title.truncate(blank);
    } while (title.size() > 40);
    return title;
}

void SetApplicationTitle() {
    MessageSeam::setApplicationTitle(ApplicationTitleFor(QStringLiteral("Pellmor")));
}

SpecialFolderLookup SetSpecialFolderLookup(SpecialFolderLookup l) {
    SpecialFolderLookup previous = std::move(lookup());
    lookup() = std::move(l);
    return previous;
}

QString GetSpecialFolderPath(int folderId) {
    const QString path = lookup() ? lookup()(folderId) : platformSpecialFolder(folderId);
    if (path.isEmpty())
        return {};
    return QDir::toNativeSeparators(path) + QChar(0);
}

QString GetDesktopFolder() {
    const QString buffer = GetSpecialFolderPath(0);
    const qsizetype zero = buffer.lastIndexOf(QChar(0));
    if (zero < 0)
        throw VbError::invalidProcedureCall();
    return buffer.left(zero) + QDir::separator();
}

QString ProgramFolder() {
    if (!programFolderOverride().isEmpty())
        return programFolderOverride();
    return QCoreApplication::applicationDirPath();
}

void SetProgramFolder(const QString& folder) {
    programFolderOverride() = folder;
}

bool FileExists(const QString& path) {
    const QFileInfo info(path);
    return info.exists() && info.lastModified().isValid();
}

QString SkinFilePath() {
    return ProgramFolder() + QDir::separator() + QStringLiteral("x") + QDir::separator() +
           QStringLiteral("o.cjs");
}

QString HandCursorPath() {
    return ProgramFolder() + QDir::separator() + QStringLiteral("HAND-M.CUR");
}

void ApplyFormColours(QWidget* window) {
    const QColor face = window->palette().color(QPalette::Active, QPalette::Button);
    colourWindow(window, [&](QWidget* w) { setBackground(w, face); });
}

void ApplyDesignColours(QWidget* window) {
    colourWindow(window, [](QWidget* w) { setBackground(w, Qt::white); });
}

bool ApplySkin(QWidget* window) {
    // A directory search for the one name: hidden files do not count.
    const QFileInfo skin(SkinFilePath());
    if (!skin.isFile() || skin.isHidden())
        return false;
    // There is no skin engine on this platform: the skin is the colours.
    ApplyFormColours(window);
    return true;
}

#include <QIcon>
#include <QPainter>
#include <QPixmap>

QIcon ProgramIcon() {
    static const QIcon icon = [] {
        QIcon i;
        for (int size : {16, 32, 64}) {
            QPixmap pm(size, size);
            pm.fill(Qt::transparent);
            QPainter p(&pm);
            p.setRenderHint(QPainter::Antialiasing);
            p.setBrush(QColor(0x1f, 0x6f, 0xb5));
            p.setPen(Qt::NoPen);
            p.drawRoundedRect(QRectF(0, 0, size, size), size / 6.0, size / 6.0);
            // An upward arrow: local to remote, one way.
            p.setBrush(Qt::white);
            const qreal s = size;
            const QPointF arrow[] = {{s * 0.5, s * 0.15},  {s * 0.82, s * 0.5},
                                     {s * 0.62, s * 0.5},  {s * 0.62, s * 0.85},
                                     {s * 0.38, s * 0.85}, {s * 0.38, s * 0.5},
                                     {s * 0.18, s * 0.5}};
            p.drawPolygon(arrow, 7);
            p.end();
            i.addPixmap(pm);
        }
        return i;
    }();
    return icon;
}
