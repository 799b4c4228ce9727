// lmc_helper.dll: a DLL that one stand-in vendor library needs, kept in that
// library's own folder, where plain LoadLibraryW does not look for it. It
// shows how a vendor library with a dependency fails to load, and that the
// folder on PATH cures it.
extern "C" __declspec(dllexport) int StandInVendorHelper() { return 1; }
