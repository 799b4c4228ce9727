// A DLL of the other bitness than the build's own (x64 beside a 32-bit
// bridge, x86 beside the 64-bit test build), which the bridge cannot load.
extern "C" __declspec(dllexport) int StandInOtherBitness() { return 0; }
