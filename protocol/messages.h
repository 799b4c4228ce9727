#pragma once

#include <cstddef>

// Every message the bridge sends in an error line, as UTF-8, with its length
// in bytes beside it. The lengths are checked as the program compiles, so a
// text that is changed by mistake (a lost byte, another encoding) does not
// build; the end-to-end tests hold their own copy of every text.
namespace status_bridge {

// The length in bytes of the message `text`, without its terminating NUL.
template <size_t kSize>
constexpr size_t MessageBytes(const char (&)[kSize]) {
  return kSize - 1;
}

// Followed by the library path that failed to load.
inline constexpr char kLoadFailedMessage[] = "无法加载 LMCDLL70.dll: ";
static_assert(MessageBytes(kLoadFailedMessage) == 27);

inline constexpr char kExportMissingMessage[] =
    "LMCDLL70.dll 中没有 IsVerifiedReuseBlock 导出";
static_assert(MessageBytes(kExportMissingMessage) == 50);

inline constexpr char kPrivateCallDisabledMessage[] =
    "私有 MFC 状态调用未启用；仅完成导出探测";
static_assert(MessageBytes(kPrivateCallDisabledMessage) == 56);

inline constexpr char kMissingRequestMessage[] = "缺少 JSON 请求";
static_assert(MessageBytes(kMissingRequestMessage) == 18);

inline constexpr char kInvalidRequestMessage[] =
    "请求必须包含 op=is_verified、request_id、lmc_file 和 block_name";
static_assert(MessageBytes(kInvalidRequestMessage) == 72);

inline constexpr char kStatusCallExceptionMessage[] =
    "调用 Mentor 私有状态函数时发生异常";
static_assert(MessageBytes(kStatusCallExceptionMessage) == 47);

inline constexpr char kEmptyRequestMessage[] = "空请求";
static_assert(MessageBytes(kEmptyRequestMessage) == 9);

// lmc_file or block_name has a character the ANSI code page cannot hold.
inline constexpr char kUnrepresentableTextMessage[] =
    "lmc_file 或 block_name 含有本机 ANSI 代码页无法表示的字符";
static_assert(MessageBytes(kUnrepresentableTextMessage) == 72);

// MFC, in which the vendor library runs, could not be initialised.
inline constexpr char kMfcInitFailedMessage[] = "MFC 初始化失败 (AfxWinInit)";
static_assert(MessageBytes(kMfcInitFailedMessage) == 32);

}  // namespace status_bridge
