// The objects our COM can create by class identifier.
#include "platform/com/class_table.h"
#include "platform/des/interfaces.h"
#include "platform/dshow/ffmpeg_source.h"
#include "platform/dshow/filter_graph.h"
#include "platform/dshow/interfaces.h"
#include "platform/dshow/media_det.h"
#include "platform/dshow/renderers.h"

namespace platform::com {

void RegisterBuiltInClasses() {
    using namespace platform::dshow;
    InstallBuiltInClass(CLSID_FilterGraph, CreateFilterGraph);
    InstallBuiltInClass(CLSID_FfmpegSource, CreateFfmpegSource);
    // One FFmpeg source reads every format, Windows Media files included.
    InstallBuiltInClass(CLSID_WMAsfReader, CreateFfmpegSource);
    InstallBuiltInClass(CLSID_ACMWrapper, CreateAudioConverter);
    InstallBuiltInClass(CLSID_NullRenderer, CreateNullRenderer);
    InstallBuiltInClass(CLSID_MediaDet, CreateMediaDet);
    platform::des::RegisterEditingServicesClasses();
}

}  // namespace platform::com
