#include "app/WidgetMessageBox.h"

#include "core/MessageSeam.h"

#include <QMessageBox>
#include <QPointer>
#include <QPushButton>

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
        const auto icon =
            box.icon == MessageBoxSpec::Icon::Warning ? QMessageBox::Warning : QMessageBox::NoIcon;
        if (box.buttons.isEmpty()) {
            QMessageBox mb(icon, box.caption, displayText(box.text), QMessageBox::Ok, guard.data());
            mb.setTextFormat(Qt::PlainText);
            mb.exec();
            return 0;
        }
        QMessageBox mb(icon, box.caption, displayText(box.text), QMessageBox::NoButton,
                       guard.data());
        mb.setTextFormat(Qt::PlainText);
        QList<QAbstractButton*> buttons;
        for (const QString& text : box.buttons)
            buttons.append(mb.addButton(text, QMessageBox::ActionRole));
        if (box.escapeButton >= 0 && box.escapeButton < buttons.size()) {
            // The cautious answer is also the one Enter gives.
            mb.setEscapeButton(buttons[box.escapeButton]);
            mb.setDefaultButton(qobject_cast<QPushButton*>(buttons[box.escapeButton]));
        }
        mb.exec();
        const qsizetype chosen = buttons.indexOf(mb.clickedButton());
        return chosen < 0 ? box.escapeButton : int(chosen);
    });
}
