// The emulator. It reads no command line: everything comes from qor.ini and
// the files beside it in the working directory.
#include "host/qt/qthost.h"

int main() { return QtHostMain(); }
