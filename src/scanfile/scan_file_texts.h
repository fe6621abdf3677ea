#pragma once
// What saving and opening a scan-result file say, on the disk page and on the
// command line alike.
namespace quorvel {

constexpr const char* kScanFileNoDisk = "警告: 没有选择磁盘";
constexpr const char* kScanFileChooseDisk = "警告: 请正确选择磁盘";
constexpr const char* kScanFileSaving = "正在保存扫描信息,请稍等...";
constexpr const char* kScanFileSaveCancelled = "保存扫描信息被取消";
constexpr const char* kScanFileCreateFailed = "错误: 创建保存文件失败";
constexpr const char* kScanFileWriteFailed = "错误: 写入保存文件失败";
constexpr const char* kScanFileSaved = "保存扫描信息结束";
constexpr const char* kScanFileOnSource = "警告: 扫描信息不能保存在源磁盘上, 请重新选择";
constexpr const char* kScanFileOpening = "正在打开扫描信息，请稍等...";
constexpr const char* kScanFileOpenCancelled = "打开扫描信息被取消";
constexpr const char* kScanFileOpened = "打开扫描信息结束";
constexpr const char* kScanFileOtherDisk = "警告: 不是该磁盘的信息";
constexpr const char* kScanFileOpenFailed = "错误: 打开扫描信息文件失败";
constexpr const char* kScanFileDamaged = "错误: 扫描信息文件已损坏, 已读取完整的部分";

// The save and open dialogs.
constexpr const char* kScanFileFilter =
    "rvz_scn Files(*.rvz_scn)|*.rvz_scn|Text Files(*.txt)|*.txt|All Files(*.*)|*.*||";

}  // namespace quorvel
