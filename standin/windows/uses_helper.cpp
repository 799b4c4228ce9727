// Makes the stand-in vendor library import lmc_helper.dll: an exported
// function calls into it, so the linker keeps the import.
extern "C" __declspec(dllimport) int StandInVendorHelper();

extern "C" __declspec(dllexport) int StandInUsesHelper() {
  return StandInVendorHelper();
}
