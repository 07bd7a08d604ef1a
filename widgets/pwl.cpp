// The toolkit's windows and controls come with the toolkit itself; until
// then the browser phase brings up nothing here.
#include "widgets/pwl.h"

Result PwlInit() { return kOk; }
void PwlShutdown() {}
