// A library that loads but has no status export, for the MSVC build's tests
// of that failure; the other builds compile status_export.cpp without the
// export's name. Linked with call_support.cpp, it writes the unload note
// like every stand-in.

// An export of another name, so that the library has an export table.
extern "C" __declspec(dllexport) int StandInHasNoStatusExport() { return 0; }
