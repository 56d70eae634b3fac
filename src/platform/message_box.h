// Message boxes as a service: the user interface shows them, tests record them.
#pragma once

#include <string>

namespace platform {

// Style bits and answers keep their platform values, so stored call sites read the same.
constexpr unsigned MB_OK = 0x0;
constexpr unsigned MB_OKCANCEL = 0x1;
constexpr unsigned MB_YESNOCANCEL = 0x3;
constexpr unsigned MB_YESNO = 0x4;
constexpr unsigned MB_ICONERROR = 0x10;
constexpr unsigned MB_ICONQUESTION = 0x20;
constexpr unsigned MB_ICONWARNING = 0x30;
constexpr unsigned MB_ICONINFORMATION = 0x40;

constexpr int IDOK = 1;
constexpr int IDCANCEL = 2;
constexpr int IDYES = 6;
constexpr int IDNO = 7;

class MessageBoxService {
public:
    virtual ~MessageBoxService() = default;
    // Shows text under caption and returns the button chosen (IDOK, IDYES, ...).
    virtual int Show(const std::string& text, const std::string& caption, unsigned style) = 0;
};

// The process-wide service; without one, boxes go to standard error and answer IDOK.
void SetMessageBoxService(MessageBoxService* service);
int ShowMessageBox(const std::string& text, const std::string& caption, unsigned style);

}  // namespace platform
