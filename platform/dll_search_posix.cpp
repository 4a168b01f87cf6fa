// The DLL search restriction, elsewhere: the loader has no application folder to leave out.
#include "platform/dll_search.h"

namespace qwus {

bool restrictDllSearchToSystem() { return true; }

}  // namespace qwus
