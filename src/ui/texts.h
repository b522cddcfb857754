// Every text the program shows, in one place: Vietnamese messages and status lines (UTF-16).
#pragma once

namespace text {

inline constexpr wchar_t ErrorCaption[] = L"Lỗi";
inline constexpr wchar_t WindowCaption[] = L"Setup";

// Product-code dialog
inline constexpr wchar_t CodeWrongLength[] = L"Mã phải có đúng 5 ký tự đầu tiên.";
inline constexpr wchar_t CodeBadCharacter[] = L"Chỉ được dùng chữ cái và số.";

// Progress window
inline constexpr wchar_t StatusSearching[] = L"Đang tìm kiếm phiên bản mới...";
inline constexpr wchar_t StatusPercentSuffix[] = L"% tải về";
inline constexpr wchar_t StatusDownloaded[] = L"100% tải về. Vui lòng đợi ...";
inline constexpr wchar_t CancelQuestion[] = L"Bạn có muốn hủy cài đặt không?";

// Install roads
inline constexpr wchar_t ComInitFailed[] = L"Không thể khởi tạo COM.";
inline constexpr wchar_t FirstFetchFailed[] = L"Không thể tải file ZIP khi thư mục chưa có.";
inline constexpr wchar_t ProductNotFound[] = L"Không tìm thấy bộ cài đặt cho mã sản phẩm này.";
inline constexpr wchar_t PackageNotSaved[] = L"Không lưu được tệp tin ZIP.";
inline constexpr wchar_t SetupMissingAfterUnpack[] = L"Không tìm thấy setup.exe sau khi giải nén.";
inline constexpr wchar_t ToolNotFetched[] = L"Không tải được công cụ giải nén.";
inline constexpr wchar_t ToolNotSaved[] = L"Lỗi lưu tệp.";
inline constexpr wchar_t ToolNotStarted[] = L"Không tìm thấy Setup.exe, vui lòng kiểm tra và thử lại!";
inline constexpr wchar_t UpdateCheckFailed[] = L"Không thể kiểm tra cập nhật từ server.";
inline constexpr wchar_t UpdateNotSaved[] = L"Không tải được bộ cài đặt.";
inline constexpr wchar_t SetupNotTrusted[] = L"Bộ cài đặt không có chữ ký số hợp lệ.";
inline constexpr wchar_t ToolNotTrusted[] = L"Công cụ giải nén không hợp lệ.";
inline constexpr wchar_t SetupNotOpened[] = L"Không mở được Setup.exe.";

// Shell extraction
inline constexpr wchar_t PathCopyFailed[] = L"Lỗi cấp phát bộ nhớ cho đường dẫn.";
inline constexpr wchar_t CreateFolderFailed[] = L"Không thể tạo thư mục đích.";
inline constexpr wchar_t ShellDispatchFailed[] = L"Không thể tạo Shell Dispatch.";
inline constexpr wchar_t OpenZipFailed[] = L"Không thể mở tệp ZIP.";
inline constexpr wchar_t OpenTargetFailed[] = L"Không thể mở thư mục đích.";
inline constexpr wchar_t ListItemsFailed[] = L"Không thể lấy danh sách tệp từ ZIP.";
inline constexpr wchar_t CopyFailed[] = L"Không thể giải nén tệp ZIP.";

}  // namespace text
