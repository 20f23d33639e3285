#include "BriskoApplication.h"

#include <QMainWindow>

int main(int argc, char **argv)
{
    // The HTML views share one GL context with the window.
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    brisko::BriskoApplication app(argc, argv);
    app.setStyle(QStringLiteral("Fusion"));
    if (!app.loadInterface())
        return 1;
    app.window()->show();
    app.applicationDidFinishLaunching();

    // Campaign files handed over by the desktop (the .desktop file's %f) or a shell.
    const QStringList arguments = QCoreApplication::arguments().mid(1);
    for (const QString &argument : arguments) {
        if (!argument.startsWith(u'-'))
            app.application(&app, argument);
    }
    return app.exec();
}
