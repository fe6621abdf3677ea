#pragma once
// Helpers for the Qt tests of the windows: fixture images, running the
// command-line tool, hashing files.
#include <QByteArray>
#include <QMap>
#include <QString>
#include <QStringList>
#include <functional>
#include <string>

#include "ui/tree_list_ctrl.h"

namespace quorvel::uitest {

std::string FixturePath(const std::string& name);
bool HaveFixture(const std::string& name);

struct CommandResult {
  int exitCode = -1;
  QByteArray out;
  QByteArray err;
};
// Runs the `quorvel` executable with the given arguments (not through a shell).
CommandResult RunQuorvel(const QStringList& arguments);
QByteArray FileSha256(const QString& path);
// Every regular file below root, as path relative to root -> SHA-256.
QMap<QString, QByteArray> TreeHashes(const QString& root);
// Processes events until condition holds; false after timeoutMs.
bool WaitUntil(const std::function<bool()>& condition, int timeoutMs = 60000);
// Runs a program; true when it exits with 0. out receives its standard output.
bool RunTool(const QString& program, const QStringList& arguments, QByteArray* out = nullptr);
// CI=true: what a test was written to check must not be skipped (no fixture,
// no root, no FUSE); the test fails instead.
bool CiRequiresAll();

// The first row below parent (the top level when parent is null) whose first
// column reads name; null when there is none.
CTreeListCtrl::Row ChildNamed(CTreeListCtrl* tree, CTreeListCtrl::Row parent, const QString& name);

}  // namespace quorvel::uitest
