#include "ui/message_boxes.h"

#include <QApplication>
#include <QMessageBox>
#include <QThread>

#include "ui/busy_cursor.h"

namespace ui {

namespace {

constexpr unsigned kButtonsMask = 0xF;
constexpr unsigned kIconMask = 0xF0;

QMessageBox::StandardButtons ButtonsFor(unsigned style) {
    switch (style & kButtonsMask) {
        case platform::MB_OKCANCEL: return QMessageBox::Ok | QMessageBox::Cancel;
        case platform::MB_YESNOCANCEL: return QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel;
        case platform::MB_YESNO: return QMessageBox::Yes | QMessageBox::No;
        default: return QMessageBox::Ok;
    }
}

QMessageBox::Icon IconFor(unsigned style) {
    switch (style & kIconMask) {
        case platform::MB_ICONERROR: return QMessageBox::Critical;
        case platform::MB_ICONQUESTION: return QMessageBox::Question;
        case platform::MB_ICONWARNING: return QMessageBox::Warning;
        case platform::MB_ICONINFORMATION: return QMessageBox::Information;
        default: return QMessageBox::NoIcon;
    }
}

int AnswerFor(int button) {
    switch (button) {
        case QMessageBox::Yes: return platform::IDYES;
        case QMessageBox::No: return platform::IDNO;
        case QMessageBox::Cancel: return platform::IDCANCEL;
        default: return platform::IDOK;
    }
}

int ShowOnThisThread(const std::string& text, const std::string& caption, unsigned style) {
    ScopedAnswerCursor pointer;
    QMessageBox box(IconFor(style), QString::fromStdString(caption), QString::fromStdString(text),
                    ButtonsFor(style), QApplication::activeWindow());
    return AnswerFor(box.exec());
}

}  // namespace

int QtMessageBoxService::Show(const std::string& text, const std::string& caption, unsigned style) {
    QCoreApplication* app = QCoreApplication::instance();
    if (app == nullptr) return platform::IDOK;
    if (QThread::currentThread() == app->thread()) return ShowOnThisThread(text, caption, style);
    int answer = platform::IDOK;
    QMetaObject::invokeMethod(
        app, [&] { answer = ShowOnThisThread(text, caption, style); },
        Qt::BlockingQueuedConnection);
    return answer;
}

}  // namespace ui
