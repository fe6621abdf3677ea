#pragma once
// Why the disk page lists fewer disks than the user expects: the disks and
// image files that could not be opened, worded for the page's status line.
#include <QString>
#include <QStringList>
#include <string>

namespace quorvel {

// A physical disk that could not be opened ("PATH: reason" as the disk
// enumeration reports it): "磁盘 /dev/sda 无法打开 (权限不足)".
QString DiskOpenProblem(const std::string& why);
// An image file given on the command line that could not be opened.
QString ImageOpenProblem(const QString& image, const std::string& why);
// The reason part of "PATH: reason" in the page's language.
QString OpenFailureReason(const std::string& why);

// The status line for the problems (a warning), or for a list with no disk
// at all; empty when there is nothing to say.
QString ListProblemsText(const QStringList& problems, bool listEmpty);

}  // namespace quorvel
