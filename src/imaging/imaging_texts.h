#pragma once
// The texts imaging shows, shared by the dialog and the command line. Inline
// arrays: one object each in the whole program, so a refusal can be told by
// its text's address.
namespace quorvel {

// Checks of the dialog's start, in order.
inline constexpr char kImagingNoSource[] = "请选择源磁盘信息";
inline constexpr char kImagingNoCount[] = "请填写源磁盘镜像大小";
inline constexpr char kImagingNoSourceStart[] = "请填写源磁盘镜像起始扇区";
inline constexpr char kImagingNoTarget[] = "请选择目标磁盘信息";
inline constexpr char kImagingNoTargetStart[] = "请填写目标磁盘镜像起始扇区";
inline constexpr char kImagingNoFile[] = "请选择目标文件路径";
// The copy.
inline constexpr char kImagingOpenFailed[] = "打开失败";
inline constexpr char kImagingWriteFailed[] = "磁盘有坏道，请重新选择目标文件";
inline constexpr char kImagingDone[] = "镜像完毕";
inline constexpr char kImagingSectorsDone[] = "扇区完成镜像";
inline constexpr char kImagingBadRow[] = "第%d个坏扇区";
// Refusals made before anything is opened for writing.
inline constexpr char kImagingTargetIsSource[] = "目标位于源磁盘上，镜像会覆盖正在抢救的数据，请重新选择目标";
inline constexpr char kImagingTargetMounted[] = "目标磁盘上有已挂载的分区，请先卸载";
inline constexpr char kImagingTargetTooSmall[] = "目标空间不足，无法容纳镜像";
inline constexpr char kImagingTargetComposite[] = "跨磁盘的卷不能作为镜像目标";
inline constexpr char kImagingOutsideSource[] = "起始扇区超出源磁盘范围";
inline constexpr char kImagingTargetOpenFailed[] = "无法打开目标";
inline constexpr char kImagingNotAFile[] = "目标文件路径不是普通文件";
// Asked once before a disk is opened for writing; %1 names the disk.
inline constexpr char kImagingConfirmDisk[] = "目标磁盘 %1 上的数据将被覆盖，确定继续吗？";
inline constexpr char kImagingBusy[] = "警告: 等待当前操作完成";

}  // namespace quorvel
