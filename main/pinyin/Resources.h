#pragma once

#include <QString>

namespace tellwire {

// The folder of the files the program reads at run time: <exe dir>/../share/tellwire,
// which is <prefix>/share/tellwire once installed and build/share/tellwire in the
// build tree. Works with or without a QCoreApplication.
QString resourceDirectory();

// The full path of one resource file in resourceDirectory(); the file may not exist.
QString resourcePath(const QString& name);

} // namespace tellwire
