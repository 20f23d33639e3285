#include "clitool.h"

#include <QCoreApplication>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("Brisko"));
    QCoreApplication::setApplicationName(QStringLiteral("Brisko"));
    QCoreApplication::setApplicationVersion(QStringLiteral(BRISKO_VERSION));
    return brisko::cli::run(QCoreApplication::arguments());
}
