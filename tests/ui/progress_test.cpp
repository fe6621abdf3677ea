// The progress bar's arithmetic and the dialog's thread hand-over.
#include <QSignalSpy>
#include <QTest>
#include <atomic>
#include <thread>

#include "ui/progress_dlg.h"
#include "ui/text_progress_ctrl.h"
#include "ui/xp_button.h"

using namespace quorvel;

class ProgressTest : public QObject {
  Q_OBJECT

 private slots:
  // Steps past the end must not overflow the bar or show more than 100 %.
  void StepsClampAtUpperBound() {
    CTextProgressCtrl bar;
    bar.resize(200, 20);
    bar.SetRange(0, 100);
    bar.SetStep(1);
    for (int i = 0; i < 150; ++i) bar.StepIt();
    QCOMPARE(bar.GetPos(), 100);
    QCOMPARE(bar.DisplayText(), QStringLiteral("100%"));
    QCOMPARE(bar.FilledWidth(), 200);
  }

  // A position beyond the range shows the upper bound, one below shows the lower.
  void PosClamps() {
    CTextProgressCtrl bar;
    bar.resize(100, 20);
    bar.SetRange(0, 100);
    QCOMPARE(bar.SetPos(500), 0);  // returns the previous position
    QCOMPARE(bar.GetPos(), 100);
    bar.SetPos(-3);
    QCOMPARE(bar.GetPos(), 0);
    bar.SetPos(37);
    QCOMPARE(bar.DisplayText(), QStringLiteral("37%"));
  }

  // An empty range must not divide by zero; it draws no text.
  void EmptyRangeDrawsNothing() {
    CTextProgressCtrl bar;
    bar.resize(100, 20);
    bar.SetRange(0, 0);
    bar.SetPos(10);
    QCOMPARE(bar.DisplayText(), QString());
    QCOMPARE(bar.FilledWidth(), 0);
    bar.grab();  // paints without crashing
  }

  // Own text wins over the percentage; the finished flag turns 100 % into "等待...".
  void OwnTextAndFinishedText() {
    CTextProgressCtrl bar;
    bar.SetRange(0, 10);
    bar.SetPos(10);
    bar.SetFinished(true);
    QCOMPARE(bar.DisplayText(), QStringLiteral("等待..."));
    bar.SetPos(5);
    QCOMPARE(bar.DisplayText(), QStringLiteral("50%"));
    bar.SetWindowText(QStringLiteral("abc"));
    QCOMPARE(bar.DisplayText(), QStringLiteral("abc"));
  }

  // Per-record reports must not repaint when the filled width and text stay.
  void UnchangedWidthCostsNoRedraw() {
    CTextProgressCtrl bar;
    bar.resize(100, 20);
    bar.SetRange(0, 1000000);
    int before = bar.RedrawRequests();
    for (int i = 0; i < 5000; ++i) bar.SetPos(i);  // below 1 % and 1 pixel
    QVERIFY(bar.RedrawRequests() - before <= 1);
  }

  // The inverted text: over the bar it uses the bar-text colour, elsewhere the other.
  void TextIsInvertedOverTheBar() {
    CTextProgressCtrl bar;
    bar.resize(200, 24);
    bar.SetBarColour(Qt::blue);
    bar.SetBgColour(Qt::white);
    bar.SetTextColours(Qt::white, Qt::blue);
    bar.SetRange(0, 100);
    bar.SetPos(50);
    QImage image = bar.grab().toImage();
    QCOMPARE(image.pixelColor(5, 12), QColor(Qt::blue));
    QCOMPARE(image.pixelColor(195, 12), QColor(Qt::white));
  }

  // A worker's reports arrive on the GUI thread; "sent" Range waits for the
  // dialog, Close hides it; the stop button only raises the flag.
  void WorkerReportsReachTheDialog() {
    CProgressDlg dialog;
    dialog.StartOperation(QStringLiteral("展开分区"), QStringLiteral("正在展开分区，请稍等..."));
    QVERIFY(dialog.isVisible());
    QCOMPARE(dialog.windowTitle(), QStringLiteral("展开分区"));
    QCOMPARE(dialog.CaptionText(), QStringLiteral("正在展开分区，请稍等..."));
    QSignalSpy closed(&dialog, &CProgressDlg::WorkerClosed);
    ScanProgress& progress = dialog.Progress();
    std::atomic<bool> rangeSeen{false};
    std::atomic<bool> go{false};
    std::thread worker([&] {
      progress.Range(40, 2);
      // Sent: the dialog has handled it when Range returns.
      rangeSeen = true;
      while (!go) std::this_thread::yield();
      for (int i = 0; i < 10; ++i) progress.Step();
      progress.SetText("7 项被找到");
      while (!progress.StopRequested()) std::this_thread::yield();
      progress.Close();
    });
    QTRY_VERIFY(rangeSeen.load());
    QCOMPARE(dialog.Bar()->GetUpper(), 40);
    go = true;
    QTRY_COMPARE(dialog.Bar()->GetPos(), 20);
    QTRY_COMPARE(dialog.ProgressTextShown(), QStringLiteral("7 项被找到"));
    QVERIFY(dialog.isVisible());
    QTest::mouseClick(dialog.StopButton(), Qt::LeftButton);
    QCOMPARE(progress.stopFlag.load(), 1);
    QTRY_COMPARE(closed.count(), 1);
    worker.join();
    QVERIFY(!dialog.isVisible());
    // The next operation starts with a clear stop flag.
    dialog.StartOperation(QStringLiteral("保存文件"), QStringLiteral("正在保存文件，请稍等..."));
    QCOMPARE(progress.stopFlag.load(), 0);
    QCOMPARE(dialog.Bar()->GetPos(), 0);
  }
};

QTEST_MAIN(ProgressTest)
#include "progress_test.moc"
