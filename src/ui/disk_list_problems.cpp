#include "ui/disk_list_problems.h"

#include <cerrno>
#include <cstring>

namespace quorvel {

namespace {

const char* const kPermission = "权限不足";
const char* const kPermissionHint = "; 读取物理磁盘需要 root 权限或 disk 组";
const char* const kNoDisks = "警告: 没有找到可读取的磁盘; 请用\"打开镜像文件\"打开磁盘镜像";

QString Q(const char* text) { return QString::fromUtf8(text); }

// "PATH: reason" -> PATH.
QString PathOf(const std::string& why) {
  const size_t colon = why.find(": ");
  return QString::fromStdString(colon == std::string::npos ? why : why.substr(0, colon));
}

}  // namespace

QString OpenFailureReason(const std::string& why) {
  const size_t colon = why.find(": ");
  const std::string reason = colon == std::string::npos ? std::string() : why.substr(colon + 2);
  if (reason == std::strerror(EACCES) || reason == std::strerror(EPERM)) return Q(kPermission);
  if (reason == std::strerror(ENOENT)) return QStringLiteral("文件不存在");
  if (reason == std::strerror(EBUSY)) return QStringLiteral("设备忙");
  if (reason.find("not a disk or an image file") != std::string::npos) return QStringLiteral("不是磁盘或镜像文件");
  return QString::fromStdString(reason);
}

QString DiskOpenProblem(const std::string& why) {
  const QString reason = OpenFailureReason(why);
  return QStringLiteral("磁盘 %1 无法打开").arg(PathOf(why)) + (reason.isEmpty() ? QString() : " (" + reason + ")");
}

QString ImageOpenProblem(const QString& image, const std::string& why) {
  const QString reason = OpenFailureReason(why);
  return QStringLiteral("镜像文件 %1 无法打开").arg(image) + (reason.isEmpty() ? QString() : " (" + reason + ")");
}

QString ListProblemsText(const QStringList& problems, bool listEmpty) {
  if (problems.isEmpty()) return listEmpty ? Q(kNoDisks) : QString();
  QString text = QStringLiteral("警告: ") + problems.join(QStringLiteral("; "));
  if (text.contains(Q(kPermission))) text += Q(kPermissionHint);
  return text;
}

}  // namespace quorvel
