#pragma once

// Every message the bridge sends in an error line, as UTF-8 bytes.
namespace status_bridge {

// Followed by the library path that failed to load.
inline constexpr char kLoadFailedMessage[] = "无法加载 LMCDLL70.dll: ";
inline constexpr char kExportMissingMessage[] =
    "LMCDLL70.dll 中没有 IsVerifiedReuseBlock 导出";
inline constexpr char kPrivateCallDisabledMessage[] =
    "私有 MFC 状态调用未启用；仅完成导出探测";
inline constexpr char kMissingRequestMessage[] = "缺少 JSON 请求";
inline constexpr char kInvalidRequestMessage[] =
    "请求必须包含 op=is_verified、request_id、lmc_file 和 block_name";
inline constexpr char kVendorExceptionMessage[] =
    "调用 Mentor 私有状态函数时发生异常";
inline constexpr char kEmptyRequestMessage[] = "空请求";
// lmc_file or block_name holds a character that the machine's ANSI code page,
// in which the vendor library reads them, cannot represent.
inline constexpr char kUnrepresentableTextMessage[] =
    "lmc_file 或 block_name 含有本机 ANSI 代码页无法表示的字符";
// MFC, in which the vendor library runs, could not be initialised.
inline constexpr char kMfcInitFailedMessage[] = "MFC 初始化失败 (AfxWinInit)";

}  // namespace status_bridge
