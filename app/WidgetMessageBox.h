#pragma once

class QWidget;

// Installs the message seam's handler that shows real message boxes, modal to
// the given window.
void InstallWidgetMessageBoxes(QWidget* owner);
