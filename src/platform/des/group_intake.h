// What reached a timeline group from its clip's source: the pictures or the sound the file
// really gave, as opposed to the held pictures, black and silence the group fills its range
// with. A group's output pin answers the interface, so whoever holds the pin can ask.
#pragma once

#include <cstdint>

#include "platform/dshow/interfaces.h"

namespace platform::des {

struct GroupIntake {
    int64_t units = 0;                // pictures shown, or sample frames of sound
    dshow::REFERENCE_TIME until = 0;  // how far into the clip the last of them reaches
};

struct IGroupIntake : com::IUnknown {
    static constexpr com::GUID kIid = com::MakeGuid("389cb58f-bef4-4a85-a59b-5a75c1ed8ff1");
    // What the current or last run took in; counted afresh each time the group starts.
    virtual com::HRESULT GetIntake(GroupIntake* intake) = 0;
};

}  // namespace platform::des
