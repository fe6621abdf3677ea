#include "ui_test_support.h"

#include <sys/stat.h>
#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QMap>
#include <QProcess>
#include <QStandardPaths>
#include <QThread>
#include <cstdlib>

namespace quorvel::uitest {

std::string FixturePath(const std::string& name) { return std::string(QUORVEL_FIXTURE_DIR) + "/" + name; }

bool HaveFixture(const std::string& name) {
  struct stat st {};
  if (stat(FixturePath(name).c_str(), &st) == 0) return true;
  // Under CI a window test must not pass by skipping what it checks.
  if (CiRequiresAll()) qFatal("fixture %s was not built (CI=true)", name.c_str());
  return false;
}

CommandResult RunQuorvel(const QStringList& arguments) {
  QProcess process;
  process.start(QStringLiteral(QUORVEL_CLI), arguments);
  CommandResult result;
  if (!process.waitForFinished(600000)) return result;
  result.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
  result.out = process.readAllStandardOutput();
  result.err = process.readAllStandardError();
  return result;
}

QByteArray FileSha256(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return {};
  QCryptographicHash hash(QCryptographicHash::Sha256);
  hash.addData(&file);
  return hash.result().toHex();
}

QMap<QString, QByteArray> TreeHashes(const QString& root) {
  QMap<QString, QByteArray> hashes;
  QDirIterator it(root, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
  while (it.hasNext()) {
    QString path = it.next();
    hashes.insert(path.mid(root.size() + 1), FileSha256(path));
  }
  return hashes;
}

bool WaitUntil(const std::function<bool()>& condition, int timeoutMs) {
  QElapsedTimer timer;
  timer.start();
  while (!condition()) {
    if (timer.elapsed() > timeoutMs) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    QThread::msleep(2);
  }
  return true;
}

bool CiRequiresAll() {
  const char* ci = std::getenv("CI");
  return ci && std::string(ci) == "true";
}

bool RunTool(const QString& program, const QStringList& arguments, QByteArray* out) {
  QProcess process;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert(QStringLiteral("PATH"), env.value(QStringLiteral("PATH")) + QStringLiteral(":/usr/sbin:/sbin"));
  env.insert(QStringLiteral("MTOOLS_SKIP_CHECK"), QStringLiteral("1"));
  process.setProcessEnvironment(env);
  QString path = QStandardPaths::findExecutable(program);
  if (path.isEmpty())
    path = QStandardPaths::findExecutable(program, {QStringLiteral("/usr/sbin"), QStringLiteral("/sbin")});
  if (path.isEmpty()) return false;
  process.start(path, arguments);
  const bool ok =
      process.waitForFinished(120000) && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
  if (out) *out = process.readAllStandardOutput();
  return ok;
}

CTreeListCtrl::Row ChildNamed(CTreeListCtrl* tree, CTreeListCtrl::Row parent, const QString& name) {
  for (auto r = parent ? tree->GetChildItem(parent) : tree->GetRootItem(); r; r = tree->GetNextSiblingItem(r))
    if (tree->GetItemText(r, 0) == name) return r;
  return nullptr;
}

}  // namespace quorvel::uitest
