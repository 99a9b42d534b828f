#include "app/Form1.h"
#include "app/WidgetMessageBox.h"

#include <QApplication>
#include <QCoreApplication>

#include <cstdio>
#include <cstring>

int main(int argc, char* argv[]) {
    // Asking for the version needs no display.
    if (argc > 1 && (std::strcmp(argv[1], "--version") == 0 || std::strcmp(argv[1], "-v") == 0)) {
        QCoreApplication app(argc, argv);
        std::printf("pellmor %s\n", PELLMOR_VERSION);
        return 0;
    }
    QApplication app(argc, argv);
    Form1 form;
    InstallWidgetMessageBoxes(&form);
    form.Form_Load();
    form.show();
    return app.exec();
}
