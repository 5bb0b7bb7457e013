// The sample generator's command line:
//   findlark-samplegen FOLDER [NAME...]
// writes every sample (or the named ones) into FOLDER, creating it. Exit 0
// when all were written; otherwise each failure is named on stderr and the
// exit status is 1 (2 for a usage error). Sets up its own QGuiApplication
// (offscreen unless QT_QPA_PLATFORM says otherwise).
#pragma once

namespace samplegen {

int runGenerator(int argc, char* argv[]);

}  // namespace samplegen
