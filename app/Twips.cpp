#include "app/Twips.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

namespace {
const QScreen* screenOf(const QWidget* widget) {
    const QScreen* s = widget ? widget->screen() : nullptr;
    return s ? s : QGuiApplication::primaryScreen();
}
} // namespace

int TwipsToPixelsX(const QWidget* widget, int twips) {
    const QScreen* s = screenOf(widget);
    return qRound(twips * (s ? s->logicalDotsPerInchX() : 96.0) / 1440.0);
}

int TwipsToPixelsY(const QWidget* widget, int twips) {
    const QScreen* s = screenOf(widget);
    return qRound(twips * (s ? s->logicalDotsPerInchY() : 96.0) / 1440.0);
}
