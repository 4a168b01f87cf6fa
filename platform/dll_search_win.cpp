// The DLL search restriction, on Windows: SetDefaultDllDirectories.
#include <windows.h>

#include "platform/dll_search.h"

namespace qwus {

bool restrictDllSearchToSystem() {
  return SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32) != FALSE;
}

}  // namespace qwus
