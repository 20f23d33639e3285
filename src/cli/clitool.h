#pragma once

#include <QStringList>

class QTextStream;

namespace brisko::cli {

// Runs one brisko-cli invocation; arguments[0] is the program name. Returns the exit status.
int run(const QStringList &arguments);
int run(const QStringList &arguments, QTextStream &out, QTextStream &err);

} // namespace brisko::cli
