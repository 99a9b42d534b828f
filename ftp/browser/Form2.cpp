#include "Form2.h"

Form2::Form2(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("Form2"));
}

// Placeholder; the real dialog replaces it.
QString Form2::SelectFTPFolder() {
    return selectedFolder_;
}
