#pragma once

#include <QString>

namespace bw::test {

// Folder of the build tree (for programs such as brackwater-sim) and of the sources.
QString buildDir();
QString sourceDir();
// Path of a program built by this project, e.g. program("brackwater-sim").
QString program(const QString& name);
// A fresh empty folder for one test (removed at exit).
QString tempDir();

} // namespace bw::test
