// The titles (or menus) of one VobGroup share one set of audio tracks, each track naming one
// stream by format and number. VOBs that number or format their sound differently leave some
// track without its stream in some of them, and it plays silent there.
#pragma once

#include "author/model.h"

namespace author {

// After the scan: warns, naming the files, for every VOB whose audio streams differ from those
// of the group's first VOB with sound. VOBs without sound are not compared.
void warn_on_audio_disagreement(const VobGroup& group);

}  // namespace author
