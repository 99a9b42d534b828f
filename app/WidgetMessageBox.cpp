#include "app/WidgetMessageBox.h"

#include "app/core/MessageSeam.h"

#include <QMessageBox>
#include <QPointer>

namespace {
// The report's text carries Windows line breaks (CR LF and lone CRs); a label
// breaks lines at LF only.
QString displayText(QString text) {
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return text;
}
} // namespace

void InstallWidgetMessageBoxes(QWidget* owner) {
    QPointer<QWidget> guard(owner);
    MessageSeam::install([guard](const MessageBoxSpec& box) {
        QMessageBox mb(box.icon == MessageBoxSpec::Icon::Warning ? QMessageBox::Warning
                                                                 : QMessageBox::NoIcon,
                       box.caption, displayText(box.text), QMessageBox::Ok, guard.data());
        mb.setTextFormat(Qt::PlainText);
        mb.exec();
    });
}
