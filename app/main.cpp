#include "app/Form1.h"
#include "app/WidgetMessageBox.h"

#include <QApplication>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    Form1 form;
    InstallWidgetMessageBoxes(&form);
    form.Form_Load();
    form.show();
    return app.exec();
}
