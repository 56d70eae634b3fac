#include "ui/busy_cursor.h"

#include <QApplication>
#include <QCursor>

namespace ui {

BusyIndicator::BusyIndicator(QObject* parent, int delayMs) : QObject(parent) {
    delay_.setSingleShot(true);
    delay_.setInterval(delayMs);
    connect(&delay_, &QTimer::timeout, this, &BusyIndicator::ShowCursor);
}

BusyIndicator::~BusyIndicator() {
    if (cursorShown_) QApplication::restoreOverrideCursor();
}

void BusyIndicator::Begin() {
    if (running_++ == 0) delay_.start();
}

void BusyIndicator::End() {
    if (running_ == 0 || --running_ > 0) return;
    delay_.stop();
    if (cursorShown_) QApplication::restoreOverrideCursor();
    cursorShown_ = false;
}

void BusyIndicator::ShowCursor() {
    if (running_ == 0 || cursorShown_) return;
    QApplication::setOverrideCursor(Qt::BusyCursor);
    cursorShown_ = true;
}

ScopedWaitCursor::ScopedWaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }

ScopedWaitCursor::~ScopedWaitCursor() { QApplication::restoreOverrideCursor(); }

ScopedAnswerCursor::ScopedAnswerCursor() : overridden_(QApplication::overrideCursor() != nullptr) {
    if (overridden_) QApplication::setOverrideCursor(Qt::ArrowCursor);
}

ScopedAnswerCursor::~ScopedAnswerCursor() {
    if (overridden_) QApplication::restoreOverrideCursor();
}

}  // namespace ui
