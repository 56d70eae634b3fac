#include "platform/message_box.h"

#include <atomic>
#include <cstdio>

namespace platform {

namespace {
std::atomic<MessageBoxService*> g_service{nullptr};
}

void SetMessageBoxService(MessageBoxService* service) { g_service = service; }

int ShowMessageBox(const std::string& text, const std::string& caption, unsigned style) {
    if (MessageBoxService* service = g_service.load()) return service->Show(text, caption, style);
    std::fprintf(stderr, "%s: %s\n", caption.c_str(), text.c_str());
    return IDOK;
}

}  // namespace platform
