// A DLL whose initialisation fails: its entry point refuses to be loaded, as
// a vendor library does whose start-up goes wrong. Without <windows.h>: the
// entry point's signature is BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID).
extern "C" __declspec(dllexport) int __stdcall DllMain(void* /*instance*/,
                                                       unsigned long /*reason*/,
                                                       void* /*reserved*/) {
  return 0;
}
