#include "app/Form1.h"
#include "app/WidgetMessageBox.h"
#include "cli/CommandLine.h"

#include <QApplication>
#include <QCoreApplication>

int main(int argc, char* argv[]) {
    // The command line runs without a display: no GUI application is made.
    if (IsCommandLineInvocation(argc, argv)) {
        QCoreApplication app(argc, argv);
        return RunCommandLine(app.arguments().mid(1));
    }
    QApplication app(argc, argv);
    Form1 form;
    InstallWidgetMessageBoxes(&form);
    form.Form_Load();
    form.show();
    return app.exec();
}
