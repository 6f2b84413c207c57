// A library that the stand-in runtime loads by its bare name when told to
// ("load_dependency=1"), as a real runtime's libraries import its C runtime:
// which copy the system finds shows where the launcher lets it search.
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) { return TRUE; }
