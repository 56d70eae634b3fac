// Tells the user that the application is working: reading a long recording whole (to measure
// it and find its clock's jumps) can take from seconds to minutes, and a window that shows
// nothing meanwhile looks hung.
#pragma once

#include <QObject>
#include <QTimer>

namespace ui {

// How long work runs before the cursor says so: quicker work would only make it flicker.
constexpr int kBusyCursorDelayMs = 250;

// For work that runs off the window's thread (the window stays usable): the busy cursor, an
// arrow with a wait sign, from a moment after the first piece of work begins until the last
// one ends. Begin and End come in pairs, on the window's thread.
class BusyIndicator : public QObject {
public:
    explicit BusyIndicator(QObject* parent = nullptr, int delayMs = kBusyCursorDelayMs);
    ~BusyIndicator() override;
    BusyIndicator(const BusyIndicator&) = delete;
    BusyIndicator& operator=(const BusyIndicator&) = delete;

    void Begin();
    void End();
    bool CursorShown() const { return cursorShown_; }

private:
    void ShowCursor();

    QTimer delay_;
    int running_ = 0;
    bool cursorShown_ = false;
};

// For work done on the window's thread before it answers again: the wait cursor while the
// object lives.
class ScopedWaitCursor {
public:
    ScopedWaitCursor();
    ~ScopedWaitCursor();
    ScopedWaitCursor(const ScopedWaitCursor&) = delete;
    ScopedWaitCursor& operator=(const ScopedWaitCursor&) = delete;
};

// For a question asked in the middle of such work: the plain arrow over the box while the
// object lives, when a busy or wait cursor is showing.
class ScopedAnswerCursor {
public:
    ScopedAnswerCursor();
    ~ScopedAnswerCursor();
    ScopedAnswerCursor(const ScopedAnswerCursor&) = delete;
    ScopedAnswerCursor& operator=(const ScopedAnswerCursor&) = delete;

private:
    bool overridden_ = false;
};

}  // namespace ui
