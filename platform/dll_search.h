// Where the process looks for the DLLs it loads at run time.
#pragma once

namespace qwus {

// From now on, a DLL loaded by name (LoadLibrary, and every system component that loads one on
// the process's behalf) is looked for in System32 only: never in the folder the executable runs
// from, the current folder or the PATH, where a user could have put one. The DLLs the executable
// imports are bound before this runs, from Windows' known DLLs. Returns false when the system
// refused (SetDefaultDllDirectories); elsewhere than on Windows there is nothing to restrict.
bool restrictDllSearchToSystem();

}  // namespace qwus
