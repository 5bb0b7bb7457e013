// The help builder's command line:
//   findlark-helpbuild SOURCE.html OUTPUT.pdf
// lays out the HTML help source on A4 pages with page numbers and writes the
// PDF (fonts embedded, fixed dates). Exit 0 on success, 1 when the source
// cannot be read or the PDF cannot be written, 2 for a usage error.
#pragma once

namespace helpbuild {

int runHelpBuilder(int argc, char* argv[]);

}  // namespace helpbuild
