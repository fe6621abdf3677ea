#include "ui_test_support.h"

#include <QCryptographicHash>
#include <QDirIterator>
#include <QFile>
#include <QMap>
#include <QProcess>
#include <sys/stat.h>

namespace quorvel::uitest {

std::string FixturePath(const std::string& name) { return std::string(QUORVEL_FIXTURE_DIR) + "/" + name; }

bool HaveFixture(const std::string& name) {
  struct stat st {};
  return stat(FixturePath(name).c_str(), &st) == 0;
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

}  // namespace quorvel::uitest
