#include "clitool.h"

#include <QTextStream>

namespace brisko::cli {

int run(const QStringList &arguments)
{
    QTextStream out(stdout);
    QTextStream err(stderr);
    return run(arguments, out, err);
}

int run(const QStringList &arguments, QTextStream &out, QTextStream &err)
{
    Q_UNUSED(arguments);
    Q_UNUSED(out);
    Q_UNUSED(err);
    return 0;
}

} // namespace brisko::cli
