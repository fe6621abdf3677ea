#pragma once
// Running code on a window's thread from a worker. "Send" waits until the
// window handled it (the worker's data stays still meanwhile); "Post" queues.
#include <QMetaObject>
#include <QObject>
#include <QThread>
#include <utility>

namespace quorvel {

template <typename Fn>
void SendToWindow(QObject* window, Fn&& fn) {
  if (!window) return;
  if (QThread::currentThread() == window->thread())
    fn();
  else
    QMetaObject::invokeMethod(window, std::forward<Fn>(fn), Qt::BlockingQueuedConnection);
}

template <typename Fn>
void PostToWindow(QObject* window, Fn&& fn) {
  if (window) QMetaObject::invokeMethod(window, std::forward<Fn>(fn), Qt::QueuedConnection);
}

}  // namespace quorvel
