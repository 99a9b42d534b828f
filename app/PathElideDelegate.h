#pragma once

#include <QFontMetrics>
#include <QString>
#include <QStyledItemDelegate>

// Draws paths in the cells of a list so that what tells them apart stays in
// sight. Paths of one run share their start and differ at their end, so a
// path too long for its cell keeps its start, its file and the file's folder
// and loses what lies between ("/tmp/site…/img/photo.jpg"); where not even
// the file and its folder fit, it keeps as much of its end as fits.
class PathElideDelegate : public QStyledItemDelegate {
    Q_OBJECT
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;

    // The path as it fits into width pixels of that font.
    static QString elidePath(const QString& path, const QFontMetrics& metrics, int width);
};
