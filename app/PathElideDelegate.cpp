#include "app/PathElideDelegate.h"

#include <QApplication>
#include <QPainter>
#include <QStyle>

QString PathElideDelegate::elidePath(const QString& path, const QFontMetrics& metrics, int width) {
    if (metrics.horizontalAdvance(path) <= width)
        return path;
    const QString ellipsis(QChar(0x2026));
    const qsizetype name = path.lastIndexOf(u'/');
    const qsizetype folder = name > 0 ? path.lastIndexOf(u'/', name - 1) : -1;
    if (folder > 0) {
        const QString tail = ellipsis + path.mid(folder);
        const int room = width - metrics.horizontalAdvance(tail);
        if (room >= 0) {
            // The longest start that fits.
            qsizetype low = 0;
            qsizetype high = folder;
            while (low < high) {
                const qsizetype mid = (low + high + 1) / 2;
                if (metrics.horizontalAdvance(path.left(mid)) <= room)
                    low = mid;
                else
                    high = mid - 1;
            }
            if (low > 0 && path.at(low - 1).isHighSurrogate())
                --low;
            return path.left(low) + tail;
        }
    }
    return metrics.elidedText(path, Qt::ElideLeft, width);
}

void PathElideDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                              const QModelIndex& index) const {
    QStyleOptionViewItem cell = option;
    initStyleOption(&cell, index);
    const QWidget* view = cell.widget;
    QStyle* style = view ? view->style() : QApplication::style();
    if (!cell.text.isEmpty()) {
        // Where the style draws the text, less the margins it keeps on both sides.
        const int margin = style->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, view) + 1;
        const QRect text = style->subElementRect(QStyle::SE_ItemViewItemText, &cell, view);
        cell.text = elidePath(cell.text, cell.fontMetrics, text.width() - 2 * margin);
    }
    style->drawControl(QStyle::CE_ItemViewItem, &cell, painter, view);
}
