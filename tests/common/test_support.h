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
// The computer's clock as the tests take it unless they say otherwise: the real time, kept in
// step (the test machine's own time service may be off).
void useSynchronisedComputerClock();

} // namespace bw::test
